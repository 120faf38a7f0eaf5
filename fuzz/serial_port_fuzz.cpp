// Client requests of any shape against the serial port driver: device
// controls with arbitrary codes and buffers (time-outs, line settings,
// purge masks included), reads and writes of any length, cancels, bytes
// from the far end and the clock moving in between. Every request must
// complete by the time the port is closed, never reporting more bytes than
// it asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/nt/kernel.h"
#include "platform/nt/serial/serial_driver.h"
#include "platform/nt/serial/simulated_line.h"
#include "platform/nt/virtual_scheduler.h"

namespace {

using namespace k52::nt;
using namespace k52::nt::serial;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::vector<std::uint8_t> bytes(std::size_t n) {
    std::vector<std::uint8_t> out;
    while (out.size() < n) out.push_back(next());
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Request {
  KEVENT event;
  IO_STATUS_BLOCK iosb{};
  PIRP irp = nullptr;
  std::vector<std::uint8_t> buffer;
};

// One kernel and line serve every input; the driver is loaded per input so
// that no setting carries over.
struct World {
  World()
      : kernel(std::make_unique<VirtualScheduler>(1)),
        line(std::make_shared<SimulatedLine>(kernel.scheduler())) {
    attachLine(0, line);
  }
  Kernel kernel;
  std::shared_ptr<SimulatedLine> line;
};

World& world() {
  static World* w = new World;
  return *w;
}

void start(std::vector<std::unique_ptr<Request>>& requests, PDEVICE_OBJECT device, UCHAR major,
           std::vector<std::uint8_t> buffer) {
  auto r = std::make_unique<Request>();
  KeInitializeEvent(&r->event, NotificationEvent, FALSE);
  r->buffer = std::move(buffer);
  r->irp = IoBuildSynchronousFsdRequest(major, device, r->buffer.data(),
                                        static_cast<ULONG>(r->buffer.size()), nullptr, &r->event,
                                        &r->iosb);
  IoCallDriver(device, r->irp);
  requests.push_back(std::move(r));
}

bool done(Request& r) {
  return KeReadStateEvent(&r.event) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& w = world();
  Scheduler& scheduler = w.kernel.scheduler();
  if (w.kernel.loadDriver(L"Serial", SerialDriverEntry) != STATUS_SUCCESS) std::abort();
  UNICODE_STRING name;
  const std::wstring portName = deviceName(0);
  RtlInitUnicodeString(&name, portName.c_str());
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  if (IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device) != STATUS_SUCCESS) {
    std::abort();
  }
  std::vector<std::unique_ptr<Request>> requests;
  Input in(data, size);
  while (!in.empty()) {
    switch (in.next() % 6) {
      case 0: {
        const ULONG code = serialControlCode(in.next() % 32);
        std::vector<std::uint8_t> input = in.bytes(in.next() % 40);
        std::vector<std::uint8_t> output(in.next() % 40);
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        IO_STATUS_BLOCK iosb{};
        PIRP irp = IoBuildDeviceIoControlRequest(
            code, device, input.data(), static_cast<ULONG>(input.size()), output.data(),
            static_cast<ULONG>(output.size()), FALSE, &event, &iosb);
        IoCallDriver(device, irp);
        // Device controls complete at once.
        if (!KeReadStateEvent(&event)) std::abort();
        if (iosb.Information > output.size()) std::abort();
        break;
      }
      case 1:
        start(requests, device, IRP_MJ_WRITE, in.bytes(in.next() % 64));
        break;
      case 2:
        start(requests, device, IRP_MJ_READ, std::vector<std::uint8_t>(in.next() % 64));
        break;
      case 3:
        w.line->send(in.bytes(in.next() % 32));
        break;
      case 4:
        scheduler.runFor(std::chrono::milliseconds(in.next()));
        break;
      case 5:
        if (!requests.empty()) {
          Request& r = *requests[in.next() % requests.size()];
          if (!done(r)) IoCancelIrp(r.irp);
        }
        break;
    }
  }
  ObDereferenceObject(file);
  for (const auto& r : requests) {
    if (!done(*r) || r->iosb.Information > r->buffer.size()) std::abort();
  }
  if (!w.kernel.unloadDriver(L"Serial")) std::abort();
  return 0;
}
