// One run of the remote client: the command line, the connection, the login, and the loop
// that prints the amplifier's status, relays CAT lines and counts frames. The program's
// main only hands it its arguments and streams, so tests run it in-process.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "client/client_audio.h"
#include "client/remote_protocol.h"

namespace corvid::client {

// The program's exit status.
enum class ExitCode : int {
  ok = 0,
  usage = 1,            // bad command line, or a local file that cannot be written
  noConnection = 2,     // refused, unreachable, or no answer within the connect timeout
  passwordRefused = 3,  // the server closed the link after the password, before any frame
  connectionLost = 4,   // the link closed or failed after the login
  handshakeFailed = 5,  // the upgrade answer was missing or wrong
  brokenStream = 6,     // a frame whose length cannot be told: the stream is lost
};

struct ClientOptions {
  std::string host;  // dotted IPv4
  uint16_t port = kDefaultPort;
  std::string password;
  bool once = false;
  int count = 0;  // status blocks to print before leaving; 0: no limit
  std::vector<std::string> sendWords;
  bool cat = false;
  std::string spectrumPath;
  std::string spectrumDataPath;  // the last spectrum's bytes as they came
  double forSeconds = 0;  // 0: no limit
  bool stats = false;
  bool verbose = false;
  // Audio: the amplifier's receive audio into a WAV file, a WAV file as the client's
  // audio, and the "CF" sent after the login when either is asked for.
  std::string audioOutPath;
  std::string audioInPath;
  std::string audioInAxisPath;  // where the input's time axis goes (its sample 0's due time)
  bool audioInOnce = false;
  int audioJitterMs = 0;
  AudioConfig audio;
  bool wantsAudio() const { return !audioOutPath.empty() || !audioInPath.empty(); }
};

struct ParsedArguments {
  std::optional<ClientOptions> options;  // empty: error (or help) says why
  std::string error;
  bool help = false;
};
// The arguments after the program name.
ParsedArguments parseArguments(std::span<const std::string> arguments);
std::string usageText();

struct ClientStreams {
  std::ostream& out;                        // status blocks, CAT replies, the frame summary
  std::ostream& err;                        // errors and, with --verbose, the frame log
  int inputFd = 0;                          // the CAT lines of --cat
  const std::atomic<bool>* stop = nullptr;  // set (by a signal handler): leave as for --for
};

int runClient(const ClientOptions& options, ClientStreams streams);
// parseArguments, then runClient; the usage text for errors and --help.
int runRemote(std::span<const std::string> arguments, ClientStreams streams);

}  // namespace corvid::client
