// Start, reader creation, removal and unload.
#include <cstring>
#include <string>

#include "drivers/reader/reader.h"

namespace k52::varnel {
namespace {

constexpr LONGLONG kFirstPoll100ns = -100'000'000;  // 10 s, relative
constexpr char kVendorName[] = "Varnel GmbH";
constexpr char kIfdType[] = "QLM B1-SerialSmartcardReader";

ULONG readersStarted = 0;  // the driver-wide unit counter

template <std::size_t N>
void setAttr(decltype(VENDOR_ATTR::VendorName)& attr, const char (&text)[N]) {
  static_assert(N <= sizeof attr.Buffer);
  std::memcpy(attr.Buffer, text, N);  // with its terminating zero
  attr.Length = N;
}

// "Port" of the reader's key: the COM port number 1..4, or 0 for the
// keyboard channel.
int serialPortOf(PUNICODE_STRING registryPath, ULONG index) {
  std::wstring key(registryPath->Buffer, registryPath->Length / sizeof(WCHAR));
  key += L"\\Reader" + std::to_wstring(index);
  WCHAR buffer[16] = {};
  UNICODE_STRING port{0, sizeof buffer - sizeof(WCHAR), buffer};
  RTL_QUERY_REGISTRY_TABLE table[2] = {};
  table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED;
  table[0].Name = const_cast<PWSTR>(L"Port");
  table[0].EntryContext = &port;
  table[0].DefaultType = REG_SZ;
  if (!NT_SUCCESS(
          RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, key.c_str(), table, nullptr, nullptr))) {
    return 0;
  }
  const std::wstring value(port.Buffer, port.Length / sizeof(WCHAR));
  if (value.size() == 4 && value.starts_with(L"COM") && value[3] >= L'1' && value[3] <= L'4') {
    return value[3] - L'0';
  }
  return 0;
}

NTSTATUS openSerialPort(READER_EXTENSION* r, int com) {
  const std::wstring name = L"\\Device\\Serial" + std::to_wstring(com - 1);
  UNICODE_STRING device;
  RtlInitUnicodeString(&device, name.c_str());
  return IoGetDeviceObjectPointer(&device, FILE_ALL_ACCESS, &r->serialFile, &r->serialDevice);
}

void setDefaults(PSMARTCARD_EXTENSION sc) {
  sc->Version = SMCLIB_VERSION;
  setAttr(sc->VendorAttr.VendorName, kVendorName);
  setAttr(sc->VendorAttr.IfdType, kIfdType);
  sc->VendorAttr.UnitNo = readersStarted;
  SCARD_READER_CAPABILITIES& caps = sc->ReaderCapabilities;
  caps.SupportedProtocols = 0x4003;
  caps.Reserved = 0x3C00;
  caps.ReaderType = SCARD_READER_TYPE_SERIAL;
  caps.MechProperties = 0;
  caps.CurrentState = SCARD_ABSENT;
  caps.Channel = readersStarted - 1;
  caps.CLKFrequency = {5000, 5000};
  caps.DataRate = {13440, 13440};
  caps.MaxIFSD = 254;
  sc->ReaderFunction[RDF_CARD_POWER] = VARNEL_PowerCard;
  sc->ReaderFunction[RDF_TRANSMIT] = VARNEL_Transmit;
  sc->ReaderFunction[RDF_CARD_TRACKING] = VARNEL_CardTracking;
  sc->ReaderFunction[RDF_SET_PROTOCOL] = VARNEL_SetProtocol;
  sc->ReaderFunction[RDF_IOCTL_VENDOR] = VARNEL_Specific;
  sc->SmartcardRequest.BufferSize = kLinkBufferSize;
  sc->SmartcardReply.BufferSize = kLinkBufferSize;
}

// Everything creation set up, in reverse, after a failure.
NTSTATUS failCreation(PDEVICE_OBJECT device, DEVICE_EXTENSION* ext, NTSTATUS status) {
  READER_EXTENSION* r = &ext->ReaderExtension;
  StopWorkerThreads(r);
  ReleaseSerialPort(r);
  if (r->transport == kTransportKeyboard) ClientEnd(r);
  if (ext->SmartcardExtension.OsData) SmartcardExit(&ext->SmartcardExtension);
  IoDeleteDevice(device);
  WaitX(100);
  return status;
}

// Makes the reader a keyboard-channel reader.
NTSTATUS switchToKeyboard(READER_EXTENSION* r) {
  ReleaseSerialPort(r);
  r->transport = kTransportKeyboard;
  return ClientInit(r);
}

}  // namespace

