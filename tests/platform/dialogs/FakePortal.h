// A fake XDG desktop portal on a private D-Bus bus, for the tests of the
// portal chooser and of the save dialog over it: a dbus-daemon of the
// test's own (no service files, so nothing is activated) and a fake
// org.freedesktop.portal.Desktop in a thread that records the SaveFile call
// and answers through the request's Response signal (or never, or not even
// the call, or with an error).
#pragma once

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialogs/PortalChooser.h"
#include "platform/dialogs/ProgramChooser.h"
#include "tests/VoRav/TempFolder.h"

extern char** environ;

namespace kav::dialogs::test_portal {

using kav::test::TTempFolder;

// A private bus: dbus-daemon started for the test, ended with it.
class TPrivateBus {
 public:
  TPrivateBus() {
    std::string daemon = FindExecutable("dbus-daemon");
    if (daemon.empty()) return;
    tmp_.WriteFile("bus.conf",
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" + tmp_.Sys() + "</listen>"
                   "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::string conf = "--config-file=" + tmp_.Sys("bus.conf");
    const char* argv[] = {daemon.c_str(), conf.c_str(), "--nofork", "--print-address=1", nullptr};
    int err = posix_spawn(&pid_, daemon.c_str(), &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (err != 0) {
      pid_ = 0;
      close(fds[0]);
      return;
    }
    // The address is the first line it prints.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string out;
    while (out.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, n);
    }
    close(fds[0]);
    if (size_t nl = out.find('\n'); nl != std::string::npos) address_ = out.substr(0, nl);
  }
  ~TPrivateBus() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Address() const { return address_; }

 private:
  TTempFolder tmp_;
  pid_t pid_ = 0;
  std::string address_;
};

// What the fake portal received.
struct TCall {
  std::string sender, parent, title, token, current_name, current_folder;
  bool folder_has_nul = false;
  std::vector<TFileFilter> filters;
  std::string current_filter;
  bool closed = false;
};

// kSilent takes the call and sends no Response; kMute does not even reply
// to the call; kError replies with the portal's "Failed" error; kLeave
// takes the call and then leaves the bus (a portal that crashed).
enum class TReply { kChoose, kCancel, kOther, kSilent, kRemoteUri, kMute, kError, kLeave };

inline std::string ReadString(DBusMessageIter* it) {
  const char* s = nullptr;
  dbus_message_iter_get_basic(it, &s);
  return s ? s : "";
}

inline TFileFilter ReadFilter(DBusMessageIter* st) {
  TFileFilter f;
  DBusMessageIter in, list;
  dbus_message_iter_recurse(st, &in);
  f.description = ReadString(&in);
  dbus_message_iter_next(&in);
  dbus_message_iter_recurse(&in, &list);
  for (; dbus_message_iter_get_arg_type(&list) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&list)) {
    DBusMessageIter pair;
    dbus_message_iter_recurse(&list, &pair);
    dbus_uint32_t kind = 9;
    dbus_message_iter_get_basic(&pair, &kind);
    dbus_message_iter_next(&pair);
    f.patterns.push_back((kind == 0 ? "" : "mime:") + ReadString(&pair));
  }
  return f;
}

inline TCall ReadCall(DBusMessage* msg) {
  TCall call;
  call.sender = dbus_message_get_sender(msg);
  DBusMessageIter it, dict;
  dbus_message_iter_init(msg, &it);
  call.parent = ReadString(&it);
  dbus_message_iter_next(&it);
  call.title = ReadString(&it);
  dbus_message_iter_next(&it);
  dbus_message_iter_recurse(&it, &dict);
  for (; dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&dict)) {
    DBusMessageIter entry, v;
    dbus_message_iter_recurse(&dict, &entry);
    std::string key = ReadString(&entry);
    dbus_message_iter_next(&entry);
    dbus_message_iter_recurse(&entry, &v);
    if (key == "handle_token") call.token = ReadString(&v);
    if (key == "current_name") call.current_name = ReadString(&v);
    if (key == "current_folder") {
      DBusMessageIter bytes;
      dbus_message_iter_recurse(&v, &bytes);
      const char* data = nullptr;
      int n = 0;
      dbus_message_iter_get_fixed_array(&bytes, &data, &n);
      call.folder_has_nul = n > 0 && data[n - 1] == 0;
      call.current_folder.assign(data, call.folder_has_nul ? n - 1 : n);
    }
    if (key == "filters") {
      DBusMessageIter list;
      dbus_message_iter_recurse(&v, &list);
      for (; dbus_message_iter_get_arg_type(&list) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&list))
        call.filters.push_back(ReadFilter(&list));
    }
    if (key == "current_filter") call.current_filter = ReadFilter(&v).description;
  }
  return call;
}

