// The remote server thread and its senders.
#include "remote/ws_server.h"

#include <glib.h>
#include <openssl/evp.h>
#include <opus/opus.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "remote/cat_link.h"
#include "remote/remote_commands.h"
#include "trx/trx.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

namespace {

constexpr const char* kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr uint8_t kText = 0x81;
constexpr uint8_t kBinary = 0x82;
constexpr size_t kSpectrumPiece = 512;
constexpr int kReceiveTimeoutMs = 12000;
constexpr int kPollMs = 100;  // how often a wait looks at the shutdown
constexpr int kLockTries = 10;
constexpr size_t kCatCopy = 200;  // the "CA" and command copies
// A client that does not take a frame within this time is treated as gone: the senders
// run in the display loop and the links, which must never stall on a slow peer.
constexpr int kWriteTimeoutMs = 200;

constexpr std::array<const char*, 7> kHeaders = {
    "GET ",
    "Host: ",
    "Sec-WebSocket-Version: ",
    "Sec-WebSocket-Protocol: ",
    "Sec-WebSocket-Key: ",
    "Connection: keep-alive, Upgrade",
    "Upgrade: websocket",
};

bool serverRunning(const Works& works) {
  return works.core.running.load() != 0 && works.set.text.on(Slot::WebSocket);
}

uint32_t bigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
void putBigEndian32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The write lock, tried 10 times 1 ms apart.
class SendLock {
 public:
  explicit SendLock(std::mutex& mutex) : lock_(mutex, std::defer_lock) {
    for (tries_ = 1; tries_ <= kLockTries; ++tries_) {
      if (lock_.try_lock()) return;
      platform::sleepMs(1);
    }
  }
  bool owns() const { return lock_.owns_lock(); }
  int tries() const { return tries_; }

 private:
  std::unique_lock<std::mutex> lock_;
  int tries_ = 0;
};

enum class Sent { Whole, Dropped, Failed };

// One frame to the client under the write lock. A client that takes only part of it is
// cut off: the stream would be out of step from there on.
Sent sendFrame(Works& works, std::span<const uint8_t> frame, const char* who) {
  RemoteState& remote = works.remote;
  // The pause before every frame: real-time threads give way to a slow client first.
  std::this_thread::sleep_for(std::chrono::microseconds(10));
  SendLock lock(remote.wsMutex);
  if (!lock.owns()) {
    if (std::strlen(who) > 1) {
      logError("%s %d %d", who, EBUSY, lock.tries());  // "hebframe", "cfgframe"
    } else {
      logError("mutex cannot be locked %s", who);
    }
    ++remote.wsFramesDropped;
    return Sent::Dropped;
  }
  platform::TcpSocket* client = remote.wsClient;
  if (client == nullptr) return Sent::Dropped;
  const long written = client->writeWithin(frame, kWriteTimeoutMs);
  if (written == static_cast<long>(frame.size())) {
    ++remote.wsFramesSent;
    return Sent::Whole;
  }
  ++remote.wsFramesDropped;
  if (written >= 0 || written == -ETIMEDOUT) {
    logError("client too slow: %ld of %zu bytes taken, connection cut", std::max(written, 0L),
             frame.size());
    client->shutdown();
  }
  return Sent::Failed;
}

bool ready(const Works& works) {
  return works.remote.wsClientReady.load() == 1;
}

}  // namespace

// ---- the protocol ----

std::string webSocketAccept(std::string_view key) {
  const std::string text = std::string(key) + kGuid;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1) {
    return {};
  }
  // The digest as bytes with a length: a zero byte inside it is part of it.
  gchar* encoded = g_base64_encode(digest.data(), length);
  std::string accept = encoded != nullptr ? encoded : "";
  g_free(encoded);
  return accept;
}

void takeHandshakeLine(HandshakeState& state, std::string_view line) {
  for (const char* header : kHeaders) {
    const std::string_view h(header);
    if (line.substr(0, h.size()) != h) continue;
    ++state.step;
    trace("Caught %s go to status %d/%d\n", header, state.step, 7);
    if (h == "Sec-WebSocket-Key: ") {
      std::string key(line.substr(h.size()));
      for (int i = 0; i < 2; ++i) {
        if (!key.empty() && (key.back() == '\r' || key.back() == '\n')) key.pop_back();
      }
      state.key = key;
      logInfo("Caught key %s", state.key.c_str());
    }
  }
  if (line.size() < 3) {
    ++state.step;
    trace("status advanced %d\n", state.step);
  }
}

