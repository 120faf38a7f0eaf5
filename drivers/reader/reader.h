// varnel, the reader driver of the card terminal: its per-reader state and
// the routines its parts call on one another.
#pragma once

#include <cstddef>

#include "drivers/reader/varnel.h"
#include "platform/nt/ntddk.h"
#include "platform/smclib/smclib.h"

namespace k52::nt {

inline constexpr ULONG kTransportSerial = 1;
inline constexpr ULONG kTransportKeyboard = 2;
inline constexpr ULONG kLinkBufferSize = 1048;
inline constexpr ULONG kDefaultReplyTimeout100ns = 40'000'000;  // 4 s in 100 ns units

// Worker and notification thread commands.
inline constexpr ULONG kThreadInit = 0x100;
inline constexpr ULONG kThreadPollStatus = 0x120;
inline constexpr ULONG kThreadPollRequested = 0x150;
inline constexpr ULONG kThreadTerminate = 0x200;

// The driver's own per-reader state.
struct READER_EXTENSION {
  ULONG transport;
  // Claiming the reader (device control against polling), card tracking.
  volatile UCHAR requestPending;
  volatile UCHAR busy;
  volatile UCHAR trackingPending;
  ULONG rememberedState;
  KSPIN_LOCK claimLock;
  // The terminal link.
  ULONG replyTimeout;
  UCHAR uTransmitBuffer[kLinkBufferSize];
  ULONG dwTransmitBufferLen;
  UCHAR lastCommand;  // of the last card frame; the serial path clears the buffer
  UCHAR receiveBuffer[kLinkBufferSize];
  volatile ULONG receiveCount;
  UCHAR staging[kLinkBufferSize];  // the vendor frame
  ULONG stagingLength;
  ULONG serialRequestLength;
  // Card operations.
  UCHAR statusByte;
  UCHAR cardType;
  UCHAR cardChanged;
  UCHAR modeBytes[5];
  UCHAR ptsDoneT0;
  UCHAR ptsDoneT1;
  UCHAR ptsInProgress;
  const UCHAR* ptsData;
  ULONG ptsLength;
  UCHAR t1SendSequence;     // PCB of the last I-block sent
  UCHAR t1ReceiveSequence;  // PCB of the last I-block received
  UCHAR wtxState;           // 5 while a waiting-time extension is in force
  ULONG wtxTime100ns;
  UCHAR t0RetryCount;
  UCHAR t0GoOnWaiting;
  // The serial port.
  PFILE_OBJECT serialFile;
  PDEVICE_OBJECT serialDevice;
  // Back pointers.
  PDEVICE_OBJECT readerDevice;
  struct DEVICE_EXTENSION* deviceExtension;
  // The keyboard channel client.
  PDEVICE_OBJECT channelDevice;
  PFILE_OBJECT channelFile;
  volatile UCHAR channelAttached;
  volatile USHORT pendingFifoCount;
  KEVENT dataEvent;
  UNICODE_STRING dataEventName;
  HANDLE dataThread;
  volatile UCHAR dataThreadTerminate;
  volatile UCHAR dataThreadRunning;
  ULONG timeIncrement100ns;
  // Polling and its threads.
  KTIMER pollTimer;
  KDPC pollDpc;
  LONGLONG pollInterval100ns;
  volatile ULONG IoThreadCmd;
  KEVENT ioThreadEvent;
  volatile UCHAR ioThreadRunning;
  HANDLE ioThread;
  volatile ULONG NotifyThreadCmd;
  KEVENT notifyThreadEvent;
  volatile UCHAR notifyThreadRunning;
  HANDLE notifyThread;
  KEVENT startStopEvent;
  volatile UCHAR removing;
  KEVENT removalEvent;  // signalled with the removal flag, for waits that block
};

struct DEVICE_EXTENSION {
  ULONG signature;  // 0x55AA55AA
  SMARTCARD_EXTENSION SmartcardExtension;
  READER_EXTENSION ReaderExtension;
  UNICODE_STRING linkName;
};

}  // namespace k52::nt

