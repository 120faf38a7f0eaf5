// Ke: dispatcher objects (events, timers, threads), DPCs, spin locks, IRQL
// and time, with the NT DDK names and signatures.
//
// Every call reaches the scheduler of the current Kernel (see kernel.h). The
// objects are plain structures owned by the caller (usually inside a device
// extension); the kernel keeps no copy of them but remembers set timers and
// queued DPCs until they run or are cancelled. IoDeleteDevice cancels those
// that lie inside the deleted device's extension.
//
// Waiting (a non-zero time-out) is allowed only at PASSIVE_LEVEL; at
// DISPATCH_LEVEL it throws std::logic_error, where NT would stop the machine.
//
// Time-outs and due times are LARGE_INTEGERs in 100 ns units: negative means
// relative to now, positive means absolute system time (KeQuerySystemTime),
// zero means "do not wait".
#pragma once

#include "platform/nt/status.h"
#include "platform/nt/types.h"

namespace k52::nt {

inline constexpr NTSTATUS STATUS_WAIT_0 = STATUS_SUCCESS;

// The DISPATCHER_HEADER Type values of the waitable objects.
enum KOBJECTS : UCHAR {
  EventNotificationObject = 0,
  EventSynchronizationObject = 1,
  ThreadObject = 6,
  TimerNotificationObject = 8,
  TimerSynchronizationObject = 9,
};

// The head of every waitable object. SignalState > 0 means signalled.
struct DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Absolute;
  UCHAR Size;
  UCHAR Inserted;
  LONG SignalState;
};

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum TIMER_TYPE { NotificationTimer = 0, SynchronizationTimer = 1 };
enum WAIT_TYPE { WaitAll = 0, WaitAny = 1 };
enum KWAIT_REASON { Executive = 0, UserRequest = 6 };

// A notification event stays signalled until reset and releases every
// waiter; a synchronization event releases one waiter and resets itself.
struct KEVENT {
  DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

struct KDPC;
using PKDEFERRED_ROUTINE = void (*)(KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                                    PVOID SystemArgument2);

// A deferred procedure call: DeferredRoutine runs at DISPATCH_LEVEL as an
// event. DpcData is the kernel's handle of the queued call, 0 when idle.
struct KDPC {
  UCHAR Type;
  UCHAR Importance;
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
  ULONGLONG DpcData;
};
using PKDPC = KDPC*;
using PRKDPC = KDPC*;

// A timer: signalled at its due time, when it also runs its DPC; a periodic
// timer is then set again Period milliseconds later. TimerEvent is the
// kernel's handle of the pending expiry, 0 when the timer is not set.
struct KTIMER {
  DISPATCHER_HEADER Header;
  LARGE_INTEGER DueTime;
  PKDPC Dpc;
  LONG Period;
  ULONGLONG TimerEvent;
};
using PKTIMER = KTIMER*;

// A system thread; signalled when it ends. Created by PsCreateSystemThread.
struct KTHREAD {
  DISPATCHER_HEADER Header;
};
using PKTHREAD = KTHREAD*;
using PETHREAD = KTHREAD*;
using PRKTHREAD = KTHREAD*;

struct KWAIT_BLOCK {};
using PKWAIT_BLOCK = KWAIT_BLOCK*;

// 0 = free, anything else = held.
using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;

// --- events ---

// Initializes `Event` as NotificationEvent or SynchronizationEvent, signalled
// when State is TRUE.
void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
// Signals the event; returns its previous state. Increment and Wait are
// accepted and ignored.
LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
// Resets the event; returns its previous state.
LONG KeResetEvent(PRKEVENT Event);
void KeClearEvent(PRKEVENT Event);
LONG KeReadStateEvent(PRKEVENT Event);

// --- waits ---

// Waits until `Object` (a KEVENT, KTIMER or KTHREAD) is signalled, or until
// Timeout (null = forever). Returns STATUS_SUCCESS or STATUS_TIMEOUT. A
// satisfied wait on a synchronization object resets it.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);
// WaitAny: returns STATUS_WAIT_0 + the index of the first signalled object
// (only that one is consumed). WaitAll: returns STATUS_WAIT_0 once all are
// signalled together. STATUS_TIMEOUT on time-out; STATUS_INVALID_PARAMETER
// for Count 0. WaitBlockArray is not used.
NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType,
                                  KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                                  BOOLEAN Alertable, PLARGE_INTEGER Timeout,
                                  PKWAIT_BLOCK WaitBlockArray);
// Blocks the thread for Interval; STATUS_SUCCESS.
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                PLARGE_INTEGER Interval);
// Busy-waits MicroSeconds. Time passes; see Scheduler::stall for what runs.
void KeStallExecutionProcessor(ULONG MicroSeconds);

// --- timers and DPCs ---

void KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext);
// Queues the DPC to run with the two arguments; FALSE when already queued.
BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2);
// Takes a queued DPC out; FALSE when it was not queued.
BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc);

void KeInitializeTimer(PKTIMER Timer);
void KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type);
// Sets (or moves) the timer to expire at DueTime and run Dpc (may be null)
// then. Resets its signal state. Returns TRUE when it was already set.
BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc);
// As KeSetTimer; a non-zero Period (milliseconds) makes it periodic.
BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc);
// Stops the timer; TRUE when it was set.
BOOLEAN KeCancelTimer(PKTIMER Timer);
BOOLEAN KeReadStateTimer(PKTIMER Timer);

// --- spin locks and IRQL ---

void KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
// Acquires the lock and raises to DISPATCH_LEVEL; *OldIrql receives the
// IRQL to pass to KeReleaseSpinLock.
void KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
// For callers already at DISPATCH_LEVEL (DPCs, completion routines).
void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);
KIRQL KeGetCurrentIrql();
void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
void KeLowerIrql(KIRQL NewIrql);

// --- time ---

// Clock ticks since start; one tick is KeQueryTimeIncrement() x 100 ns. Each
// call lets time move on (see Scheduler::poll), so polling loops end.
void KeQueryTickCount(PLARGE_INTEGER TickCount);
// The tick length in 100 ns units: 10000 (1 ms) unless the machine is set
// to another (Scheduler::timeIncrement).
ULONG KeQueryTimeIncrement();
// System time in 100 ns units since 1601-01-01.
void KeQuerySystemTime(PLARGE_INTEGER CurrentTime);
// 100 ns units since start.
ULONGLONG KeQueryInterruptTime();

}  // namespace k52::nt
