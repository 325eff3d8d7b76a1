#include "SaveInterruption.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace penamo {

namespace {

// The handlers may run on any thread at any moment, so everything they read is a lock-free
// atomic or a name published by one: a slot's folder is set only after its name is written.
constexpr int kSlots = 16;
constexpr std::size_t kNameCapacity = 64;
constexpr int kFree = -1;
constexpr int kClaimed = -2;  // being filled in: a handler leaves it alone

struct TSlot {
  std::atomic<int> Folder{kFree};
  char Name[kNameCapacity] = {};
};

TSlot Slots[kSlots];
std::atomic<int> Policy{static_cast<int>(TInterruptionPolicy::Abandon)};
std::atomic<int> SavesInProgress{0};
std::atomic<int> DeferredSignal{0};

static_assert(std::atomic<int>::is_always_lock_free, "the handlers need lock-free atomics");

void RemoveNamedTemporaries() {
  for (TSlot& slot : Slots) {
    const int folder = slot.Folder.load();
    if (folder >= 0) ::unlinkat(folder, slot.Name, 0);
  }
}

// Ends the program by the signal itself, so that whoever waits for it sees how it ended.
[[noreturn]] void EndBy(int signal) {
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  ::sigemptyset(&standard.sa_mask);
  ::sigaction(signal, &standard, nullptr);
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // only if the signal could not end the program
}

void OnInterruption(int signal) {
  const int savedErrno = errno;
  if (Policy.load() == static_cast<int>(TInterruptionPolicy::Finish)) {
    // Either this handler sees that no save runs any more, or the save's end sees the signal;
    // whichever takes it from DeferredSignal acts on it, exactly once.
    int expected = 0;
    DeferredSignal.compare_exchange_strong(expected, signal);
    if (SavesInProgress.load() > 0) {
      errno = savedErrno;
      return;
    }
    const int deferred = DeferredSignal.exchange(0);
    if (deferred == 0) {
      errno = savedErrno;
      return;
    }
    EndBy(deferred);
  }
  RemoveNamedTemporaries();
  EndBy(signal);
}

// Every signal sent from outside whose default ends the program; the faults (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS) are the program's own and not handled here.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,
                                  SIGALRM, SIGVTALRM, SIGPROF, SIGIO,   SIGXCPU, SIGPWR};

}  // namespace

void HandleInterruptions(TInterruptionPolicy policy) {
  Policy.store(static_cast<int>(policy));
  for (const int signal : kEndingSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = OnInterruption;
    ::sigemptyset(&handler.sa_mask);
    // Another interruption waits until this one's handler is done with the temporaries.
    for (const int other : kEndingSignals)
      ::sigaddset(&handler.sa_mask, other);
    handler.sa_flags = SA_RESTART;
    ::sigaction(signal, &handler, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  // A closed pipe or socket: the write fails with EPIPE and is reported as the write error it is.
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

TSaveInProgress::TSaveInProgress() {
  SavesInProgress.fetch_add(1);
}

TSaveInProgress::~TSaveInProgress() {
  Unnamed();
  if (SavesInProgress.fetch_sub(1) != 1) return;
  if (const int deferred = DeferredSignal.exchange(0); deferred != 0) EndBy(deferred);
}

void TSaveInProgress::Named(int folder, const std::string& name) noexcept {
  Unnamed();
  if (folder < 0 || name.size() >= kNameCapacity) return;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!Slots[i].Folder.compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(Slots[i].Name, name.c_str(), name.size() + 1);
    Slots[i].Folder.store(folder);
    FSlot = i;
    return;
  }
  // Every slot taken (more saves at once than any program here makes): this temporary is
  // removed by its own undo only.
}

void TSaveInProgress::Unnamed() noexcept {
  if (FSlot < 0) return;
  Slots[FSlot].Folder.store(kFree);
  FSlot = -1;
}

}  // namespace penamo
