// The D-Bus session bus as this program finds it, and a bounded check that
// it answers. A bus that takes connections and never answers (a stopped
// dbus-daemon in a suspended session) would hold every library that waits
// for it without a limit, SDL's video set-up among them; the player checks
// it once at start and, when it does not answer in time, names no bus to
// anyone from then on (`HideSessionBus`).
#pragma once

#include <chrono>
#include <string>

namespace kav::dialogs {

// The session bus's address without libdbus's autolaunch (which would start
// a bus of its own through dbus-launch): the environment's, else the
// per-user socket systemd and dbus-user-session provide; empty for none.
std::string SessionBusAddress();

// True when the bus at `address` takes our Hello within `timeout`; nothing
// blocks longer (the handshake and the call are sent and read with a
// deadline). `why` gets the reason of a false answer.
bool BusAnswers(const std::string& address, std::chrono::milliseconds timeout, std::string* why = nullptr);

// Sets DBUS_SESSION_BUS_ADDRESS to an address every D-Bus client refuses at
// once, so that neither SDL (through libdbus), a chooser program started
// later nor our own portal chooser waits for the bus. Call while no other
// thread reads the environment.
void HideSessionBus();

}  // namespace kav::dialogs
