// Kernel objects between the processes of one prefix: mailslots, named file
// mappings and named auto-reset events, and the calling thread's last error.
//
// Names are case-insensitive, as on the platform. Each named object is a file
// under <prefix>/run/: mailslots are datagram sockets in run/mailslots/,
// mappings and events are files in run/objects/ that every process holding a
// handle keeps a shared lock on. The last handle to close (in any process)
// deletes the file; a file that nobody holds a lock on was left by crashed
// processes and is taken as absent, so it never stands in a new creator's way.
//
// Handles are per process, as on the platform; CloseHandle frees them. A
// handle that is not (or no longer) one of these objects is refused with
// ERROR_INVALID_HANDLE instead of being used.
#pragma once

#include <cstddef>

#include "platform/win32/messaging/types.h"

namespace k52::win32 {

DWORD GetLastError();
void SetLastError(DWORD error);

BOOL CloseHandle(HANDLE handle);

// --- mailslots -------------------------------------------------------------

// Creates the read side of mailslot `name` ("\\.\mailslot\..."). Messages
// longer than maxMessageSize (0: no limit) are discarded by the reader.
// readTimeoutMs: how long ReadFile waits for a message (0: not at all,
// MAILSLOT_WAIT_FOREVER: without limit). INVALID_HANDLE_VALUE with
// ERROR_ALREADY_EXISTS while a live process holds the name; the mailslot of a
// process that died is replaced.
HANDLE CreateMailslotA(LPCSTR name, DWORD maxMessageSize, DWORD readTimeoutMs, void* security);

// Opens the write side of a mailslot (other paths are not supported:
// ERROR_FILE_NOT_FOUND). `access` must include GENERIC_WRITE; the sharing
// mode, security, disposition and attributes are accepted and ignored.
// ERROR_FILE_NOT_FOUND when no live process has created the mailslot.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);

// Mailslot read side: takes the next message whole. A message longer than
// `size` stays queued and the read fails with ERROR_INSUFFICIENT_BUFFER; no
// message within the read time-out fails with ERROR_SEM_TIMEOUT.
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD size, DWORD* read, void* overlapped);
// Mailslot write side: sends `size` bytes as one message (at most 64 KiB).
// Fails when the reader is gone (ERROR_FILE_NOT_FOUND) or its queue is full.
BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, DWORD* written, void* overlapped);

// --- file mappings ---------------------------------------------------------

// Creates or opens the named mapping of sizeLow bytes (page-file backed:
// `file` must be INVALID_HANDLE_VALUE; unnamed mappings are not supported).
// An existing mapping is returned with ERROR_ALREADY_EXISTS and grows to at
// least the size asked for. New contents are zero.
HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          LPCSTR name);
// Opens an existing named mapping; nullptr (ERROR_FILE_NOT_FOUND) when none.
HANDLE OpenFileMappingA(DWORD access, BOOL inherit, LPCSTR name);
// Maps `bytes` (0: all) from `offsetLow` (a multiple of the page size) for
// reading and writing; shared with every other view of the mapping. The view
// stays valid after CloseHandle of the mapping until UnmapViewOfFile.
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                     std::size_t bytes);
BOOL UnmapViewOfFile(LPCVOID view);

// --- events ----------------------------------------------------------------

// Creates or opens (ERROR_ALREADY_EXISTS) a named event. Only auto-reset
// events are supported (manualReset TRUE: ERROR_NOT_SUPPORTED); an unnamed
// event is private to the process.
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
HANDLE OpenEventA(DWORD access, BOOL inherit, LPCSTR name);
// Releases one waiter, or leaves the event signalled when nobody waits.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Releases one waiter (the longest waiting) when a live one waits and leaves
// the event not signalled either way. Waiters of processes that died are
// passed over.
BOOL PulseEvent(HANDLE event);
// Waits for the event (real time; INFINITE: without limit). WAIT_OBJECT_0 when
// it was signalled or pulsed for this waiter, WAIT_TIMEOUT, or WAIT_FAILED
// (a bad handle; more than 64 waiters at once).
DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs);

}  // namespace k52::win32
