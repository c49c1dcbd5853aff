// The XDG desktop portal's file chooser (org.freedesktop.portal.FileChooser,
// method SaveFile) over the D-Bus session bus, through libdbus.
//
// The portal answers in two steps: the call returns a request object path at
// once, and the person's answer comes later as that object's Response signal
// (0 with "uris" chosen, 1 cancelled, 2 ended otherwise). The request path
// is predictable from our unique bus name and the handle_token we pass, so
// the signal is subscribed before the call and an answer that outruns the
// call's reply is not lost. Nothing blocks: the bus's handshake, the calls,
// their replies and the Response are waited for with the request's pump
// called every 50 ms, so a portal that never answers can be left at once (the request
// is then closed with Request.Close and the private connection, which the
// portal takes as its caller gone). No session bus, or no portal or no file
// chooser on it, answers kUnavailable; a portal that fails, or does not
// take the call within the call timeout, answers kFailed. The portal's
// dialog asks before it replaces a file.
#pragma once

#include <chrono>
#include <string>

#include "platform/dialogs/SaveChooser.h"

namespace kav::dialogs {

class TPortalChooser final : public TSaveFileChooser {
 public:
  // How long the portal may take to take the call, and the bus each of
  // its own replies (not the person's answer, which has no limit): a portal
  // that starts on demand may need a while.
  static constexpr std::chrono::milliseconds kCallTimeout{30000};

  // `bus_address`: the D-Bus address to use; empty: the session bus.
  explicit TPortalChooser(std::string bus_address = {}, std::chrono::milliseconds call_timeout = kCallTimeout);
  const char* Name() const override { return "portal"; }
  TSaveFileAnswer Choose(const TSaveFileRequest& request) override;

 private:
  std::string bus_address_;
  std::chrono::milliseconds call_timeout_;
};

// The request path the portal uses for our unique name and a token:
// "/org/freedesktop/portal/desktop/request/" + the name without ":" and
// with "." as "_" + "/" + token.
std::string PortalRequestPath(const std::string& unique_name, const std::string& token);

// The local path of a "file://" URI, %-escapes decoded; empty for any other
// URI, a remote host, or an escape that decodes to NUL or is malformed.
std::string FileUriToPath(const std::string& uri);

}  // namespace kav::dialogs
