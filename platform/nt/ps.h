// Ps: system threads, and the handle calls drivers use with them.
//
// A thread object lives as long as the process (the model never reuses
// one), so a handle or KTHREAD pointer stays valid after the thread ends.
#pragma once

#include "platform/nt/ke.h"
#include "platform/nt/status.h"
#include "platform/nt/types.h"

namespace k52::nt {

using PKSTART_ROUTINE = void (*)(PVOID StartContext);

// Starts StartRoutine(StartContext) in a new system thread at PASSIVE_LEVEL.
// *ThreadHandle receives a handle to wait on (ZwWaitForSingleObject, or
// KeWaitForSingleObject on the object from ObReferenceObjectByHandle); the
// thread object is signalled when the routine returns or calls
// PsTerminateSystemThread. The other arguments are accepted and ignored.
NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess, PVOID ObjectAttributes,
                              HANDLE ProcessHandle, PVOID ClientId, PKSTART_ROUTINE StartRoutine,
                              PVOID StartContext);

// Ends the calling system thread; does not return.
[[noreturn]] NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus);

// *Object receives the thread object behind a thread handle.
// STATUS_INVALID_PARAMETER for a handle that is no thread.
NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, PVOID ObjectType,
                                   KPROCESSOR_MODE AccessMode, PVOID* Object,
                                   PVOID HandleInformation);

// Waits for the object behind a thread handle, like KeWaitForSingleObject.
NTSTATUS ZwWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable, PLARGE_INTEGER Timeout);

// Closing a thread handle is accepted; the object stays valid.
NTSTATUS ZwClose(HANDLE Handle);

// Whether `object` is a thread object made by PsCreateSystemThread.
bool isThreadObject(const void* object);

}  // namespace k52::nt
