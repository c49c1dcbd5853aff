// The process lock table and the count of threads that use the library.
//
// Modules create the mutexes that guard their global state through
// SysLockCreate during start-up; the table closes them at shutdown. Worker
// threads register with CoInitializeOnce and leave with CoUninitializeOnce;
// once shutdown has begun no new thread may register.
#pragma once

#include <cstdint>

#include "VoRav/wpLocks.h"

namespace kav {

// Creates an unnamed mutex, not owned, records it in the table and returns it.
void SysLockCreate(TMutexHandle& handle);
// Waits without time-out; a mutex whose owner ended holding it is accepted
// (the caller then holds it). Any other failure is an assertion.
void LockWait(TMutexHandle handle);
void LockRelease(TMutexHandle handle);

// False (and nothing counted) once shutdown has begun; else counts the
// calling thread as a user and answers true.
bool CoInitializeOnce();
// Undoes one successful CoInitializeOnce.
void CoUninitializeOnce();

// Milliseconds since the lock module started.
int64_t SysLockTime();
void SysLockSleep(uint32_t ms);

// Ends the table: refuses new users, then waits up to `timeout_ms` for the
// registered users to leave. When they left, every recorded mutex is closed,
// last first; when time ran out they are left open. Either way the table is
// emptied. Answers whether the users left in time. Called once by the
// program's shutdown.
bool SysLockShutdown(uint32_t timeout_ms = 5000);

// Inspection: recorded mutexes and registered users.
int32_t SysLockCount();
int32_t SysLockUsers();

}  // namespace kav
