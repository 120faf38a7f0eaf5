#include "platform/nt/ps.h"

#include <deque>
#include <memory>
#include <mutex>
#include <set>

#include "platform/nt/ke_internal.h"

namespace k52::nt {

namespace {

std::mutex& threadsLock() {
  static std::mutex lock;
  return lock;
}

std::set<const void*>& threadObjects() {
  static std::set<const void*> objects;
  return objects;
}

std::deque<std::unique_ptr<KTHREAD>>& threadStore() {
  static std::deque<std::unique_ptr<KTHREAD>> store;
  return store;
}

PKTHREAD newThreadObject() {
  auto thread = std::make_unique<KTHREAD>();
  thread->Header.Type = ThreadObject;
  std::lock_guard lock(threadsLock());
  threadObjects().insert(thread.get());
  threadStore().push_back(std::move(thread));
  return threadStore().back().get();
}

}  // namespace

bool isThreadObject(const void* object) {
  std::lock_guard lock(threadsLock());
  return threadObjects().count(object) != 0;
}

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG, PVOID, HANDLE, PVOID,
                              PKSTART_ROUTINE StartRoutine, PVOID StartContext) {
  if (ThreadHandle == nullptr || StartRoutine == nullptr) return STATUS_INVALID_PARAMETER;
  PKTHREAD thread = newThreadObject();
  *ThreadHandle = thread;
  currentScheduler().startThread("system thread", [thread, StartRoutine, StartContext] {
    // Signalled however the thread ends, returning or terminating.
    struct SignalOnExit {
      PKTHREAD thread;
      ~SignalOnExit() { signalThreadObject(thread); }
    } signal{thread};
    StartRoutine(StartContext);
  });
  return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS) {
  throw ThreadExit{};
}

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK, PVOID, KPROCESSOR_MODE,
                                   PVOID* Object, PVOID) {
  if (Object == nullptr || !isThreadObject(Handle)) return STATUS_INVALID_PARAMETER;
  *Object = Handle;
  return STATUS_SUCCESS;
}

NTSTATUS ZwWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
  if (!isThreadObject(Handle)) return STATUS_INVALID_PARAMETER;
  return KeWaitForSingleObject(Handle, Executive, KernelMode, Alertable, Timeout);
}

NTSTATUS ZwClose(HANDLE) {
  return STATUS_SUCCESS;
}

}  // namespace k52::nt