std::vector<std::string> handshakeResponse(std::string_view key) {
  return {"HTTP/1.1 101 Switching Protocols\r\n", "Upgrade: websocket\r\n",
          "Connection: Upgrade\r\n", "Sec-WebSocket-Accept: " + webSocketAccept(key) + "\r\n",
          "Sec-WebSocket-Protocol: chat\r\n\r\n"};
}

std::vector<uint8_t> shortFrame(std::string_view tag, std::span<const uint8_t> data) {
  std::vector<uint8_t> frame;
  const size_t n = data.size() + 2;
  frame.push_back(kBinary);
  if (n <= 125) {
    frame.push_back(static_cast<uint8_t>(n));
  } else {
    frame.push_back(126);
    frame.push_back(static_cast<uint8_t>(n >> 8));
    frame.push_back(static_cast<uint8_t>(n));
  }
  frame.insert(frame.end(), tag.begin(), tag.end());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

std::vector<uint8_t> spectrumPiece(std::span<const uint8_t> spectrum, uint32_t offset) {
  std::vector<uint8_t> frame = {kBinary, 126, 0x02, 0x0A, 'S', 'P'};  // 522
  putBigEndian32(frame, static_cast<uint32_t>(spectrum.size()));
  putBigEndian32(frame, offset);
  for (size_t i = 0; i < kSpectrumPiece; ++i) {
    const size_t at = size_t{offset} + i;
    frame.push_back(at < spectrum.size() ? spectrum[at] : 0);
  }
  return frame;
}

std::vector<uint8_t> audioFrame(std::span<const uint8_t> audio) {
  const size_t n = audio.size() + 2;
  std::vector<uint8_t> frame = {kBinary, 126, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n),
                                'S',     'O'};
  frame.insert(frame.end(), audio.begin(), audio.end());
  return frame;
}

std::optional<FrameHeader> frameHeader(std::span<const uint8_t> first) {
  if (first.size() < 4) return std::nullopt;
  FrameHeader h;
  h.type = first[0];
  const uint8_t code = first[1];
  if (code <= 125) {
    h.form = FrameForm::Short;
    h.length = code;
    if (h.type == kText) {
      h.payloadStart = 6;  // after the masking key
      h.frameBytes = size_t{code} + 6;
    } else {
      if (code < 2) return std::nullopt;  // shorter than the 4 bytes already read
      h.frameBytes = size_t{code} + 2;
    }
  } else if (code == 126) {
    h.form = FrameForm::Long16;
    h.length = (uint32_t{first[2]} << 8) | first[3];
    h.payloadStart = 4;
    h.frameBytes = size_t{h.length} + 4;
  } else {
    if (first.size() < 6) return std::nullopt;
    h.form = FrameForm::Long32;
    h.length = bigEndian32(&first[2]);
    if (h.length < 2) return std::nullopt;
    // Checked before the sum: on the unit's 32-bit size_t a length near 4 GB plus the
    // header would wrap round to a few bytes and pass.
    if (h.length > kReceiveBuffer - 4) return std::nullopt;
    h.headerBytes = 6;
    h.payloadStart = 6;
    h.frameBytes = size_t{h.length} + 4;
  }
  if (h.frameBytes > kReceiveBuffer) return std::nullopt;
  return h;
}

bool sameSecret(std::string_view a, std::string_view b) {
  const size_t n = std::max(a.size(), b.size());
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    diff |= static_cast<unsigned>(x ^ y);
  }
  return diff == 0;
}

// ---- senders ----

void sendWebSockSerSpectrFrame(Works& works, std::span<const uint8_t> spectrum) {
  if (!ready(works)) return;
  for (size_t offset = 0; offset < spectrum.size(); offset += kSpectrumPiece) {
    const std::vector<uint8_t> piece = spectrumPiece(spectrum, static_cast<uint32_t>(offset));
    if (sendFrame(works, piece, "a") == Sent::Failed) return;  // the rest of it would not go
  }
}

namespace {
void sendTagged(Works& works, const char* tag, std::span<const uint8_t> data, const char* who) {
  if (!ready(works)) return;
  sendFrame(works, shortFrame(tag, data), who);
}
}  // namespace

