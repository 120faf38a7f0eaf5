// The serial driver's entry, port devices, open and close.
#include "platform/nt/serial/serial_driver.h"

#include <array>
#include <mutex>
#include <stdexcept>

#include "platform/nt/kernel.h"
#include "platform/nt/serial/port.h"
#include "platform/nt/serial/port_config.h"
#include "platform/nt/serial/tty_line.h"

namespace k52::nt::serial {

namespace {

std::mutex linesMutex;
std::array<std::shared_ptr<SerialLine>, kPortCount> attachedLines;

void setString(UNICODE_STRING& string, const std::wstring& text) {
  string.Buffer = const_cast<PWSTR>(text.c_str());
  string.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
  string.MaximumLength = string.Length;
}

// The lines of this load: attached ones, then configured tty paths.
std::array<std::shared_ptr<SerialLine>, kPortCount> linesToServe() {
  std::array<std::shared_ptr<SerialLine>, kPortCount> lines;
  {
    std::lock_guard lock(linesMutex);
    lines = attachedLines;
  }
  Kernel& kernel = Kernel::current();
  if (const win32::Registry* registry = kernel.registry()) {
    for (const auto& [index, path] : configuredPorts(*registry)) {
      if (!lines[index]) lines[index] = std::make_shared<TtyLine>(kernel.scheduler(), path);
    }
  }
  return lines;
}

NTSTATUS portCreate(PDEVICE_OBJECT device, PIRP irp) {
  PortExtension& ext = *portExtension(device);
  Port& port = *ext.port;
  port.line->configure(port.settings);
  if (!port.line->open(
          [device](std::span<const std::uint8_t> bytes) { receiveBytes(device, bytes); })) {
    return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  port.open = true;
  port.received.clear();
  port.errors = 0;
  KeReleaseSpinLock(&ext.lock, irql);
  return completeRequest(irp, STATUS_SUCCESS, 0);
}

// Cancels every pending read and write.
void abortPending(PortExtension& ext) {
  Completions done;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  abortReads(ext, done);
  abortWrites(ext, done);
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
}

NTSTATUS portCleanup(PDEVICE_OBJECT device, PIRP irp) {
  if (portGone(device)) return completeRequest(irp, STATUS_SUCCESS, 0);
  abortPending(*portExtension(device));
  return completeRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS portClose(PDEVICE_OBJECT device, PIRP irp) {
  if (portGone(device)) return completeRequest(irp, STATUS_SUCCESS, 0);
  PortExtension& ext = *portExtension(device);
  ext.port->line->close();
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  ext.port->open = false;
  ext.port->received.clear();
  KeReleaseSpinLock(&ext.lock, irql);
  return completeRequest(irp, STATUS_SUCCESS, 0);
}

void deletePort(PDEVICE_OBJECT device) {
  PortExtension& ext = *portExtension(device);
  const std::wstring link = dosName(ext.port->index);
  UNICODE_STRING linkName;
  setString(linkName, link);
  IoDeleteSymbolicLink(&linkName);
  // Unloaded while still open: what is pending ends, and no byte may reach
  // the port any more.
  if (ext.port->open) {
    abortPending(ext);
    ext.port->line->close();
  }
  delete ext.port;
  ext.port = nullptr;
  IoDeleteDevice(device);
}

void serialUnload(PDRIVER_OBJECT driver) {
  while (PDEVICE_OBJECT device = driver->DeviceObject) deletePort(device);
}

NTSTATUS createPort(PDRIVER_OBJECT driver, unsigned index, std::shared_ptr<SerialLine> line) {
  const std::wstring name = deviceName(index);
  const std::wstring link = dosName(index);
  UNICODE_STRING deviceString;
  UNICODE_STRING linkString;
  setString(deviceString, name);
  setString(linkString, link);
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(PortExtension), &deviceString,
                                   FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
  if (!NT_SUCCESS(status)) return status;
  device->Flags |= DO_BUFFERED_IO;
  PortExtension& ext = *portExtension(device);
  ext.port = new Port;
  ext.port->index = index;
  ext.port->line = std::move(line);
  ext.port->queueSize = kDefaultReceiveQueue;
  KeInitializeSpinLock(&ext.lock);
  initializeReadTimers(device);
  initializeWriteTimer(device);
  status = IoCreateSymbolicLink(&linkString, &deviceString);
  if (!NT_SUCCESS(status)) deletePort(device);
  return status;
}

}  // namespace

std::wstring deviceName(unsigned index) {
  return L"\\Device\\Serial" + std::to_wstring(index);
}

std::wstring dosName(unsigned index) {
  return L"\\DosDevices\\COM" + std::to_wstring(index + 1);
}

void attachLine(unsigned index, std::shared_ptr<SerialLine> line) {
  if (index >= kPortCount) throw std::out_of_range("serial port index beyond COM15");
  std::lock_guard lock(linesMutex);
  attachedLines[index] = std::move(line);
}

void detachLines() {
  std::lock_guard lock(linesMutex);
  attachedLines = {};
}

NTSTATUS SerialDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  driver->MajorFunction[IRP_MJ_CREATE] = portCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = portCleanup;
  driver->MajorFunction[IRP_MJ_CLOSE] = portClose;
  driver->MajorFunction[IRP_MJ_READ] = dispatchRead;
  driver->MajorFunction[IRP_MJ_WRITE] = dispatchWrite;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
  driver->DriverUnload = serialUnload;
  bool any = false;
  const auto lines = linesToServe();
  for (unsigned index = 0; index < kPortCount; ++index) {
    if (!lines[index]) continue;
    const NTSTATUS status = createPort(driver, index, lines[index]);
    if (!NT_SUCCESS(status)) {
      serialUnload(driver);
      return status;
    }
    any = true;
  }
  return any ? STATUS_SUCCESS : STATUS_DEVICE_CONFIGURATION_ERROR;
}

}  // namespace k52::nt::serial
