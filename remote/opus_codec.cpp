#include "remote/opus_codec.h"

#include <opus/opus.h>

#include "core/works.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;

void createOpus(Works& works) {
  RemoteState& remote = works.remote;
  int err = 0;
  remote.opusEncoder = opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, &err);
  if (err != OPUS_OK || remote.opusEncoder == nullptr) {
    logError("failed to create an encoder: %s", opus_strerror(err));
    remote.opusBitrate = 0;
  } else if (const int rc =
                 opus_encoder_ctl(remote.opusEncoder, OPUS_SET_BITRATE(remote.opusBitrate.load()));
             rc != OPUS_OK) {
    logError("failed to set bitrate: %s", opus_strerror(rc));
  }
  remote.opusDecoder = opus_decoder_create(48000, 2, &err);
  if (err != OPUS_OK || remote.opusDecoder == nullptr) {
    logError("failed to create decoder: %s", opus_strerror(err));
    works.set.AudioCompress = 0;
  }
}

void destroyOpus(Works& works) {
  RemoteState& remote = works.remote;
  if (remote.opusEncoder != nullptr) opus_encoder_destroy(remote.opusEncoder);
  if (remote.opusDecoder != nullptr) opus_decoder_destroy(remote.opusDecoder);
  remote.opusEncoder = nullptr;
  remote.opusDecoder = nullptr;
}

}  // namespace corvid
