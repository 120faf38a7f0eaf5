// Named auto-reset events in a shared file: a robust mutex guards the state,
// and waiters sleep on a futex word, so a waiter or holder that dies can
// neither leave the lock taken nor swallow a later pulse.
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>

#include "platform/win32/messaging/desktop.h"
#include "platform/win32/messaging/kernel.h"
#include "platform/win32/messaging/kernel_object.h"

namespace k52::win32 {
namespace {

constexpr std::uint32_t kMagic = 0x4B353245;  // "K52E"
constexpr int kMaxWaiters = 64;

struct Waiter {
  std::int32_t pid;  // 0: free slot
  std::uint64_t startTime;
  std::uint64_t ticket;  // order of arrival
  std::uint32_t released;
};

struct SharedEvent {
  std::uint32_t magic;
  pthread_mutex_t mutex;
  std::atomic<std::uint32_t> wakeups;  // the futex word: changes on every release
  std::uint32_t signalled;
  std::uint64_t nextTicket;
  Waiter waiters[kMaxWaiters];
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

void futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, const timespec* timeout) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT, expected, timeout,
            nullptr, 0);
}

void futexWakeAll(std::atomic<std::uint32_t>* word) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE, INT32_MAX, nullptr,
            nullptr, 0);
}

class Event : public KernelObject {
 public:
  // `file` is null for an unnamed event, whose state lives in private memory.
  Event(std::unique_ptr<NamedFile> file, SharedEvent* state)
      : file_(std::move(file)), state_(state) {}
  ~Event() override {
    if (file_) {
      ::munmap(state_, sizeof(SharedEvent));
    } else {
      pthread_mutex_destroy(&state_->mutex);
      delete state_;
    }
  }

  void set();
  void pulse();
  DWORD wait(DWORD timeoutMs);
  void reset() {
    lock();
    state_->signalled = 0;
    unlock();
  }

 private:
  void lock() {
    if (pthread_mutex_lock(&state_->mutex) == EOWNERDEAD) {
      // The holder died between two consistent states; every change below is
      // a single store, so the state is whole.
      pthread_mutex_consistent(&state_->mutex);
    }
  }
  void unlock() { pthread_mutex_unlock(&state_->mutex); }
  // The live waiter that came first and is not yet released; dead ones are
  // cleared on the way.
  Waiter* firstWaiter();
  void release(Waiter& w) {
    w.released = 1;
    state_->wakeups.fetch_add(1);
    futexWakeAll(&state_->wakeups);
  }

  std::unique_ptr<NamedFile> file_;
  SharedEvent* state_;
};

void initialise(SharedEvent& e, bool signalled) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&e.mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  e.wakeups.store(0);
  e.signalled = signalled ? 1 : 0;
  e.nextTicket = 1;
  e.magic = kMagic;
}

Waiter* Event::firstWaiter() {
  Waiter* first = nullptr;
  for (auto& w : state_->waiters) {
    if (w.pid == 0 || w.released) continue;
    if (!ProcessIdentity{w.pid, w.startTime}.alive()) {
      w = Waiter{};
      continue;
    }
    if (first == nullptr || w.ticket < first->ticket) first = &w;
  }
  return first;
}

void Event::set() {
  lock();
  if (Waiter* w = firstWaiter()) {
    release(*w);
  } else {
    state_->signalled = 1;
  }
  unlock();
}

void Event::pulse() {
  lock();
  if (Waiter* w = firstWaiter()) release(*w);
  state_->signalled = 0;
  unlock();
}

DWORD Event::wait(DWORD timeoutMs) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
  lock();
  if (state_->signalled) {
    state_->signalled = 0;
    unlock();
    return WAIT_OBJECT_0;
  }
  Waiter* slot = nullptr;
  const ProcessIdentity self = desktop().self();
  for (auto& w : state_->waiters) {
    if (w.pid == 0 || !ProcessIdentity{w.pid, w.startTime}.alive()) {
      slot = &w;
      break;
    }
  }
  if (slot == nullptr) {
    unlock();
    return WAIT_FAILED;
  }
  *slot = Waiter{self.pid, self.startTime, state_->nextTicket++, 0};
  for (;;) {
    if (slot->released) {
      *slot = Waiter{};
      unlock();
      return WAIT_OBJECT_0;
    }
    const std::uint32_t seen = state_->wakeups.load();
    timespec left{};
    if (timeoutMs != INFINITE) {
      const auto rest = deadline - steady_clock::now();
      if (rest <= steady_clock::duration::zero()) {
        *slot = Waiter{};
        unlock();
        return WAIT_TIMEOUT;
      }
      const auto ns = duration_cast<nanoseconds>(rest).count();
      left.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      left.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    unlock();
    futexWait(&state_->wakeups, seen, timeoutMs == INFINITE ? nullptr : &left);
    lock();
  }
}

std::filesystem::path eventPath(LPCSTR name) {
  const auto dir = desktop().prefix().runDir() / "objects";
  std::filesystem::create_directories(dir);
  return dir / (objectFileName(name) + ".evt");
}

HANDLE openEvent(LPCSTR name, NamedFile::Open how, bool initialState) {
  bool created = false;
  auto prepare = [initialState](int fd) {
    if (::ftruncate(fd, sizeof(SharedEvent)) != 0) return false;
    void* memory = ::mmap(nullptr, sizeof(SharedEvent), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) return false;
    initialise(*static_cast<SharedEvent*>(memory), initialState);
    ::munmap(memory, sizeof(SharedEvent));
    return true;
  };
  auto file = NamedFile::open(eventPath(name), how, prepare, created);
  if (!file) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* memory =
      ::mmap(nullptr, sizeof(SharedEvent), PROT_READ | PROT_WRITE, MAP_SHARED, file->fd(), 0);
  if (memory == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* state = static_cast<SharedEvent*>(memory);
  if (state->magic != kMagic) {
    ::munmap(memory, sizeof(SharedEvent));
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE handle = addHandle(std::make_unique<Event>(std::move(file), state));
  SetLastError(created || how == NamedFile::Open::Existing ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handle;
}

}  // namespace

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (manualReset) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (name == nullptr) {
    auto* state = new SharedEvent{};
    initialise(*state, initialState != FALSE);
    return addHandle(std::make_unique<Event>(nullptr, state));
  }
  return openEvent(name, NamedFile::Open::CreateOrExisting, initialState != FALSE);
}

HANDLE OpenEventA(DWORD, BOOL, LPCSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return openEvent(name, NamedFile::Open::Existing, false);
}

BOOL SetEvent(HANDLE event) {
  auto* e = objectOf<Event>(event);
  if (e) e->set();
  return e ? TRUE : FALSE;
}

BOOL ResetEvent(HANDLE event) {
  auto* e = objectOf<Event>(event);
  if (e) e->reset();
  return e ? TRUE : FALSE;
}

BOOL PulseEvent(HANDLE event) {
  auto* e = objectOf<Event>(event);
  if (e) e->pulse();
  return e ? TRUE : FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
  auto* e = objectOf<Event>(handle);
  return e ? e->wait(timeoutMs) : WAIT_FAILED;
}

}  // namespace k52::win32
