// Whether a remote client is with the controller, as its log tells it: the server logs
// "Connected by ADDRESS" when a client connects, "required >P< equals to >P<" when its
// password is accepted and "TCP closed" when it has gone (also after a refused password).
// The bench reads the controller's standard error line by line (the system log's copy
// puts the program's name before each message) and keeps the last state; the web view
// shows it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace corvid::bench {

enum class RemoteClient { None, Connected, LoggedIn };

struct RemoteClientState {
  RemoteClient client = RemoteClient::None;
  std::string address;  // the client's, while one is there
  bool operator==(const RemoteClientState&) const = default;
};

// "none", "connected (ADDRESS)", "logged in (ADDRESS)".
std::string describe(const RemoteClientState& state);

// What one whole log line changes, given the state before it; empty for a line that
// changes nothing.
std::optional<RemoteClientState> remoteClientAfter(const RemoteClientState& before,
                                                   std::string_view line);

// The last state seen in the lines fed to it. Safe to use from any thread.
class RemoteClientWatch {
 public:
  void feed(std::string_view line);
  RemoteClientState state() const;
  std::string text() const { return describe(state()); }
  // How many changes have been seen.
  uint64_t changes() const;

 private:
  mutable std::mutex mutex_;
  RemoteClientState state_;
  uint64_t changes_ = 0;
};

}  // namespace corvid::bench