// The fake portal: owns the portal's name on the bus and answers SaveFile.
// Its Response signal goes out before the call's reply, so a client that
// subscribed only after the reply would miss it.
class TFakePortal {
 public:
  TFakePortal(const std::string& address, TReply reply, std::string uri) : reply_(reply), uri_(std::move(uri)) {
    DBusError err;
    dbus_error_init(&err);
    conn_ = dbus_connection_open_private(address.c_str(), &err);
    if (conn_ && dbus_bus_register(conn_, &err) &&
        dbus_bus_request_name(conn_, "org.freedesktop.portal.Desktop", DBUS_NAME_FLAG_DO_NOT_QUEUE, &err) ==
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
      ready_ = true;
    dbus_error_free(&err);
    if (ready_) thread_ = std::thread([this] { Run(); });
  }
  ~TFakePortal() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (conn_) {
      if (!left_) dbus_connection_close(conn_);
      dbus_connection_unref(conn_);
    }
  }
  bool Ready() const { return ready_; }
  std::vector<TCall> Calls() {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }

 private:
  void Run() {
    while (!stop_) {
      dbus_connection_read_write(conn_, 50);
      while (DBusMessage* msg = dbus_connection_pop_message(conn_)) {
        Handle(msg);
        dbus_message_unref(msg);
      }
      if (reply_ == TReply::kLeave && !Calls().empty()) {
        dbus_connection_close(conn_);
        left_ = true;
        return;
      }
    }
  }

  void Handle(DBusMessage* msg) {
    if (dbus_message_is_method_call(msg, "org.freedesktop.portal.Request", "Close")) {
      std::lock_guard<std::mutex> hold(lock_);
      if (!calls_.empty()) calls_.back().closed = true;
      return;
    }
    if (!dbus_message_is_method_call(msg, "org.freedesktop.portal.FileChooser", "SaveFile")) return;
    TCall call = ReadCall(msg);
    {
      std::lock_guard<std::mutex> hold(lock_);
      calls_.push_back(call);
    }
    std::string handle = PortalRequestPath(call.sender, call.token);
    if (reply_ == TReply::kMute) return;
    if (reply_ == TReply::kError) {
      DBusMessage* error = dbus_message_new_error(msg, "org.freedesktop.portal.Error.Failed", "no backend");
      dbus_connection_send(conn_, error, nullptr);
      dbus_message_unref(error);
      dbus_connection_flush(conn_);
      return;
    }
    if (reply_ != TReply::kSilent && reply_ != TReply::kLeave) {
      DBusMessage* signal = dbus_message_new_signal(handle.c_str(), "org.freedesktop.portal.Request", "Response");
      // Sent to no one in particular: only a client whose match rule was in
      // place before its call hears it.
      DBusMessageIter it, dict, entry, v, list;
      dbus_message_iter_init_append(signal, &it);
      dbus_uint32_t code = reply_ == TReply::kCancel ? 1 : reply_ == TReply::kOther ? 2 : 0;
      dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &code);
      dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dict);
      if (code == 0) {
        const char* key = "uris";
        const char* uri = uri_.c_str();
        dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "as", &v);
        dbus_message_iter_open_container(&v, DBUS_TYPE_ARRAY, "s", &list);
        dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &uri);
        dbus_message_iter_close_container(&v, &list);
        dbus_message_iter_close_container(&entry, &v);
        dbus_message_iter_close_container(&dict, &entry);
      }
      dbus_message_iter_close_container(&it, &dict);
      dbus_connection_send(conn_, signal, nullptr);
      dbus_message_unref(signal);
    }
    DBusMessage* reply = dbus_message_new_method_return(msg);
    const char* path = handle.c_str();
    dbus_message_append_args(reply, DBUS_TYPE_OBJECT_PATH, &path, DBUS_TYPE_INVALID);
    dbus_connection_send(conn_, reply, nullptr);
    dbus_message_unref(reply);
    dbus_connection_flush(conn_);
  }

  TReply reply_;
  std::string uri_;
  DBusConnection* conn_ = nullptr;
  bool ready_ = false;
  bool left_ = false;  // the thread closed the connection (kLeave)
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<TCall> calls_;
};

}  // namespace kav::dialogs::test_portal
