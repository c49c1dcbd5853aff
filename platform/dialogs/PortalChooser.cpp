#include "platform/dialogs/PortalChooser.h"

#include <dbus/dbus.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/dialogs/SessionBus.h"

namespace kav::dialogs {
namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kChooserInterface[] = "org.freedesktop.portal.FileChooser";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr int kPumpMs = 50;

struct TConnection {
  DBusConnection* conn = nullptr;
  ~TConnection() {
    if (conn) {
      dbus_connection_close(conn);
      dbus_connection_unref(conn);
    }
  }
};

struct TMessage {
  DBusMessage* msg = nullptr;
  explicit TMessage(DBusMessage* m) : msg(m) {}
  TMessage(const TMessage&) = delete;
  TMessage& operator=(const TMessage&) = delete;
  ~TMessage() {
    if (msg) dbus_message_unref(msg);
  }
};

struct TError {
  DBusError err;
  TError() { dbus_error_init(&err); }
  ~TError() { dbus_error_free(&err); }
  std::string Text() const {
    return dbus_error_is_set(&err) ? std::string(err.name) + ": " + (err.message ? err.message : "") : "";
  }
};

// A token for handle_token: a valid object-path element unique in this
// process.
std::string NewToken() {
  static std::atomic<unsigned> counter{0};
  return "kav" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

std::string MatchRule(const std::string& path) {
  return std::string("type='signal',interface='") + kRequestInterface + "',member='Response',path='" + path + "'";
}

// The bus's word that the portal's name changed hands: a portal that ends
// (or is replaced) after taking the request will never answer it.
std::string OwnerMatchRule() {
  return std::string("type='signal',sender='") + DBUS_SERVICE_DBUS + "',interface='" + DBUS_INTERFACE_DBUS +
         "',member='NameOwnerChanged',arg0='" + kPortalName + "'";
}

// True for NameOwnerChanged saying that `owner` no longer has the portal's
// name.
bool PortalLeft(DBusMessage* msg, const std::string& owner) {
  const char* sender = dbus_message_get_sender(msg);
  if (owner.empty() || !sender || std::strcmp(sender, DBUS_SERVICE_DBUS) != 0 ||
      !dbus_message_is_signal(msg, DBUS_INTERFACE_DBUS, "NameOwnerChanged"))
    return false;
  const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
  if (!dbus_message_get_args(msg, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &old_owner, DBUS_TYPE_STRING,
                             &new_owner, DBUS_TYPE_INVALID))
    return false;
  return std::strcmp(name, kPortalName) == 0 && owner == old_owner && owner != new_owner;
}

// The dictionary entry key -> variant(value) with a basic value.
void AppendEntry(DBusMessageIter* dict, const char* key, int type, const void* value) {
  char sig[2] = {static_cast<char>(type), 0};
  DBusMessageIter entry, variant;
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, sig, &variant);
  dbus_message_iter_append_basic(&variant, type, value);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(dict, &entry);
}

// One filter as (sa(us)): its description and (0 = glob, pattern) pairs.
void AppendFilter(DBusMessageIter* parent, const TFileFilter& filter) {
  DBusMessageIter st, list;
  dbus_message_iter_open_container(parent, DBUS_TYPE_STRUCT, nullptr, &st);
  const char* desc = filter.description.c_str();
  dbus_message_iter_append_basic(&st, DBUS_TYPE_STRING, &desc);
  dbus_message_iter_open_container(&st, DBUS_TYPE_ARRAY, "(us)", &list);
  for (const std::string& p : filter.patterns) {
    DBusMessageIter pair;
    dbus_uint32_t kind = 0;
    const char* pattern = p.c_str();
    dbus_message_iter_open_container(&list, DBUS_TYPE_STRUCT, nullptr, &pair);
    dbus_message_iter_append_basic(&pair, DBUS_TYPE_UINT32, &kind);
    dbus_message_iter_append_basic(&pair, DBUS_TYPE_STRING, &pattern);
    dbus_message_iter_close_container(&list, &pair);
  }
  dbus_message_iter_close_container(&st, &list);
  dbus_message_iter_close_container(parent, &st);
}

bool ValidUtf8(const std::string& s) { return dbus_validate_utf8(s.c_str(), nullptr) != 0; }

DBusMessage* NewSaveFileCall(const TSaveFileRequest& request, const std::string& token) {
  DBusMessage* msg = dbus_message_new_method_call(kPortalName, kPortalPath, kChooserInterface, "SaveFile");
  if (!msg) return nullptr;
  // libdbus refuses (aborts on) strings that are not UTF-8: such texts go
  // as empty ones.
  std::string parent = ValidUtf8(request.parent_window) ? request.parent_window : "";
  std::string title = ValidUtf8(request.title) ? request.title : "";
  const char* parent_c = parent.c_str();
  const char* title_c = title.c_str();
  DBusMessageIter args, dict;
  dbus_message_iter_init_append(msg, &args);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent_c);
  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &title_c);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict);
  const char* token_c = token.c_str();
  AppendEntry(&dict, "handle_token", DBUS_TYPE_STRING, &token_c);
  dbus_bool_t modal = TRUE;
  AppendEntry(&dict, "modal", DBUS_TYPE_BOOLEAN, &modal);
  std::string name = SafeProposedName(request.proposed_name, "");
  if (!name.empty() && ValidUtf8(name)) {
    const char* name_c = name.c_str();
    AppendEntry(&dict, "current_name", DBUS_TYPE_STRING, &name_c);
  }
  if (!request.folder.empty()) {
    // A byte string that ends in NUL, since a path need not be UTF-8.
    DBusMessageIter entry, variant, bytes;
    const char* key = "current_folder";
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "ay", &variant);
    dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "y", &bytes);
    const char* data = request.folder.c_str();
    dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, static_cast<int>(request.folder.size() + 1));
    dbus_message_iter_close_container(&variant, &bytes);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dict, &entry);
  }
  std::vector<TFileFilter> filters;
  for (const TFileFilter& f : request.filters) {
    bool ok = ValidUtf8(f.description) && !f.patterns.empty();
    for (const std::string& p : f.patterns) ok = ok && ValidUtf8(p);
    if (ok) filters.push_back(f);
  }
  if (!filters.empty()) {
    DBusMessageIter entry, variant, list;
    const char* key = "filters";
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "a(sa(us))", &variant);
    dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "(sa(us))", &list);
    for (const TFileFilter& f : filters) AppendFilter(&list, f);
    dbus_message_iter_close_container(&variant, &list);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&dict, &entry);
    if (request.current_filter >= 0 && request.current_filter < static_cast<int>(request.filters.size())) {
      // The portal wants the current filter to be one of the list's.
      const TFileFilter& current = request.filters[request.current_filter];
      for (const TFileFilter& f : filters) {
        if (f.description != current.description || f.patterns != current.patterns) continue;
        const char* ckey = "current_filter";
        dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &ckey);
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "(sa(us))", &variant);
        AppendFilter(&variant, f);
        dbus_message_iter_close_container(&entry, &variant);
        dbus_message_iter_close_container(&dict, &entry);
        break;
      }
    }
  }
  dbus_message_iter_close_container(&args, &dict);
  return msg;
}

