// The process priority class, as the Windows calls name it.
//
// Linux has no process-wide class: raising means lowering the nice value of
// every thread of the process by the same steps, which needs privileges, so
// a thread that runs below the others (a background loader) stays below
// them, as a thread's own priority is relative to its class on Windows. The
// class asked for is always recorded; the threads are changed only when the
// system allows it, and lowering the class again puts back the nice values
// that raising took.
#pragma once

#include <cstdint>

namespace kav {

inline constexpr uint32_t kNormalPriorityClass = 0x20;
inline constexpr uint32_t kHighPriorityClass = 0x80;

// Records `priority_class` (kNormalPriorityClass or kHighPriorityClass) and
// applies it as far as the system allows. Answers whether the threads were
// changed (false without privileges, or when the class was already in force).
// Any thread may call it; calls are serialised.
bool SetProcessPriorityClass(uint32_t priority_class);
// The class last recorded; kNormalPriorityClass at start.
uint32_t GetProcessPriorityClass();

// Lowers the calling thread's priority by `steps` nice values below the one
// it has (capped at the lowest), for background work that must give way to
// the threads that draw. Needs no privilege; false when the system refuses.
bool LowerCallingThreadPriority(int steps);

}  // namespace kav