void sendWebSockSerParFrame(Works& works, std::span<const uint8_t> data) {
  sendTagged(works, "PA", data, "c");
}
void sendWebSockStatusFrame(Works& works, std::span<const uint8_t> data) {
  sendTagged(works, "ST", data, "d");
}
void sendWebSockCatFrame(Works& works, std::span<const uint8_t> data) {
  sendTagged(works, "CA", data, "e");
}

void sendWebSockAudioFrame(Works& works, std::span<const int16_t> samples) {
  if (!ready(works)) return;
  RemoteState& remote = works.remote;
  const size_t rawBytes = samples.size() * sizeof(int16_t);
  std::vector<uint8_t> audio(rawBytes);
  if (remote.opusBitrate.load() != 0 && remote.opusEncoder != nullptr) {
    const int frames = static_cast<int>(samples.size() / 2);
    std::scoped_lock lock(remote.opusEncoderMutex);
    const opus_int32 n = opus_encode(remote.opusEncoder, samples.data(), frames, audio.data(),
                                     static_cast<opus_int32>(audio.size()));
    if (n < 0) {
      std::fprintf(stderr, "encode failed: %s\n", opus_strerror(n));
      return;
    }
    audio.resize(static_cast<size_t>(n));
  } else {
    for (size_t i = 0; i < samples.size(); ++i) {
      const auto v = static_cast<uint16_t>(samples[i]);
      audio[2 * i] = static_cast<uint8_t>(v);
      audio[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  const std::vector<uint8_t> frame = audioFrame(audio);
  if (sendFrame(works, frame, "h") == Sent::Failed) {
    logError("rc(%d) != length+6(%d)", -1, static_cast<int>(frame.size()));
  }
}

void sendWebSockHebFrame(Works& works, std::span<const uint8_t, 8> data) {
  if (!ready(works) || works.remote.wsClientFD.load() == 0) return;
  timeval now{};
  gettimeofday(&now, nullptr);
  std::vector<uint8_t> frame = {kBinary, 18, 'H', 'B'};
  putBigEndian32(frame, static_cast<uint32_t>(now.tv_sec));
  putBigEndian32(frame, static_cast<uint32_t>(now.tv_usec));
  frame.insert(frame.end(), data.begin(), data.end());
  sendFrame(works, frame, "hebframe");
}

void sendWebSockCfgFrame(Works& works, std::span<const uint8_t> data) {
  if (!ready(works) || works.remote.wsClientFD.load() == 0) return;
  sendFrame(works, shortFrame("CF", data), "cfgframe");
}

void resetRemotePlayback(Works& works) {
  RemoteState& remote = works.remote;
  remote.playPrebuffer = -remote.bufferChunks.load();
  remote.playWriteSlot = 0;
  remote.playReadSlot = 0;
  remote.playStart = 0;
}

// ---- the server ----

namespace {

// The client's socket with what the handshake read past its last line.
class ClientReader {
 public:
  ClientReader(Works& works, platform::TcpSocket& socket) : works_(works), socket_(socket) {}

  // Exactly buffer.size() bytes: the count, 0 when the client closed, -EAGAIN after 12 s
  // without a byte, -ECANCELED at shutdown, or -errno.
  long readExact(std::span<uint8_t> buffer) {
    size_t done = 0;
    int idleMs = 0;
    while (done < buffer.size()) {
      if (!serverRunning(works_)) return -ECANCELED;
      const long n = socket_.read(buffer.subspan(done), kPollMs);
      if (n == -EPIPE) return 0;
      if (n < 0) return n;
      if (n == 0) {
        idleMs += kPollMs;
        if (idleMs >= kReceiveTimeoutMs) return -EAGAIN;
        continue;
      }
      idleMs = 0;
      done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
  }

  // One request line of up to 1024 bytes (with its '\n'); false when the client closed,
  // went silent or failed (then error says how).
  bool readLine(std::string& line, long& error) {
    line.clear();
    uint8_t byte = 0;
    while (line.size() < kReceiveBuffer) {
      const long n = readExact({&byte, 1});
      if (n <= 0) {
        error = n;
        return false;
      }
      line += static_cast<char>(byte);
      if (byte == '\n') break;
    }
    return true;
  }

 private:
  Works& works_;
  platform::TcpSocket& socket_;
};

bool handshake(ClientReader& reader, platform::TcpSocket& socket) {
  HandshakeState state;
  while (!state.complete()) {
    platform::sleepMs(10);
    const auto start = std::chrono::steady_clock::now();
    std::string line;
    long error = 0;
    if (!reader.readLine(line, error)) {
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      // The end of the stream ends the handshake too: a client that left sends nothing more.
      const int code = error == 0 ? 0 : static_cast<int>(-error);
      logError("TCP read error %d", code);
      trace("time= %f mSec rc=%ld errno=%d\n", ms, error == 0 ? 0L : -1L, code);
      return false;
    }
    logInfo("Received %zu bytes %s", line.size(), line.c_str());
    takeHandshakeLine(state, line);
  }
  for (const std::string& text : handshakeResponse(state.key)) {
    const long sent = socket.writeWithin(
        {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, kReceiveTimeoutMs);
    logInfo("sent %ld bytes error %d", sent, sent < 0 ? static_cast<int>(-sent) : 0);
    logInfo("%s", text.c_str());
    if (sent != static_cast<long>(text.size())) return false;
  }
  return true;
}

void restartPlayback(Works& works) {
  RemoteState& remote = works.remote;
  remote.playPrebuffer = -remote.bufferChunks.load();
  remote.playWriteSlot = 0;
  remote.playReadSlot = 0;
}

// A client's audio into the next playback slot.
void takeAudio(Works& works, std::span<const uint8_t> audio) {
  RemoteState& remote = works.remote;
  if (works.set.text.flag(Slot::EnableWrite) != '1' || remote.playbackReady.load() == 0) return;
  PexParams pex;
  if (!getParameters(pex, works) || pex.audioGate != 1) return;
  const int slot = std::clamp(remote.playWriteSlot.load(), 0, kPlayRingSlots - 1);
  const size_t chunkBytes = playChunkBytes(remote);
  std::array<uint8_t, kPlaySlotBytes> out{};
  if (works.set.AudioCompress.load() == 0) {
    const size_t n = std::min(audio.size(), chunkBytes);
    std::copy_n(audio.begin(), n, out.begin());
  } else {
    std::array<int16_t, kPlaySlotBytes / 2> pcm{};
    const int frames = static_cast<int>(chunkBytes / 4);
    const int decoded =
        remote.opusDecoder == nullptr
            ? -1
            : opus_decode(remote.opusDecoder, audio.data(), static_cast<opus_int32>(audio.size()),
                          pcm.data(), frames, 0);
    if (decoded > 0) {
      for (size_t i = 0; i < static_cast<size_t>(decoded) * 2 && 2 * i + 1 < chunkBytes; ++i) {
        const auto v = static_cast<uint16_t>(pcm[i]);
        out[2 * i] = static_cast<uint8_t>(v);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
    }
  }
  {
    std::scoped_lock lock(remote.playRingMutex);
    std::copy_n(out.begin(), chunkBytes,
                remote.playRing->begin() + static_cast<std::ptrdiff_t>(slot * chunkBytes));
  }
  if (remote.playbackReady.load() != 0) {
    if (remote.playPrebuffer.load() < 0) {
      remote.playReadSlot = 0;
      ++remote.playPrebuffer;
    } else {
      remote.playStart = 1;
    }
  }
  remote.playWriteSlot = (slot + 1) % kPlayRingSlots;
}

// "CF": five big-endian numbers from data byte 2 on.
void takeConfiguration(Works& works, std::span<const uint8_t> data) {
  if (data.size() < 22) {
    logError("CF message of %zu bytes: 22 expected", data.size());
    return;
  }
  RemoteState& remote = works.remote;
  const auto value = [&](size_t i) { return static_cast<int32_t>(bigEndian32(&data[2 + 4 * i])); };
  const int32_t bitrate = value(0);
  works.set.AudioCompress = value(1);
  remote.opusBitrate = bitrate;
  if (remote.opusEncoder != nullptr) {
    std::scoped_lock lock(remote.opusEncoderMutex);
    const int rc = opus_encoder_ctl(remote.opusEncoder, OPUS_SET_BITRATE(bitrate));
    if (rc != OPUS_OK) logError("failed to set bitrate: %s", opus_strerror(rc));
  }
  remote.captureChunkSamples = static_cast<int>(static_cast<int64_t>(value(2)) * 120 / 2500);
  remote.playChunkSamples = static_cast<int>(static_cast<int64_t>(value(3)) * 120 / 2500);
  const int32_t chunks = value(4);
  const int previous = remote.bufferChunks.load();
  if (chunks != previous) {
    remote.audioRestart = 1;
    // The login restarted the ring with the previous client's number, before this
    // message could say this client's: a pre-buffer still filling counts to the new one
    // (else playback starts that many chunks short, and the first wrap's fill check
    // makes up the difference with a dropout).
    if (remote.playStart.load() == 0) {
      const int64_t pending = int64_t{remote.playPrebuffer.load()} - (int64_t{chunks} - previous);
      remote.playPrebuffer = static_cast<int>(std::clamp<int64_t>(pending, -kPlayRingSlots, 0));
    }
  }
  remote.bufferChunks = chunks;
  sendWebSockCfgFrame(works, data.first(18));
}

enum class Next { Read, Exit };

// One frame in the buffer: what it asks for.
Next dispatch(Works& works, const FrameHeader& h, std::span<uint8_t> frame, int& isFirst) {
  RemoteState& remote = works.remote;
  const std::span<uint8_t> payload = frame.subspan(h.payloadStart, frame.size() - h.payloadStart);
  if (h.type == kText && h.form == FrameForm::Short) {
    for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= frame[2 + i % 4];
    const std::string text(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (isFirst == 1) {
      isFirst = 2;
      const std::string password = works.set.Passphrase.get();
      if (!sameSecret(text, password)) {
        logError("required >%s< differ from >%s<", password.c_str(), text.c_str());
        remote.wsClientFD = 0;
        return Next::Exit;
      }
      logInfo("required >%s< equals to >%s<", password.c_str(), text.c_str());
      remote.wsClientReady = 1;
      platform::sleepMs(1);
      restartPlayback(works);
      logInfo("Receiving data");
    }
    // Later "XY" texts carry two numbers the amplifier has no use for.
    return Next::Read;
  }
  if (h.type == kBinary && h.form != FrameForm::Long32 && payload.size() >= 2) {
    // Nothing of an unknown client reaches the transceiver or the amplifier.
    if (remote.wsClientReady.load() != 1) {
      logError("message before the password: ignored");
      return Next::Read;
    }
    const std::string_view tag(reinterpret_cast<const char*>(payload.data()), 2);
    const std::span<const uint8_t> data = payload.subspan(2);
    if (h.form == FrameForm::Short) {
      if (tag == "CA") {
        std::array<uint8_t, kCatCopy> copy{};
        const size_t n = std::min(data.size(), copy.size());
        std::copy_n(data.begin(), n, copy.begin());
        if (n >= 3 && std::memcmp(copy.data(), "XX;", 3) == 0) return Next::Read;
        // Without an open CAT port (local operation) there is nothing to write to.
        if (const long rc = writeCat(works, {copy.data(), n}); rc < 0 && rc != -ENODEV) {
          logError("TCP read Error 7a %d", static_cast<int>(-rc));
          ExitCAT(works);
        }
        return Next::Read;
      }
      if (tag == "ST") {
        std::array<char, kCatCopy> command{};
        const size_t n = std::min(data.size(), command.size() - 1);  // always terminated
        std::copy_n(data.begin(), n, command.begin());
        dispStat(works, std::string_view(command.data(), n));
        return Next::Read;
      }
      if (tag == "HB") {
        std::array<uint8_t, 8> beat{};
        std::copy_n(data.begin(), std::min<size_t>(data.size(), 8), beat.begin());
        sendWebSockHebFrame(works, beat);
        return Next::Read;
      }
      if (tag == "CF") {
        takeConfiguration(works, data);
        return Next::Read;
      }
      if (tag == "SC" || tag == "PA") {
        if (tag == "PA") {
          std::fprintf(stderr, "S BUFFER WEB SERVER : %.*s\n", static_cast<int>(data.size()),
                       reinterpret_cast<const char*>(data.data()));
        }
        if (const long rc = writeExtIo(works, data); rc < 0 && rc != -ENODEV) {
          logError(tag == "SC" ? "TCP read Error 7a %d" : "TCP read Error 8a %d",
                   static_cast<int>(-rc));
          return Next::Exit;
        }
        return Next::Read;
      }
      return Next::Read;  // another tag: nothing to do
    }
    if (tag == "SO") takeAudio(works, data);
    return Next::Read;  // "SP" from a client means nothing
  }
  logError("wrong message type: %x", h.type);
  return Next::Read;
}

// Reads and handles the client's frames until it goes, fails or sends what ends it.
void serve(Works& works, ClientReader& reader) {
  int isFirst = 1;
  std::array<uint8_t, kReceiveBuffer> buffer{};
  while (true) {
    const auto start = std::chrono::steady_clock::now();
    long n = reader.readExact({buffer.data(), 4});
    if (n > 0 && buffer[1] >= 127) n = reader.readExact({buffer.data() + 4, 2});
    if (n <= 0) {
      const int code = n == 0 ? 0 : static_cast<int>(-n);
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      logError("TCP read Error 1a %d", code);
      trace("time= %f mSec rc=%ld errno=%d\n", ms, n, code);
      logError("TCP read Error 2a %d", code);
      return;
    }
    const size_t got = buffer[1] >= 127 ? 6 : 4;
    const std::optional<FrameHeader> h = frameHeader({buffer.data(), got});
    if (!h) {
      logError("frame refused: its length code %u does not fit %zu bytes", unsigned{buffer[1]},
               kReceiveBuffer);
      return;
    }
    if (h->frameBytes > got) {
      n = reader.readExact({buffer.data() + got, h->frameBytes - got});
      if (n <= 0) {
        logError("TCP read Error 6a %d", n == 0 ? 0 : static_cast<int>(-n));
        return;
      }
    }
    if (dispatch(works, *h, {buffer.data(), h->frameBytes}, isFirst) == Next::Exit) return;
  }
}

}  // namespace

void Wsocket(Works& works) {
  RemoteState& remote = works.remote;
  const int port = works.set.TcpPort.load();
  logInfo("Wsocket on port %d mode %c", port, works.set.text.flag(Slot::WebSocket));
  for (int i = 0; i < 20 && serverRunning(works); ++i) platform::sleepMs(100);
  platform::ListenStep step = platform::ListenStep::none;
  auto listener = platform::TcpListener::listen(static_cast<uint16_t>(port), 1,
                                                platform::ListenAddress::any, &step);
  if (!listener.ok()) {
    const char* what = step == platform::ListenStep::bind     ? "Binding error %d"
                       : step == platform::ListenStep::listen ? "Listening error %d"
                                                              : "Socket open error %d";
    logError(what, listener.error());
    return;
  }
  logInfo("Listening on port %d", port);
  while (serverRunning(works)) {
    remote.wsClientReady = 0;
    remote.playStart = 0;
    auto accepted = listener->accept(kPollMs * 5);
    if (!accepted.ok()) {
      if (accepted.error() == ETIMEDOUT) continue;
      logError("Accept-ing error %d", accepted.error());
      return;
    }
    platform::TcpSocket& socket = accepted.value();
    socket.setReceiveTimeout(kReceiveTimeoutMs);
    const auto peer = socket.peerAddress();
    if (!peer.ok()) {
      logError("inet_ntoa error %d", peer.error());
      return;
    }
    logInfo("Connected by %s", peer.value().c_str());
    ClientReader reader(works, socket);
    if (!handshake(reader, socket)) {
      std::printf("TCP read error 1b %d\n", errno);
      std::fflush(stdout);
      platform::sleepMs(1000);
      continue;
    }
    {
      std::scoped_lock lock(remote.wsMutex);
      remote.wsClient = &socket;
      remote.wsClientFD = socket.fd();
    }
    serve(works, reader);
    logInfo("TCP exiting");
    remote.wsClientReady = 0;
    {
      std::scoped_lock lock(remote.wsMutex);
      remote.wsClient = nullptr;
      remote.wsClientFD = 0;
    }
    logInfo("TCP closed");
    // The transceiver must not go on transmitting for a client that has gone.
    // Without an open CAT port (local operation) nobody is to be told; the server goes on.
    static constexpr uint8_t kReceive[] = {'R', 'X', ';'};
    if (const long rc = writeCat(works, kReceive); rc < 0 && rc != -ENODEV) {
      logError("TCP CAT RX error %d", static_cast<int>(-rc));
      ExitCAT(works);
      return;
    }
  }
}

}  // namespace corvid