// The first entry of "uris" in a Response's results; false when absent.
bool FirstUri(DBusMessageIter* results, std::string& uri) {
  if (dbus_message_iter_get_arg_type(results) != DBUS_TYPE_ARRAY) return false;
  DBusMessageIter dict;
  dbus_message_iter_recurse(results, &dict);
  for (; dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&dict)) {
    DBusMessageIter entry, variant, list;
    dbus_message_iter_recurse(&dict, &entry);
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
    const char* key = nullptr;
    dbus_message_iter_get_basic(&entry, &key);
    if (std::strcmp(key, "uris") != 0 || !dbus_message_iter_next(&entry)) continue;
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_VARIANT) return false;
    dbus_message_iter_recurse(&entry, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_ARRAY) return false;
    dbus_message_iter_recurse(&variant, &list);
    if (dbus_message_iter_get_arg_type(&list) != DBUS_TYPE_STRING) return false;
    const char* first = nullptr;
    dbus_message_iter_get_basic(&list, &first);
    uri = first;
    return true;
  }
  return false;
}

TSaveFileAnswer ReadResponse(DBusMessage* signal, const TSaveFileRequest& request) {
  TSaveFileAnswer answer;
  answer.outcome = TSaveFileOutcome::kFailed;
  DBusMessageIter it;
  dbus_uint32_t code = 2;
  if (!dbus_message_iter_init(signal, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_UINT32) {
    answer.message = "The desktop portal's answer has no response code";
    return answer;
  }
  dbus_message_iter_get_basic(&it, &code);
  if (code == 1) {
    answer.outcome = TSaveFileOutcome::kCancelled;
    return answer;
  }
  if (code != 0) {
    answer.message = "The desktop portal's file chooser ended without an answer (" + std::to_string(code) + ")";
    return answer;
  }
  std::string uri;
  if (!dbus_message_iter_next(&it) || !FirstUri(&it, uri)) {
    answer.message = "The desktop portal confirmed no file";
    return answer;
  }
  std::string path = FileUriToPath(uri);
  if (path.empty()) {
    answer.message = "The desktop portal chose no local file: " + uri;
    return answer;
  }
  answer.outcome = TSaveFileOutcome::kChosen;
  answer.path = WithDefaultExtension(path, request.default_extension);
  return answer;
}

// An error reply that says there is no portal, or no file chooser in it,
// on this bus: the next chooser is asked as if there were no bus. Any other
// error is the portal's failure.
bool MeansNoPortal(const char* error) {
  static const char* const kAbsent[] = {
      DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_NAME_HAS_NO_OWNER, DBUS_ERROR_UNKNOWN_METHOD,
      DBUS_ERROR_UNKNOWN_INTERFACE, DBUS_ERROR_UNKNOWN_OBJECT,
  };
  for (const char* name : kAbsent)
    if (error && std::strcmp(error, name) == 0) return true;
  return false;
}

// Asks the portal to close the request at `handle` (its dialog goes); no
// answer is waited for.
void CloseRequest(DBusConnection* conn, const std::string& handle) {
  TMessage close(dbus_message_new_method_call(kPortalName, handle.c_str(), kRequestInterface, "Close"));
  if (!close.msg) return;
  dbus_message_set_no_reply(close.msg, TRUE);
  dbus_connection_send(conn, close.msg, nullptr);
  dbus_connection_flush(conn);
}

bool IsResponse(DBusMessage* msg, const std::string& handle) {
  const char* path = dbus_message_get_path(msg);
  return dbus_message_is_signal(msg, kRequestInterface, "Response") && path && handle == path;
}

}  // namespace

