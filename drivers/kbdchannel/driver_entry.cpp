// Start and unload of the channel driver.
#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {

PDEVICE_OBJECT channelDeviceObj = nullptr;
PDEVICE_OBJECT hookDeviceObj = nullptr;
PDEVICE_OBJECT kbdDeviceObj = nullptr;

ChannelExtension* channel() {
  return channelDeviceObj ? static_cast<ChannelExtension*>(channelDeviceObj->DeviceExtension)
                          : nullptr;
}

namespace {

constexpr USHORT kDefaultLedTimeoutMs = 10;
constexpr ULONG kStartHoldMs = 1000;

// Translates one ISA port; null when it does not land in I/O space.
PUCHAR translatePort(ULONG port) {
  PHYSICAL_ADDRESS busAddress;
  busAddress.QuadPart = port;
  ULONG addressSpace = 1;  // I/O space
  PHYSICAL_ADDRESS translated;
  if (!HalTranslateBusAddress(Isa, 0, busAddress, &addressSpace, &translated) ||
      addressSpace != 1) {
    return nullptr;
  }
  return reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(translated.QuadPart));
}

// One DWORD value of the parameters key, read into *value; absent, or of
// another type, it keeps the value *value already holds.
RTL_QUERY_REGISTRY_TABLE dwordEntry(const wchar_t* name, ULONG* value) {
  RTL_QUERY_REGISTRY_TABLE entry{};
  entry.Flags = RTL_QUERY_REGISTRY_DIRECT;
  entry.Name = const_cast<PWSTR>(name);
  entry.EntryContext = value;
  entry.DefaultType = REG_DWORD;
  entry.DefaultData = value;
  entry.DefaultLength = sizeof(ULONG);
  return entry;
}

void readParameters(ChannelExtension* ext, PUNICODE_STRING registryPath) {
  ULONG ledTimeout = ext->ledTimeoutMs;
  ULONG cwt = ext->keyboardCwt;
  RTL_QUERY_REGISTRY_TABLE table[3] = {
      dwordEntry(L"LEDTimeoutmsecs", &ledTimeout), dwordEntry(L"KeyboardCWT", &cwt), {}};

  std::wstring parameters(registryPath->Buffer, registryPath->Length / sizeof(WCHAR));
  parameters += L"\\Parameters";
  if (NT_SUCCESS(RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, parameters.c_str(), table, nullptr,
                                        nullptr))) {
    ext->ledTimeoutMs = static_cast<USHORT>(ledTimeout);
    ext->keyboardCwt = static_cast<USHORT>(cwt);
  }
}

void deleteNamedDevice(ChannelExtension* ext) {
  IoDeleteSymbolicLink(&ext->linkName);
  IoDeleteDevice(channelDeviceObj);
  channelDeviceObj = nullptr;
}

}  // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_FLUSH_BUFFERS, IRP_MJ_CLEANUP}) {
    driver->MajorFunction[major] = vrlPCSCDrvCreate;
  }
  driver->MajorFunction[IRP_MJ_READ] = vrlPCSCDrvRead;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = vrlPCSCDispatchGeneral;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = vrlPCSC_InternalDeviceControl;
  driver->DriverUnload = vrlPCSCDrvUnload;

  UNICODE_STRING deviceName;
  RtlInitUnicodeString(&deviceName, L"\\Device\\vrlPCSC");
  NTSTATUS status = IoCreateDevice(driver, sizeof(ChannelExtension), &deviceName, kDeviceType, 0,
                                   TRUE, &channelDeviceObj);
  if (!NT_SUCCESS(status)) return status;
  channelDeviceObj->Flags |= DO_BUFFERED_IO;
  auto* ext = new (channelDeviceObj->DeviceExtension) ChannelExtension{};
  hookDeviceObj = kbdDeviceObj = nullptr;
  ext->ledTimeoutMs = kDefaultLedTimeoutMs;
  KeInitializeSpinLock(&ext->fifoLock);

  RtlInitUnicodeString(&ext->linkName, L"\\DosDevices\\vrlPCSC");
  status = IoCreateSymbolicLink(&ext->linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(channelDeviceObj);
    channelDeviceObj = nullptr;
    return status;
  }

  ext->dataPort = translatePort(0x60);
  ext->commandPort = ext->dataPort ? translatePort(0x64) : nullptr;
  ext->interruptMaskPort = ext->commandPort ? translatePort(0x21) : nullptr;
  if (!ext->interruptMaskPort) {
    deleteNamedDevice(ext);
    return STATUS_DEVICE_CONFIGURATION_ERROR;
  }

  status = IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_KEYBOARD, 0, FALSE, &hookDeviceObj);
  if (!NT_SUCCESS(status)) {
    deleteNamedDevice(ext);
    return status;
  }
  hookDeviceObj->Flags |= DO_BUFFERED_IO;
  hookDeviceObj->Flags &= ~DO_DEVICE_INITIALIZING;

  readParameters(ext, registryPath);

  // Nothing goes to the keyboard during the first second.
  KeInitializeTimer(&ext->ledTimer);
  KeInitializeDpc(&ext->ledTimerDpc, LEDTimerCallBack, ext);
  ext->timeIncrement = KeQueryTimeIncrement();
  armLedHold(ext, kStartHoldMs);
  return STATUS_SUCCESS;
}

void vrlPCSCDrvUnload(PDRIVER_OBJECT) {
  ChannelExtension* ext = channel();
  if (ext->unloadCallback) ext->unloadCallback(ext->callbackContext);
  KeCancelTimer(&ext->ledTimer);
  vrlPCSCUnhook(channelDeviceObj);
  IoDeleteDevice(hookDeviceObj);
  hookDeviceObj = nullptr;
  IoDeleteSymbolicLink(&ext->linkName);
  ext->~ChannelExtension();
  IoDeleteDevice(channelDeviceObj);
  channelDeviceObj = nullptr;
}

}  // namespace k52::kbdchannel
