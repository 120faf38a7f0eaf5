#include "drivers/ifd/reader_host.h"

#include <stdexcept>

#include "drivers/kbdchannel/driver.h"
#include "drivers/reader/varnel.h"
#include "platform/nt/kbdclass/keyboard_class.h"
#include "platform/nt/ntddk.h"
#include "platform/nt/real_scheduler.h"
#include "platform/nt/serial/port_config.h"
#include "platform/nt/serial/serial_driver.h"
#include "platform/nt/status_name/status_name.h"
#include "platform/smclib/smclib.h"

namespace k52::ifd {
namespace {

// Where the keyboard sits on the PC's I/O bus.
constexpr std::uint16_t kPicMaskPort = 0x21;
constexpr std::uint16_t kControllerPorts = 0x60;  // 0x60 data .. 0x64 status
constexpr std::uint32_t kControllerPortCount = 5;

constexpr const wchar_t* kClassDriver = L"kbdclass";
constexpr const wchar_t* kSerialDriver = L"Serial";

// The keyboard controller with nothing on its cable: it takes every byte and
// never has one to give, so the channel's sends go unacknowledged and fail
// as they would with no keyboard terminal.
class EmptyController final : public nt::PortDevice {
 public:
  std::uint8_t readPort(std::uint16_t) override { return 0; }
  void writePort(std::uint16_t, std::uint8_t) override {}
};

}  // namespace

ReaderHost::ReaderHost(win32::Prefix prefix, const KeyboardSource& keyboard)
    : prefix_(std::move(prefix)) {
  try {
    start(keyboard);
  } catch (...) {
    close();
    throw;
  }
}

ReaderHost::~ReaderHost() {
  close();
}

void ReaderHost::start(const KeyboardSource& keyboard) {
  kernel_ = std::make_unique<nt::Kernel>(std::make_unique<nt::RealScheduler>(), prefix_);
  if (keyboard) keyboard_ = keyboard(prefix_, kernel_->scheduler());
  if (keyboard_) {
    nt::Scheduler& scheduler = kernel_->scheduler();
    keyboard_->onIrq1([&scheduler] { scheduler.interrupt(nt::kbdclass::KeyboardInterrupt); });
  } else {
    emptyController_ = std::make_unique<EmptyController>();
  }
  nt::PortDevice& ports = keyboard_ ? static_cast<nt::PortDevice&>(*keyboard_) : *emptyController_;
  kernel_->bus().map(kPicMaskPort, 1, ports);
  kernel_->bus().map(kControllerPorts, kControllerPortCount, ports);

  const nt::NTSTATUS classStatus =
      kernel_->loadDriver(kClassDriver, nt::kbdclass::KeyboardClassEntry);
  if (!nt::NT_SUCCESS(classStatus)) {
    throw std::runtime_error("the keyboard class driver did not start: " +
                             nt::statusName(classStatus));
  }
  classLoaded_ = true;
  keystrokes_.start();

  // The serial port driver only has ports when the prefix maps some.
  if (!nt::serial::configuredPorts(*kernel_->registry()).empty()) {
    serialLoaded_ =
        nt::NT_SUCCESS(kernel_->loadDriver(kSerialDriver, nt::serial::SerialDriverEntry));
  }

  channelLoaded_ =
      nt::NT_SUCCESS(kernel_->loadDriver(kbdchannel::kDriverName, kbdchannel::DriverEntry));
  const nt::NTSTATUS readerStatus = kernel_->loadDriver(varnel::kDriverName, varnel::DriverEntry);
  if (!nt::NT_SUCCESS(readerStatus)) {
    throw std::runtime_error(std::string("varnel created no reader (") +
                             nt::statusName(readerStatus) +
                             (keyboard_ ? ")" : "; no keyboard is connected)"));
  }
  readerLoaded_ = true;

  nt::NTSTATUS openStatus = nt::STATUS_SUCCESS;
  handle_ = kernel_->openDevice(varnel::kDeviceName, &openStatus);
  if (!handle_) {
    throw std::runtime_error("the reader device did not open: " + nt::statusName(openStatus));
  }
}

ReaderHost::Reply ReaderHost::control(nt::ULONG code, std::span<const std::uint8_t> in,
                                      std::span<std::uint8_t> out) {
  std::shared_lock lock(handleMutex_);
  if (!handle_) return {nt::STATUS_DEVICE_NOT_CONNECTED, 0};
  const auto result = handle_->deviceIoControl(code, in, out);
  return {result.status, result.bytesReturned};
}

nt::NTSTATUS ReaderHost::waitForCard(bool present) {
  const nt::ULONG code = present ? nt::IOCTL_SMARTCARD_IS_PRESENT : nt::IOCTL_SMARTCARD_IS_ABSENT;
  nt::KEVENT event;
  nt::KeInitializeEvent(&event, nt::NotificationEvent, nt::FALSE);
  nt::IO_STATUS_BLOCK iosb{};
  nt::NTSTATUS status;
  {
    // Only the sending happens under the lock: close() must be able to end
    // the handle while the request waits, and that is what completes it.
    std::shared_lock lock(handleMutex_);
    if (!handle_) return nt::STATUS_DEVICE_NOT_CONNECTED;
    nt::PFILE_OBJECT file = handle_->file();
    nt::PDEVICE_OBJECT top = nt::IoGetAttachedDevice(file->DeviceObject);
    nt::PIRP irp = nt::IoBuildDeviceIoControlRequest(code, top, nullptr, 0, nullptr, 0, nt::FALSE,
                                                     &event, &iosb);
    if (irp == nullptr) return nt::STATUS_INSUFFICIENT_RESOURCES;
    nt::IoGetNextIrpStackLocation(irp)->FileObject = file;
    irp->Tail.Overlay.OriginalFileObject = file;
    irp->RequestorMode = nt::UserMode;
    status = nt::IoCallDriver(top, irp);
  }
  if (status == nt::STATUS_PENDING) {
    nt::KeWaitForSingleObject(&event, nt::Executive, nt::KernelMode, nt::FALSE, nullptr);
    status = iosb.Status;
  }
  std::shared_lock lock(handleMutex_);
  return handle_ ? status : nt::STATUS_DEVICE_NOT_CONNECTED;
}

void ReaderHost::closeHandle() {
  std::unique_lock lock(handleMutex_);
  handle_.reset();
}

void ReaderHost::close() {
  closeHandle();
  if (kernel_) unloadDrivers();
  if (keyboard_) keyboard_->onIrq1(nullptr);
  if (kernel_) {
    kernel_->bus().unmap(kPicMaskPort);
    kernel_->bus().unmap(kControllerPorts);
  }
  keyboard_.reset();
  kernel_.reset();
}

void ReaderHost::unloadDrivers() {
  if (readerLoaded_) kernel_->unloadDriver(varnel::kDriverName);
  if (serialLoaded_) kernel_->unloadDriver(kSerialDriver);
  if (channelLoaded_) kernel_->unloadDriver(kbdchannel::kDriverName);
  if (classLoaded_) {
    keystrokes_.stop();
    kernel_->unloadDriver(kClassDriver);
  }
  readerLoaded_ = serialLoaded_ = channelLoaded_ = classLoaded_ = false;
}

}  // namespace k52::ifd