std::string PortalRequestPath(const std::string& unique_name, const std::string& token) {
  std::string sender = unique_name;
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  for (char& c : sender)
    if (c == '.') c = '_';
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

std::string FileUriToPath(const std::string& uri) {
  static const char kScheme[] = "file://";
  if (uri.compare(0, sizeof(kScheme) - 1, kScheme) != 0) return {};
  std::string rest = uri.substr(sizeof(kScheme) - 1);
  if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
  if (rest.empty() || rest[0] != '/') return {};  // another host
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '?' || c == '#') break;
    if (c != '%') {
      path += c;
      continue;
    }
    if (i + 2 >= rest.size() || !std::isxdigit(static_cast<unsigned char>(rest[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(rest[i + 2])))
      return {};
    int value = std::stoi(rest.substr(i + 1, 2), nullptr, 16);
    if (value == 0) return {};
    path += static_cast<char>(value);
    i += 2;
  }
  return path;
}

TPortalChooser::TPortalChooser(std::string bus_address, std::chrono::milliseconds call_timeout)
    : bus_address_(std::move(bus_address)), call_timeout_(call_timeout) {}

TSaveFileAnswer TPortalChooser::Choose(const TSaveFileRequest& request) {
  TSaveFileAnswer answer;  // kUnavailable until the portal took the request
  std::string address = bus_address_.empty() ? SessionBusAddress() : bus_address_;
  if (address.empty()) return answer;
  TError error;
  TConnection bus;
  // Connects only: the handshake and every call below go on in the loop,
  // so that neither a stuck bus nor a stuck portal holds the caller.
  bus.conn = dbus_connection_open_private(address.c_str(), &error.err);
  if (!bus.conn) {
    answer.message = error.Text();
    return answer;
  }
  dbus_connection_set_exit_on_disconnect(bus.conn, FALSE);
  // The calls, one after the other, each sent once the previous one's reply
  // came: Hello (our unique name, hence the request's path), AddMatch for
  // the request's Response, then SaveFile. Its reply takes the request (the
  // request's path and the portal's unique name); the Response follows. A
  // Response may come before that reply; it is kept until the reply says
  // whose it is.
  const std::string token = NewToken();
  std::string handle, portal;
  dbus_uint32_t hello = 0, match = 0, call = 0;
  bool taken = false;
  std::vector<std::unique_ptr<TMessage>> early;
  constexpr size_t kMaxEarly = 16;
  auto send = [&](DBusMessage* raw) -> dbus_uint32_t {
    TMessage msg(raw);
    dbus_uint32_t serial = 0;
    return msg.msg && dbus_connection_send(bus.conn, msg.msg, &serial) ? serial : 0;
  };
  hello = send(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
  if (!hello) return answer;
  // Each step has the whole time: the bus's replies come at once, the
  // portal may first have to be started.
  auto deadline = std::chrono::steady_clock::now() + call_timeout_;
  for (;;) {
    while (DBusMessage* raw = dbus_connection_pop_message(bus.conn)) {
      auto msg = std::make_unique<TMessage>(raw);
      const int type = dbus_message_get_type(raw);
      const dbus_uint32_t to = dbus_message_get_reply_serial(raw);
      const bool reply = type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR;
      if (reply && to != 0 && (to == hello || to == match)) {
        // The bus's own replies: an error means no portal can be reached.
        const char* name = nullptr;
        if (dbus_set_error_from_message(&error.err, raw) ||
            (to == hello && !dbus_message_get_args(raw, &error.err, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))) {
          answer.message = error.Text();
          return answer;
        }
        if (to == hello) {
          handle = PortalRequestPath(name, token);
          DBusMessage* add = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "AddMatch");
          const std::string rule = MatchRule(handle);
          const char* rule_c = rule.c_str();
          if (add) dbus_message_append_args(add, DBUS_TYPE_STRING, &rule_c, DBUS_TYPE_INVALID);
          hello = 0;
          if (!(match = send(add))) return answer;
          // Not waited for: the bus handles our messages in order, so the
          // rule is in place before the call reaches the portal.
          dbus_bus_add_match(bus.conn, OwnerMatchRule().c_str(), nullptr);
        } else {
          match = 0;
          if (!(call = send(NewSaveFileCall(request, token)))) return answer;
        }
        deadline = std::chrono::steady_clock::now() + call_timeout_;
        continue;
      }
      if (reply && to != 0 && to == call && !taken) {
        if (type == DBUS_MESSAGE_TYPE_ERROR) {
          dbus_set_error_from_message(&error.err, raw);
          // No portal, or one without a file chooser: the next chooser is
          // asked. A portal that is there and fails has failed.
          if (!MeansNoPortal(dbus_message_get_error_name(raw))) answer.outcome = TSaveFileOutcome::kFailed;
          answer.message = "The desktop portal refused the file chooser: " + error.Text();
          return answer;
        }
        const char* returned = nullptr;
        if (!dbus_message_get_args(raw, &error.err, DBUS_TYPE_OBJECT_PATH, &returned, DBUS_TYPE_INVALID)) {
          CloseRequest(bus.conn, handle);
          answer.outcome = TSaveFileOutcome::kFailed;
          answer.message = "The desktop portal's reply has no request: " + error.Text();
          return answer;
        }
        taken = true;
        portal = dbus_message_get_sender(raw) ? dbus_message_get_sender(raw) : "";
        if (handle != returned) {
          // A portal older than handle_token chose its own path (the match
          // changes without waiting: nothing to hear there yet).
          dbus_bus_remove_match(bus.conn, MatchRule(handle).c_str(), nullptr);
          handle = returned;
          dbus_bus_add_match(bus.conn, MatchRule(handle).c_str(), nullptr);
        }
        for (auto& kept : early) {
          const char* sender = dbus_message_get_sender(kept->msg);
          if (IsResponse(kept->msg, handle) && (portal.empty() || (sender && portal == sender)))
            return ReadResponse(kept->msg, request);
        }
        early.clear();
        continue;
      }
      if (taken && PortalLeft(raw, portal)) {
        // Its dialog, if any, went with it: as a portal that failed, so
        // that the next chooser that asks is tried.
        answer.outcome = TSaveFileOutcome::kFailed;
        answer.message = "The desktop portal left the bus while its file chooser was open";
        return answer;
      }
      if (!call || !IsResponse(raw, handle)) continue;
      if (!taken) {
        if (early.size() < kMaxEarly) early.push_back(std::move(msg));
        continue;
      }
      const char* sender = dbus_message_get_sender(raw);
      if (!portal.empty() && (!sender || portal != sender)) continue;
      return ReadResponse(raw, request);
    }
    if (!dbus_connection_get_is_connected(bus.conn)) {
      // Before the call: the bus would not have us; after it: the portal
      // may have shown its dialog, and cannot be heard any more.
      if (call) answer.outcome = TSaveFileOutcome::kFailed;
      answer.message = "The session bus went away while the file chooser was open";
      return answer;
    }
    if (request.pump && !request.pump()) {
      // Also before the reply: a portal that takes the call late finds its
      // caller gone once the connection closes, and drops the request.
      if (call) CloseRequest(bus.conn, handle);
      answer.outcome = TSaveFileOutcome::kCancelled;
      return answer;
    }
    if (!taken && std::chrono::steady_clock::now() >= deadline) {
      if (call) CloseRequest(bus.conn, handle);
      const std::string seconds = std::to_string(call_timeout_.count() / 1000);
      answer.outcome = TSaveFileOutcome::kFailed;
      answer.message = call ? "The desktop portal did not take the file chooser's request within " + seconds + " seconds"
                            : "The session bus did not answer within " + seconds + " seconds";
      return answer;
    }
    dbus_connection_read_write(bus.conn, kPumpMs);
  }
}

}  // namespace kav::dialogs
