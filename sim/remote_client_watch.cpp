#include "sim/remote_client_watch.h"

#include <algorithm>

namespace corvid::bench {

namespace {

constexpr std::string_view kConnected = "Connected by ";
constexpr std::string_view kAccepted = "required >";
constexpr std::string_view kAcceptedMiddle = "< equals to >";
constexpr std::string_view kClosed = "TCP closed";
// An IPv4 or IPv6 address in text; anything longer or else is not shown as it came.
constexpr size_t kLongestAddress = 45;

std::string_view withoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

std::string addressOf(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  const bool plain = !text.empty() && text.size() <= kLongestAddress &&
                     std::all_of(text.begin(), text.end(), [](char c) {
                       return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                              (c >= 'A' && c <= 'F') || c == '.' || c == ':';
                     });
  return plain ? std::string(text) : std::string("?");
}

}  // namespace

std::string describe(const RemoteClientState& state) {
  switch (state.client) {
    case RemoteClient::None:
      return "none";
    case RemoteClient::Connected:
      return "connected (" + state.address + ")";
    case RemoteClient::LoggedIn:
      return "logged in (" + state.address + ")";
  }
  return "none";
}

std::optional<RemoteClientState> remoteClientAfter(const RemoteClientState& before,
                                                   std::string_view line) {
  line = withoutLineEnd(line);
  if (const size_t at = line.find(kConnected); at != std::string_view::npos) {
    return RemoteClientState{RemoteClient::Connected,
                             addressOf(line.substr(at + kConnected.size()))};
  }
  if (const size_t at = line.find(kAccepted);
      at != std::string_view::npos && line.find(kAcceptedMiddle, at) != std::string_view::npos &&
      line.ends_with('<')) {
    // Only a client that has connected can give its password.
    if (before.client == RemoteClient::None) return std::nullopt;
    return RemoteClientState{RemoteClient::LoggedIn, before.address};
  }
  if (line.ends_with(kClosed)) return RemoteClientState{};
  return std::nullopt;
}

void RemoteClientWatch::feed(std::string_view line) {
  std::scoped_lock lock(mutex_);
  if (std::optional<RemoteClientState> next = remoteClientAfter(state_, line)) {
    state_ = std::move(*next);
    ++changes_;
  }
}

RemoteClientState RemoteClientWatch::state() const {
  std::scoped_lock lock(mutex_);
  return state_;
}

uint64_t RemoteClientWatch::changes() const {
  std::scoped_lock lock(mutex_);
  return changes_;
}

}  // namespace corvid::bench
