// For the tests: a client of a serial port that works the way the reader
// driver does (open by name with IoGetDeviceObjectPointer, requests built
// with IoBuild*Request, waits with a time-out, IoCancelIrp), and a rig with
// the driver on the virtual clock and a scripted device on COM1's line.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/nt/serial/serial_driver.h"
#include "platform/nt/serial/simulated_line.h"
#include "platform/nt/test_kernel.h"

namespace k52::nt::serial {

using Bytes = std::vector<std::uint8_t>;

class PortClient {
 public:
  // A request on its way; complete once event is signalled.
  struct Pending {
    KEVENT event;
    IO_STATUS_BLOCK iosb{};
    PIRP irp = nullptr;
    Bytes buffer;

    bool done() { return KeReadStateEvent(&event) != 0; }
    // The bytes the request moved.
    Bytes data() const { return Bytes(buffer.begin(), buffer.begin() + iosb.Information); }
  };

  explicit PortClient(const std::wstring& name = deviceName(0)) {
    UNICODE_STRING string;
    RtlInitUnicodeString(&string, name.c_str());
    status_ = IoGetDeviceObjectPointer(&string, FILE_ALL_ACCESS, &file_, &device_);
  }
  ~PortClient() { close(); }
  PortClient(const PortClient&) = delete;
  PortClient& operator=(const PortClient&) = delete;

  NTSTATUS openStatus() const { return status_; }
  void close() {
    if (NT_SUCCESS(status_) && file_) ObDereferenceObject(file_);
    file_ = nullptr;
  }

  NTSTATUS control(ULONG code, const void* in, ULONG inLength, void* out, ULONG outLength,
                   ULONG_PTR* returned = nullptr) {
    Pending p;
    KeInitializeEvent(&p.event, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, device_, const_cast<void*>(in), inLength, out,
                                             outLength, FALSE, &p.event, &p.iosb);
    NTSTATUS status = IoCallDriver(device_, irp);
    if (status == STATUS_PENDING) {
      KeWaitForSingleObject(&p.event, Executive, KernelMode, FALSE, nullptr);
      status = p.iosb.Status;
    }
    if (returned) *returned = p.iosb.Information;
    return status;
  }
  template <typename T>
  NTSTATUS set(ULONG code, const T& value) {
    return control(code, &value, sizeof value, nullptr, 0);
  }
  template <typename T>
  NTSTATUS get(ULONG code, T* value) {
    return control(code, nullptr, 0, value, sizeof *value);
  }
  NTSTATUS setTimeouts(ULONG interval, ULONG multiplier, ULONG constant, ULONG writeMultiplier = 0,
                       ULONG writeConstant = 0) {
    return set(IOCTL_SERIAL_SET_TIMEOUTS,
               SERIAL_TIMEOUTS{interval, multiplier, constant, writeMultiplier, writeConstant});
  }
  NTSTATUS setLine(ULONG baud, UCHAR dataBits, UCHAR parity, UCHAR stopBits) {
    const NTSTATUS status = set(IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{baud});
    if (!NT_SUCCESS(status)) return status;
    return set(IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{stopBits, parity, dataBits});
  }

  std::unique_ptr<Pending> startRead(ULONG count) { return start(IRP_MJ_READ, Bytes(count)); }
  std::unique_ptr<Pending> startWrite(Bytes data) { return start(IRP_MJ_WRITE, std::move(data)); }

  // Waits for the request up to `limit` (null: for ever); false on time-out.
  static bool wait(Pending& p, const LARGE_INTEGER* limit = nullptr) {
    LARGE_INTEGER t = limit ? *limit : LARGE_INTEGER{};
    return KeWaitForSingleObject(&p.event, Executive, KernelMode, FALSE, limit ? &t : nullptr) ==
           STATUS_SUCCESS;
  }
  // Cancels a request that has not completed, and waits for it.
  static void cancel(Pending& p) {
    if (!p.done()) IoCancelIrp(p.irp);
    wait(p);
  }

  std::unique_ptr<Pending> read(ULONG count) {
    auto p = startRead(count);
    wait(*p);
    return p;
  }
  std::unique_ptr<Pending> write(Bytes data) {
    auto p = startWrite(std::move(data));
    wait(*p);
    return p;
  }

 private:
  std::unique_ptr<Pending> start(UCHAR major, Bytes buffer) {
    auto p = std::make_unique<Pending>();
    KeInitializeEvent(&p->event, NotificationEvent, FALSE);
    p->buffer = std::move(buffer);
    p->irp = IoBuildSynchronousFsdRequest(major, device_, p->buffer.data(),
                                          static_cast<ULONG>(p->buffer.size()), nullptr, &p->event,
                                          &p->iosb);
    IoCallDriver(device_, p->irp);
    return p;
  }

  NTSTATUS status_;
  PFILE_OBJECT file_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
};

// A device model that notes what reaches it and answers by script.
class ScriptedDevice : public SerialDevice {
 public:
  struct Arrival {
    Duration at;
    std::uint8_t byte;
  };

  ScriptedDevice(Scheduler& scheduler, SimulatedLine& line) : scheduler_(scheduler), line_(line) {}

  void receive(std::uint8_t byte) override {
    arrivals.push_back({scheduler_.now(), byte});
    if (onByte) onByte(byte);
  }

  // Sends `bytes` to the port `delay` from now, as a Device event.
  void sendIn(Duration delay, Bytes bytes) {
    scheduler_.schedule(
        delay, [this, bytes] { line_.send(bytes); }, EventKind::Device);
  }

  Bytes received() const {
    Bytes bytes;
    for (const Arrival& a : arrivals) bytes.push_back(a.byte);
    return bytes;
  }

  std::vector<Arrival> arrivals;
  std::function<void(std::uint8_t)> onByte;

 private:
  Scheduler& scheduler_;
  SimulatedLine& line_;
};

// The driver with COM1 on a simulated line to a ScriptedDevice.
class SerialRig {
 public:
  SerialRig()
      : kernel_(std::make_unique<VirtualScheduler>(1)),
        line_(std::make_shared<SimulatedLine>(kernel_.scheduler())),
        device_(kernel_.scheduler(), *line_) {
    line_->attach(&device_);
    attachLine(0, line_);
    EXPECT_EQ(kernel_.loadDriver(L"Serial", SerialDriverEntry), STATUS_SUCCESS);
  }
  ~SerialRig() {
    line_->attach(nullptr);
    kernel_.unloadDriver(L"Serial");
    detachLines();
  }

  Scheduler& scheduler() { return kernel_.scheduler(); }
  Kernel& kernel() { return kernel_; }
  SimulatedLine& line() { return *line_; }
  ScriptedDevice& device() { return device_; }

 private:
  Kernel kernel_;
  std::shared_ptr<SimulatedLine> line_;
  ScriptedDevice device_;
};

// A test with COM1 open and set to 9600 baud, 8 data bits, even parity and
// two stop bits, the line the reader driver uses.
class OpenPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(port_.openStatus(), STATUS_SUCCESS);
    ASSERT_EQ(port_.setLine(9600, 8, EVEN_PARITY, STOP_BITS_2), STATUS_SUCCESS);
  }

  SerialRig rig_;
  PortClient port_;
};

}  // namespace k52::nt::serial