namespace k52::varnel {

using namespace k52::nt;

inline constexpr ULONG kSignature = 0x55AA55AA;

// Kinds of VARNEL_ReadWrite.
enum : ULONG {
  kWarmReset = 10,
  kPowerOff = 12,
  kPowerOn = 13,
  kRemoved = 14,
  kSetMode = 15,
  kStatus = 16,
  kCheck = 17,
  kCapabilities = 18,
  kCardExchange = 40,
  kVendor = 80,
};

// Answer codes.
inline constexpr UCHAR kAnswerData = 0x64;
inline constexpr UCHAR kAnswerError = 0x67;
inline constexpr UCHAR kAnswerWorkWaiting = 0x63;
inline constexpr UCHAR kAnswerCapabilities = 0x68;

// A frame in either buffer: the length word, the command or answer code,
// then the data.
inline constexpr ULONG kFrameCodeAt = 2;
inline constexpr ULONG kFrameDataAt = 3;

// A T=1 block as it travels in a frame's data: prologue (NAD, PCB, LEN),
// information field, then the epilogue.
inline constexpr ULONG kBlockPcbAt = 1;
inline constexpr ULONG kBlockLenAt = 2;
inline constexpr ULONG kBlockInfAt = 3;

// The answer in the receive buffer: its length word, code and data.
inline ULONG answerLength(const READER_EXTENSION* r) {
  return (ULONG{r->receiveBuffer[0]} << 8) | r->receiveBuffer[1];
}
inline UCHAR answerCode(const READER_EXTENSION* r) {
  return r->receiveBuffer[kFrameCodeAt];
}
inline const UCHAR* answerData(const READER_EXTENSION* r) {
  return r->receiveBuffer + kFrameDataAt;
}

// Trace points: they output nothing and cost a millisecond each.
void XDS();
void DumpData(const UCHAR* data, ULONG length);

// Time.
ULONG GetTickCount(READER_EXTENSION* r);
void WaitX(ULONG ms);

// The terminal link.
NTSTATUS VARNEL_ReadWrite(ULONG kind, PSMARTCARD_EXTENSION sc);
NTSTATUS PS2SendReceive(PSMARTCARD_EXTENSION sc);
NTSTATUS SerialSendReceive(PSMARTCARD_EXTENSION sc);
NTSTATUS VARNEL_InitCommPort(PSMARTCARD_EXTENSION sc);
NTSTATUS SerialPurge(READER_EXTENSION* r);
void ReleaseSerialPort(READER_EXTENSION* r);

// The keyboard channel client.
NTSTATUS ClientInit(READER_EXTENSION* r);
void ClientEnd(READER_EXTENSION* r);
NTSTATUS CreateThreads(READER_EXTENSION* r);
void DestroyThreads(READER_EXTENSION* r);
NTSTATUS InitClientServer(READER_EXTENSION* r);
void DeInitClientServer(READER_EXTENSION* r);
NTSTATUS AttachToServer(READER_EXTENSION* r);
void DetachFromServer(READER_EXTENSION* r);
NTSTATUS SendInternalDeviceIoControl(PDEVICE_OBJECT device, ULONG code, PVOID input,
                                     ULONG inputLength, PVOID output, ULONG outputLength);
void TargetHasDatas(PVOID context, USHORT count);
void TargetIsUnloading(PVOID context);

// Card operations (the reader functions and their helpers).
NTSTATUS VARNEL_UpdateCardStatus(PSMARTCARD_EXTENSION sc, ULONG kind);
NTSTATUS VARNEL_PowerCard(PSMARTCARD_EXTENSION sc);
NTSTATUS VARNEL_SetProtocol(PSMARTCARD_EXTENSION sc);
NTSTATUS VARNEL_Transmit(PSMARTCARD_EXTENSION sc);
NTSTATUS VARNEL_Specific(PSMARTCARD_EXTENSION sc);
NTSTATUS SetModeT0(PSMARTCARD_EXTENSION sc);
NTSTATUS SetModeT1(PSMARTCARD_EXTENSION sc);
NTSTATUS SendPtsT0(PSMARTCARD_EXTENSION sc);
NTSTATUS SendPtsT1(PSMARTCARD_EXTENSION sc);
// One pass of a card exchange: builds the frame (before) and reads the
// answer (after the link's send and receive).
NTSTATUS BuildCardFrame(PSMARTCARD_EXTENSION sc);
NTSTATUS InterpretCardAnswer(PSMARTCARD_EXTENSION sc, NTSTATUS linkStatus);
// The T=1 block the driver answers itself instead of sending; true when it did.
bool AnswerDummyBlock(READER_EXTENSION* r);
// Whether the terminal has a PIN pad: its type name ends in 'A' or 'B'.
bool HasPinPad(const VENDOR_ATTR& vendor);
NTSTATUS InterpretVendorAnswer(PSMARTCARD_EXTENSION sc, NTSTATUS linkStatus);
void PrepareVendorFrame(READER_EXTENSION* r);

// The capability answer (command 0x69) into the vendor attributes and
// reader capabilities; STATUS_DEVICE_DATA_ERROR when malformed.
NTSTATUS ParseCapabilities(PSMARTCARD_EXTENSION sc, const UCHAR* answer, ULONG length);

// Card tracking and its threads.
NTSTATUS VARNEL_CardTracking(PSMARTCARD_EXTENSION sc);
void MySmartcardCompleteCardTracking(PSMARTCARD_EXTENSION sc);
void VARNEL_Cancel(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS VARNEL_Cleanup(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS VARNEL_StartCardTracking(PSMARTCARD_EXTENSION sc);
inline NTSTATUS VARNEL_StopCardTracking(PSMARTCARD_EXTENSION sc) {
  return VARNEL_StartCardTracking(sc);
}
void ReaderPollingDpc(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2);
NTSTATUS StartWorkerThreads(READER_EXTENSION* r);
void StopWorkerThreads(READER_EXTENSION* r);
void ArmPolling(READER_EXTENSION* r, LONGLONG interval100ns);
// Claims the reader for a request against the polling, and gives it back.
void ClaimReader(READER_EXTENSION* r);
void ReleaseReader(READER_EXTENSION* r);
// Sets the removal flag and claims the reader for good once the running
// request or poll has given it back.
void ClaimReaderForRemoval(READER_EXTENSION* r);

// The driver frame.
NTSTATUS VARNEL_CreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS VARNEL_DeviceControl(PDEVICE_OBJECT device, PIRP irp);
void VARNEL_Unload(PDRIVER_OBJECT driver);
NTSTATUS VARNEL_AddNewSmartcardReader(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath,
                                      ULONG index);
void VARNEL_RemoveDevice(PDEVICE_OBJECT device);

}  // namespace k52::varnel
