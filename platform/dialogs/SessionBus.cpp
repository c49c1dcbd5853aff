#include "platform/dialogs/SessionBus.h"

#include <dbus/dbus.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace kav::dialogs {

std::string SessionBusAddress() {
  const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (env && *env) return env;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string socket = std::string(runtime) + "/bus";
    struct stat st;
    if (stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + socket;
  }
  return {};
}

bool BusAnswers(const std::string& address, std::chrono::milliseconds timeout, std::string* why) {
  auto fail = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  DBusError error;
  dbus_error_init(&error);
  // Connects only: the handshake goes on in the loop below.
  DBusConnection* conn = dbus_connection_open_private(address.c_str(), &error);
  if (!conn) {
    std::string text = dbus_error_is_set(&error) && error.message ? error.message : "no connection";
    dbus_error_free(&error);
    return fail(text);
  }
  dbus_connection_set_exit_on_disconnect(conn, FALSE);
  bool answered = false;
  std::string problem = "the session bus did not answer within " + std::to_string(timeout.count()) + " ms";
  DBusMessage* hello = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello");
  dbus_uint32_t serial = 0;
  if (!hello || !dbus_connection_send(conn, hello, &serial)) {
    problem = "no memory for the bus's Hello";
  } else {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      DBusMessage* msg = dbus_connection_pop_message(conn);
      if (msg) {
        const bool reply = dbus_message_get_reply_serial(msg) == serial;
        const bool ok = reply && dbus_message_get_type(msg) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
        dbus_message_unref(msg);
        if (reply) {
          answered = ok;
          if (!ok) problem = "the session bus refused our Hello";
          break;
        }
        continue;
      }
      if (!dbus_connection_get_is_connected(conn)) {
        problem = "the session bus closed the connection";
        break;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      dbus_connection_read_write(conn, static_cast<int>(std::min<long long>(left.count(), 50)));
    }
  }
  if (hello) dbus_message_unref(hello);
  dbus_connection_close(conn);
  dbus_connection_unref(conn);
  return answered || fail(problem);
}

void HideSessionBus() {
  // No transport of this name exists: libdbus answers "unknown address
  // type" at once, and nothing falls back to autolaunch as it would for an
  // unset variable.
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

}  // namespace kav::dialogs
