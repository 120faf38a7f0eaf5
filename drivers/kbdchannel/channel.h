// vrlPCSC: the keyboard card-terminal channel. Its state, and the routines
// its parts call on one another.
#pragma once

#include <array>
#include <cstdint>

#include "drivers/kbdchannel/driver.h"
#include "drivers/kbdchannel/vrlpcsc.h"
#include "platform/nt/ntddk.h"

namespace k52::kbdchannel {

using namespace k52::nt;

inline constexpr std::size_t kFifoSize = 1024;
inline constexpr USHORT kNoFrameYet = 0xFFFF;
inline constexpr USHORT kFilterOn = 0x01;
inline constexpr USHORT kFilterAttached = 0x20;

// Keyboard controller status bits.
inline constexpr UCHAR kStatusOutputFull = 0x01;
inline constexpr UCHAR kStatusInputFull = 0x02;
inline constexpr UCHAR kStatusAuxByte = 0x20;

// The extension of "\Device\vrlPCSC", zero-filled at start.
struct ChannelExtension {
  ULONG timeIncrement;
  UNICODE_STRING linkName;
  UCHAR hooked;
  UCHAR awaitingAck;
  UCHAR sendHold;
  UCHAR frameMode;
  UCHAR leadInSeen;
  UCHAR capsLockHeld;
  UCHAR scrollLockHeld;
  UCHAR leftShiftHeld;
  UCHAR rightShiftHeld;
  UCHAR numLockHeld;
  USHORT nibbleCount;
  USHORT expectedNibbles;
  UCHAR frameByte;
  UCHAR highNibbleCode;
  USHORT frameLength;
  ULONG nibblePhase;
  PUCHAR dataPort;
  PUCHAR commandPort;
  PUCHAR interruptMaskPort;
  USHORT ledTimeoutMs;
  USHORT keyboardCwt;
  USHORT filterMode;
  KTIMER ledTimer;
  KDPC ledTimerDpc;
  USHORT fifoIn;
  USHORT fifoOut;
  USHORT fifoCount;
  std::array<FifoEntry, kFifoSize> fifo;
  KSPIN_LOCK fifoLock;
  UnloadCallback unloadCallback;
  DataCallback dataCallback;
  PVOID callbackContext;
  UCHAR callbacksSet;
};

// Driver globals.
extern PDEVICE_OBJECT channelDeviceObj;  // "\Device\vrlPCSC"
extern PDEVICE_OBJECT hookDeviceObj;     // the unnamed filter device
extern PDEVICE_OBJECT kbdDeviceObj;      // the keyboard class device while hooked

// The named device's extension, reached from either device.
ChannelExtension* channel();

// Receive side.
NTSTATUS vrlPCSCHook(PDEVICE_OBJECT device);
NTSTATUS vrlPCSCUnhook(PDEVICE_OBJECT device);
void InitializeParams(ChannelExtension* ext);
NTSTATUS vrlPCSCDrvRead(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS vrlPCSCReadComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context);
ULONG RemoveKeyFromBuffer(PKEYBOARD_INPUT_DATA records, ULONG n, ULONG i);

// FIFO, each call under the FIFO lock.
NTSTATUS Fifin(ChannelExtension* ext, USHORT value, UCHAR port, UCHAR kind, ULONG time);
NTSTATUS Fifout(ChannelExtension* ext, FifoEntry* entry);
NTSTATUS Fifcheck(ChannelExtension* ext, FifoEntry* entry);
void ClearFifo(ChannelExtension* ext);
USHORT GetFifoCount(ChannelExtension* ext);

// Time.
ULONG GetTickCount(ChannelExtension* ext);
void wait_ms(ChannelExtension* ext, ULONG ms);
void armLedHold(ChannelExtension* ext, ULONG ms);
void LEDTimerCallBack(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2);

// Controller access.
void OutputByte(ChannelExtension* ext, USHORT port, UCHAR value);
UCHAR InputByte(ChannelExtension* ext, USHORT port);
UCHAR ReadPort(ChannelExtension* ext, USHORT port);
void EnableKbInt(ChannelExtension* ext);
void DisableKbInt(ChannelExtension* ext);
// false when the controller did not answer within the bound.
bool Get8042CmdByte(ChannelExtension* ext, UCHAR* value);
void Write8042CmdByte(ChannelExtension* ext, UCHAR value);

// Send path; 0 = success, 0xFFFF = failure.
USHORT PutBytePolled(ChannelExtension* ext, bool waitAck, USHORT port, UCHAR value);
USHORT DrainOutputBuffer(ChannelExtension* ext);
USHORT vrlPCSC_SendStrKeyboard(ChannelExtension* ext, USHORT length, const UCHAR* data);
USHORT vrlPCSC_SendStrCardTerminal(ChannelExtension* ext, USHORT length, const UCHAR* data);
USHORT SetKeyboardCWT(ChannelExtension* ext);

// Requests.
NTSTATUS vrlPCSCDrvCreate(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS vrlPCSCDispatchGeneral(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS vrlPCSC_InternalDeviceControl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS vrlPCSCPassThrough(PDEVICE_OBJECT device, PIRP irp);

// Start and unload.
void vrlPCSCDrvUnload(PDRIVER_OBJECT driver);

}  // namespace k52::kbdchannel
