// The IFD handler entry points pcscd calls (ifdhandler.h, API version 3):
// one reader per handler, which is varnel on the kernel model with the
// keyboard or serial terminal of the prefix that DEVICENAME names.
// The contract's header declares the entry points without C linkage.
extern "C" {
#include <ifdhandler.h>
#include <reader.h>
}

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <vector>

#include "drivers/ifd/device_name.h"
#include "drivers/ifd/handler_keyboard.h"
#include "drivers/ifd/handler_log.h"
#include "drivers/ifd/ifd_reader.h"
#include "drivers/ifd/response_code.h"

namespace {

using k52::ifd::Entry;
using k52::ifd::IfdReader;
using k52::ifd::LogPriority;
using k52::ifd::Outcome;
using k52::ifd::PowerAction;
using k52::ifd::responseCode;

// Creation and closing take it exclusively, every other call shared.
std::shared_mutex channelMutex;
std::unique_ptr<IfdReader> reader;
DWORD readerLun = 0;
// pcscd ends with exit() and never closes its readers: the reader is closed
// from an exit handler, before the kernel model's own objects go, and from
// then on every call is refused without waiting.
std::atomic<bool> exiting{false};
std::once_flag exitHandlerRegistered;

void closeAtExit() {
  exiting = true;
  {
    std::shared_lock lock(channelMutex, std::try_to_lock);
    // The polling thread may hold the lock in its wait: end that wait.
    if (reader) reader->wakeWaiting();
  }
  std::unique_lock lock(channelMutex);
  reader.reset();
}

k52::ifd::KeyboardSource& keyboardSource() {
  static k52::ifd::KeyboardSource source = k52::ifd::simulatorKeyboard();
  return source;
}

// The reader of `lun`, or null.
IfdReader* readerOf(DWORD lun) {
  return !exiting && reader && lun == readerLun ? reader.get() : nullptr;
}

RESPONSECODE createChannel(DWORD lun, std::string_view deviceName) {
  if (exiting) return IFD_COMMUNICATION_ERROR;
  std::unique_lock lock(channelMutex);
  if (reader) {
    char text[96];
    std::snprintf(text, sizeof text, "one reader per handler: Lun 0x%lX refused, it serves 0x%lX",
                  static_cast<unsigned long>(lun), static_cast<unsigned long>(readerLun));
    k52::ifd::logMessage(LogPriority::kError, text);
    return IFD_COMMUNICATION_ERROR;
  }
  const auto prefix = k52::ifd::prefixOfDeviceName(deviceName);
  try {
    reader = std::make_unique<IfdReader>(prefix, keyboardSource());
  } catch (const std::exception& e) {
    k52::ifd::logMessage(LogPriority::kError,
                         "no reader in " + prefix.root().string() + ": " + e.what());
    return IFD_COMMUNICATION_ERROR;
  }
  readerLun = lun;
  // Registered after the kernel model's objects exist, so it runs first.
  std::call_once(exitHandlerRegistered, [] { std::atexit(closeAtExit); });
  return IFD_SUCCESS;
}

// pcscd's polling thread: returns when the card comes or goes, after
// `timeout` ms, or when stopPolling() ends it.
RESPONSECODE pollingWait(DWORD lun, int timeout) {
  if (exiting) return IFD_NO_SUCH_DEVICE;
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(lun);
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  r->waitForChange(std::chrono::milliseconds(timeout < 0 ? 0 : timeout));
  return IFD_SUCCESS;
}

RESPONSECODE stopPolling(DWORD lun) {
  if (exiting) return IFD_SUCCESS;
  std::shared_lock lock(channelMutex);
  if (IfdReader* r = readerOf(lun)) r->wakeWaiting();
  return IFD_SUCCESS;
}

template <typename T>
RESPONSECODE answer(const T& value, PDWORD length, PUCHAR out) {
  if (*length < sizeof value) return IFD_ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(out, &value, sizeof value);
  *length = sizeof value;
  return IFD_SUCCESS;
}

}  // namespace

namespace k52::ifd {

void setHandlerKeyboard(KeyboardSource source) {
  std::unique_lock lock(channelMutex);
  keyboardSource() = std::move(source);
}

}  // namespace k52::ifd

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) {
  return createChannel(Lun, DeviceName ? DeviceName : "");
}

RESPONSECODE IFDHCreateChannel(DWORD Lun, DWORD) {
  return createChannel(Lun, k52::ifd::kDefaultDeviceName);
}

RESPONSECODE IFDHCloseChannel(DWORD Lun) {
  std::unique_lock lock(channelMutex);
  if (readerOf(Lun) == nullptr) return IFD_NO_SUCH_DEVICE;
  reader.reset();
  return IFD_SUCCESS;
}

RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
  if (Length == nullptr || Value == nullptr) return IFD_COMMUNICATION_ERROR;
  switch (Tag) {
    case TAG_IFD_SLOTS_NUMBER:
    case TAG_IFD_SIMULTANEOUS_ACCESS:
      return answer(UCHAR{1}, Length, Value);
    case TAG_IFD_THREAD_SAFE:
    case TAG_IFD_SLOT_THREAD_SAFE:
    case TAG_IFD_POLLING_THREAD_KILLABLE:
      return answer(UCHAR{0}, Length, Value);
    case TAG_IFD_POLLING_THREAD_WITH_TIMEOUT:
      return answer(&pollingWait, Length, Value);
    case TAG_IFD_STOP_POLLING_THREAD:
      return answer(&stopPolling, Length, Value);
    default:
      break;
  }
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(Lun);
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  std::vector<std::uint8_t> value;
  const Outcome outcome =
      r->attribute(Tag == TAG_IFD_ATR ? SCARD_ATTR_ATR_STRING : Tag, value, *Length);
  if (outcome != Outcome::kSuccess) {
    *Length = 0;
    return responseCode(Entry::kGetCapabilities, outcome);
  }
  std::memcpy(Value, value.data(), value.size());
  *Length = static_cast<DWORD>(value.size());
  return IFD_SUCCESS;
}

RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) {
  return IFD_NOT_SUPPORTED;
}

RESPONSECODE IFDHSetProtocolParameters(DWORD Lun, DWORD Protocol, UCHAR, UCHAR, UCHAR, UCHAR) {
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(Lun);
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  if (Protocol != SCARD_PROTOCOL_T0 && Protocol != SCARD_PROTOCOL_T1) {
    return IFD_PROTOCOL_NOT_SUPPORTED;
  }
  // The terminal negotiates the PTS itself when the protocol is set.
  return responseCode(Entry::kSetProtocolParameters,
                      r->setProtocol(static_cast<std::uint32_t>(Protocol)));
}

// On every error the ATR's length is 0, as the contract has it.
RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  if (AtrLength == nullptr) return IFD_COMMUNICATION_ERROR;
  const DWORD capacity = Atr ? *AtrLength : 0;
  *AtrLength = 0;
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(Lun);
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  PowerAction action;
  switch (Action) {
    case IFD_POWER_UP:
      action = PowerAction::kUp;
      break;
    case IFD_POWER_DOWN:
      action = PowerAction::kDown;
      break;
    case IFD_RESET:
      action = PowerAction::kReset;
      break;
    default:
      return IFD_NOT_SUPPORTED;
  }
  std::vector<std::uint8_t> atr;
  const Outcome outcome = r->power(action, atr);
  if (outcome != Outcome::kSuccess) return responseCode(Entry::kPowerICC, outcome);
  if (atr.size() > capacity) return IFD_ERROR_INSUFFICIENT_BUFFER;
  if (!atr.empty()) std::memcpy(Atr, atr.data(), atr.size());
  *AtrLength = static_cast<DWORD>(atr.size());
  return IFD_SUCCESS;
}

// On every error the answer's length is 0, as the contract has it.
RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER SendPci, PUCHAR TxBuffer, DWORD TxLength,
                               PUCHAR RxBuffer, PDWORD RxLength, PSCARD_IO_HEADER RecvPci) {
  if (RxLength == nullptr) return IFD_COMMUNICATION_ERROR;
  const DWORD capacity = *RxLength;
  *RxLength = 0;
  if (RxBuffer == nullptr || (TxBuffer == nullptr && TxLength > 0)) return IFD_COMMUNICATION_ERROR;
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(Lun);
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  // pcscd gives the protocol's number here, not its mask.
  if (SendPci.Protocol > 1) return IFD_PROTOCOL_NOT_SUPPORTED;
  std::vector<std::uint8_t> answer;
  const Outcome outcome = r->transmit(
      1u << SendPci.Protocol, std::span<const std::uint8_t>(TxBuffer, TxLength), answer, capacity);
  if (outcome != Outcome::kSuccess) return responseCode(Entry::kTransmitToICC, outcome);
  std::memcpy(RxBuffer, answer.data(), answer.size());
  *RxLength = static_cast<DWORD>(answer.size());
  if (RecvPci) RecvPci->Protocol = SendPci.Protocol;
  return IFD_SUCCESS;
}

RESPONSECODE IFDHControl(DWORD Lun, DWORD dwControlCode, PUCHAR TxBuffer, DWORD TxLength,
                         PUCHAR RxBuffer, DWORD RxLength, LPDWORD pdwBytesReturned) {
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(Lun);
  if (pdwBytesReturned) *pdwBytesReturned = 0;
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  if ((TxBuffer == nullptr && TxLength > 0) || (RxBuffer == nullptr && RxLength > 0)) {
    return IFD_COMMUNICATION_ERROR;
  }
  std::vector<std::uint8_t> out;
  const Outcome outcome =
      r->control(static_cast<std::uint32_t>(dwControlCode),
                 std::span<const std::uint8_t>(TxBuffer, TxLength), out, RxLength);
  if (outcome != Outcome::kSuccess) return responseCode(Entry::kControl, outcome);
  if (!out.empty()) std::memcpy(RxBuffer, out.data(), out.size());
  if (pdwBytesReturned) *pdwBytesReturned = static_cast<DWORD>(out.size());
  return IFD_SUCCESS;
}

RESPONSECODE IFDHICCPresence(DWORD Lun) {
  std::shared_lock lock(channelMutex);
  IfdReader* r = readerOf(Lun);
  if (r == nullptr) return IFD_NO_SUCH_DEVICE;
  return r->present() ? IFD_SUCCESS : IFD_ICC_NOT_PRESENT;
}

}  // extern "C"