NTSTATUS VARNEL_AddNewSmartcardReader(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath,
                                      ULONG index) {
  XDS();
  if (index > 0) return STATUS_DEVICE_DATA_ERROR;
  const int com = serialPortOf(registryPath, index);
  PFILE_OBJECT serialFile = nullptr;
  PDEVICE_OBJECT serialDevice = nullptr;
  if (com > 0) {
    READER_EXTENSION probe{};
    if (NT_SUCCESS(openSerialPort(&probe, com))) {
      serialFile = probe.serialFile;
      serialDevice = probe.serialDevice;
    }
  }

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kDeviceName);
  PDEVICE_OBJECT device = nullptr;
  if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(DEVICE_EXTENSION), &name, FILE_DEVICE_SMARTCARD, 0,
                                 TRUE, &device))) {
    if (serialFile) ObDereferenceObject(serialFile);
    return STATUS_DEVICE_DATA_ERROR;
  }
  auto* ext = new (device->DeviceExtension) DEVICE_EXTENSION{};
  ext->signature = kSignature;
  PSMARTCARD_EXTENSION sc = &ext->SmartcardExtension;
  READER_EXTENSION* r = &ext->ReaderExtension;
  sc->ReaderExtension = r;
  r->deviceExtension = ext;
  r->readerDevice = device;
  r->serialFile = serialFile;
  r->serialDevice = serialDevice;
  r->timeIncrement100ns = KeQueryTimeIncrement();
  device->Flags |= DO_BUFFERED_IO;
  r->transport = serialFile ? kTransportSerial : kTransportKeyboard;
  KeInitializeSpinLock(&r->claimLock);
  KeInitializeEvent(&r->removalEvent, NotificationEvent, FALSE);

  if (!NT_SUCCESS(VARNEL_InitCommPort(sc))) {
    return failCreation(device, ext, STATUS_DEVICE_DATA_ERROR);
  }
  r->replyTimeout = kDefaultReplyTimeout100ns;
  setDefaults(sc);
  r->rememberedState = SCARD_ABSENT;
  r->t1SendSequence = r->t1ReceiveSequence = 0x40;
  sc->SmartcardRequest.Buffer = nullptr;  // the library's own, of our size
  sc->SmartcardReply.Buffer = nullptr;

  if (!NT_SUCCESS(StartWorkerThreads(r))) {
    return failCreation(device, ext, STATUS_DEVICE_DATA_ERROR);
  }
  // Tracking, cleanup and removal all go through the library's data: without
  // it there is no reader.
  if (!NT_SUCCESS(SmartcardInitialize(sc))) {
    return failCreation(device, ext, STATUS_DEVICE_DATA_ERROR);
  }
  sc->OsData->DeviceObject = device;
  NTSTATUS status = VARNEL_ReadWrite(kCheck, sc);
  if (!NT_SUCCESS(status) && r->transport == kTransportSerial) {
    // No terminal on the port: the keyboard's own terminal, then.
    status = switchToKeyboard(r);
    if (NT_SUCCESS(status)) {
      status = VARNEL_ReadWrite(kCheck, sc);
    } else {
      DestroyThreads(r);
      r->transport = kTransportSerial;
      DetachFromServer(r);
    }
  }
  WaitX(5);
  if (NT_SUCCESS(status) && NT_SUCCESS(VARNEL_ReadWrite(kCapabilities, sc))) {
    const ULONG frame = answerLength(r) + 2;
    if (!NT_SUCCESS(ParseCapabilities(sc, r->receiveBuffer,
                                      frame < r->receiveCount ? frame : r->receiveCount))) {
      return failCreation(device, ext, STATUS_DEVICE_DATA_ERROR);
    }
  }
  if (!NT_SUCCESS(VARNEL_ReadWrite(kStatus, sc))) {
    return failCreation(device, ext, STATUS_DEVICE_DATA_ERROR);
  }
  ++readersStarted;
  r->replyTimeout = kDefaultReplyTimeout100ns;
  if (!NT_SUCCESS(SmartcardCreateLink(&ext->linkName, &name))) {
    return failCreation(device, ext, STATUS_DEVICE_DATA_ERROR);
  }
  VARNEL_UpdateCardStatus(sc, 1);
  // The polling starts from what the reader holds now; from "absent" its
  // first poll would take a card inserted before the start for a new one
  // and complete a waiting absence request while the card is still there.
  r->rememberedState = sc->ReaderCapabilities.CurrentState;
  KeInitializeTimer(&r->pollTimer);
  KeInitializeDpc(&r->pollDpc, ReaderPollingDpc, r);
  ArmPolling(r, kFirstPoll100ns);
  return STATUS_SUCCESS;
}

void VARNEL_RemoveDevice(PDEVICE_OBJECT device) {
  auto* ext = static_cast<DEVICE_EXTENSION*>(device->DeviceExtension);
  READER_EXTENSION* r = &ext->ReaderExtension;
  PSMARTCARD_EXTENSION sc = &ext->SmartcardExtension;
  XDS();
  ClaimReaderForRemoval(r);
  // The terminal is told; with the removal flag set nobody waits for its
  // answer.
  VARNEL_ReadWrite(kRemoved, sc);
  if (r->transport == kTransportKeyboard) {
    DestroyThreads(r);
    r->transport = kTransportSerial;
    DetachFromServer(r);
    DeInitClientServer(r);
  }
  KeCancelTimer(&r->pollTimer);
  WaitX(2000);
  MySmartcardCompleteCardTracking(sc);
  StopWorkerThreads(r);
  WaitX(1000);
  ReleaseSerialPort(r);
  SmartcardExit(sc);
  SmartcardDeleteLink(&ext->linkName);
  ext->~DEVICE_EXTENSION();
  IoDeleteDevice(device);
}

void VARNEL_Unload(PDRIVER_OBJECT driver) {
  while (PDEVICE_OBJECT device = driver->DeviceObject) {
    WaitX(3000);
    VARNEL_RemoveDevice(device);
  }
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  XDS();
  driver->MajorFunction[IRP_MJ_CREATE] = VARNEL_CreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = VARNEL_CreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = VARNEL_Cleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = VARNEL_DeviceControl;
  driver->DriverUnload = VARNEL_Unload;
  if (!NT_SUCCESS(VARNEL_AddNewSmartcardReader(driver, registryPath, 0))) {
    return STATUS_NO_SUCH_DEVICE;
  }
  return STATUS_SUCCESS;
}

}  // namespace k52::varnel
