#include "platform/window/WinTerminate.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kav::win {
namespace {

// Shared with forked children (one anonymous shared page): the child writes
// its pid, the parent's signal handler reads it; each side writes its own
// part before reading the other's, so the signal cannot slip between them.
// The child's slot holds the scope's generation above the pid, so a child
// of an earlier scope that writes late cannot take the slot.
struct TShared {
  std::atomic<int> terminate{0};
  std::atomic<uint64_t> child{0};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free);

uint32_t g_generation = 0;  // of the current scope; a forked child has a copy
uint64_t Slot(uint32_t generation, pid_t pid) { return (uint64_t(generation) << 32) | uint32_t(pid); }

std::atomic<bool> g_flag{false};
std::atomic<bool> g_starting{false};
TShared* g_shared = nullptr;
int g_pipe[2] = {-1, -1};
pid_t g_parent = 0;
pid_t g_owner = 0;  // the process that made g_shared
std::atomic<int> g_scopes{0};
thread_local bool t_child_dies = false;

// Never destroyed: the watcher may still wake while statics are destroyed.
struct TWakeSlot {
  std::mutex lock;
  std::function<void()> wake;
};
TWakeSlot& WakeSlot() {
  static TWakeSlot* slot = new TWakeSlot();
  return *slot;
}
std::once_flag g_install_once;

void KillBoxChild() noexcept {
  // The page is shared with every child: only the process that made it
  // marks it (a child that got a signal must not end its parent's box).
  if (!g_shared || getpid() != g_owner) return;
  g_shared->terminate.store(1);
  const pid_t child = pid_t(g_shared->child.load() & 0xFFFFFFFFu);
  if (child > 0) kill(child, SIGKILL);
}

void OnSignal(int) {
  if (g_starting.load()) _exit(0);
  const int saved = errno;
  g_flag.store(true);
  KillBoxChild();
  if (g_pipe[1] >= 0) {
    const char b = 1;
    (void)!write(g_pipe[1], &b, 1);
  }
  errno = saved;
}

void Wake() {
  TWakeSlot& slot = WakeSlot();
  std::lock_guard<std::mutex> guard(slot.lock);
  if (slot.wake) slot.wake();
}

void Watch() {
  for (;;) {
    char b;
    const ssize_t n = read(g_pipe[0], &b, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    Wake();
  }
}

// The forking process's pid, taken just before fork.
void AtForkPrepare() {
  if (t_child_dies) g_parent = getpid();
}

void AtForkChild() {
  if (!t_child_dies) return;
  // The child keeps no handler of ours: a signal ends it as by default.
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  DieWithParentAfterFork(g_parent);
  if (g_shared) {
    // The newest child of the current scope takes the slot (a library may
    // fork more than once for one box, such as to ask a helper's version).
    uint64_t seen = g_shared->child.load();
    while ((seen >> 32) == g_generation &&
           !g_shared->child.compare_exchange_weak(seen, Slot(g_generation, getpid()))) {
    }
    if (g_shared->terminate.load()) _exit(1);
  }
  if (g_flag.load()) _exit(1);
}

// The shared page and the fork hook, once.
void Prepare() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* page = mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page != MAP_FAILED) g_shared = new (page) TShared();
    g_owner = getpid();
    pthread_atfork(&AtForkPrepare, nullptr, &AtForkChild);
  });
}

}  // namespace

bool TerminationRequested() noexcept { return g_flag.load(std::memory_order_relaxed); }

void RequestTermination() noexcept {
  g_flag.store(true);
  KillBoxChild();
  Wake();
}

void ResetTerminationForTests() noexcept {
  g_flag.store(false);
  if (g_shared) g_shared->terminate.store(0);
}

void InstallTerminationSignals() {
  std::call_once(g_install_once, [] {
    Prepare();
    if (pipe2(g_pipe, O_CLOEXEC) != 0) g_pipe[0] = g_pipe[1] = -1;
    if (g_pipe[0] >= 0) std::thread(&Watch).detach();
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT}) {
      struct sigaction old {};
      if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
      sigaction(sig, &action, nullptr);
    }
  });
}

void SetStartingUp(bool starting) noexcept { g_starting.store(starting); }

void SetTerminationWake(std::function<void()> wake) {
  TWakeSlot& slot = WakeSlot();
  std::lock_guard<std::mutex> guard(slot.lock);
  slot.wake = std::move(wake);
}

TChildDiesWithParent::TChildDiesWithParent() {
  Prepare();
  if (g_scopes.fetch_add(1) == 0 && g_shared) g_shared->child.store(Slot(++g_generation, 0));
  t_child_dies = true;
}

TChildDiesWithParent::~TChildDiesWithParent() {
  t_child_dies = false;
  if (g_scopes.fetch_sub(1) == 1 && g_shared) g_shared->child.store(Slot(++g_generation, 0));
}

void DieWithParentAfterFork(int parent) noexcept {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The parent may have ended between fork and prctl.
  if (getppid() != parent) _exit(1);
}

}  // namespace kav::win
