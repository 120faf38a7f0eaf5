// Device controls: line set-up, time-outs, purge and status.
#include <cstring>

#include "platform/nt/serial/port.h"

namespace k52::nt::serial {

namespace {

constexpr ULONG kPurgeBits =
    SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;

bool validLineControl(const SERIAL_LINE_CONTROL& c) {
  if (c.WordLength < 5 || c.WordLength > 8 || c.Parity > SPACE_PARITY) return false;
  switch (c.StopBits) {
    case STOP_BIT_1:
      return true;
    case STOP_BITS_1_5:
      return c.WordLength == 5;
    case STOP_BITS_2:
      return c.WordLength != 5;
    default:
      return false;
  }
}

// One device control; runs with the port lock held and fills `done` with
// requests to complete after it.
class Control {
 public:
  Control(PortExtension& ext, PIRP irp, Completions& done)
      : ext_(ext),
        port_(*ext.port),
        done_(done),
        buffer_(irp->AssociatedIrp.SystemBuffer),
        in_(IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength),
        out_(IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength) {}

  // The status; *returned receives the output byte count.
  NTSTATUS run(ULONG code, ULONG_PTR* returned) {
    switch (code) {
      case IOCTL_SERIAL_SET_BAUD_RATE:
        return set<SERIAL_BAUD_RATE>([&](const SERIAL_BAUD_RATE& b) {
          if (b.BaudRate == 0) return STATUS_INVALID_PARAMETER;
          LineSettings s = port_.settings;
          s.baudRate = b.BaudRate;
          return apply(s);
        });
      case IOCTL_SERIAL_GET_BAUD_RATE:
        return get(SERIAL_BAUD_RATE{port_.settings.baudRate}, returned);
      case IOCTL_SERIAL_SET_LINE_CONTROL:
        return set<SERIAL_LINE_CONTROL>([&](const SERIAL_LINE_CONTROL& c) {
          if (!validLineControl(c)) return STATUS_INVALID_PARAMETER;
          LineSettings s = port_.settings;
          s.dataBits = c.WordLength;
          s.parity = c.Parity;
          s.stopBits = c.StopBits;
          return apply(s);
        });
      case IOCTL_SERIAL_GET_LINE_CONTROL: {
        const LineSettings& s = port_.settings;
        return get(SERIAL_LINE_CONTROL{s.stopBits, s.parity, s.dataBits}, returned);
      }
      case IOCTL_SERIAL_SET_TIMEOUTS:
        return set<SERIAL_TIMEOUTS>([&](const SERIAL_TIMEOUTS& t) {
          if (t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == MAXULONG &&
              t.ReadTotalTimeoutConstant == MAXULONG) {
            return STATUS_INVALID_PARAMETER;
          }
          port_.timeouts = t;
          return STATUS_SUCCESS;
        });
      case IOCTL_SERIAL_GET_TIMEOUTS:
        return get(port_.timeouts, returned);
      case IOCTL_SERIAL_SET_CHARS:
        return set<SERIAL_CHARS>([&](const SERIAL_CHARS& c) {
          port_.chars = c;
          return STATUS_SUCCESS;
        });
      case IOCTL_SERIAL_GET_CHARS:
        return get(port_.chars, returned);
      case IOCTL_SERIAL_SET_HANDFLOW:
        return set<SERIAL_HANDFLOW>([&](const SERIAL_HANDFLOW& h) {
          if ((h.ControlHandShake & SERIAL_CONTROL_INVALID) ||
              (h.FlowReplace & SERIAL_FLOW_INVALID) || h.XonLimit < 0 || h.XoffLimit < 0 ||
              static_cast<ULONG>(h.XonLimit) > port_.queueSize ||
              static_cast<ULONG>(h.XoffLimit) > port_.queueSize) {
            return STATUS_INVALID_PARAMETER;
          }
          port_.handflow = h;
          return STATUS_SUCCESS;
        });
      case IOCTL_SERIAL_GET_HANDFLOW:
        return get(port_.handflow, returned);
      case IOCTL_SERIAL_SET_QUEUE_SIZE:
        return set<SERIAL_QUEUE_SIZE>([&](const SERIAL_QUEUE_SIZE& q) {
          if (q.InSize > port_.queueSize) port_.queueSize = q.InSize;
          return STATUS_SUCCESS;
        });
      case IOCTL_SERIAL_PURGE:
        return set<ULONG>([&](ULONG mask) { return purge(mask); });
      case IOCTL_SERIAL_GET_COMMSTATUS:
        return get(status(), returned);
      default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
  }

 private:
  template <typename T, typename F>
  NTSTATUS set(F&& take) {
    if (in_ < sizeof(T)) return STATUS_BUFFER_TOO_SMALL;
    T value;
    std::memcpy(&value, buffer_, sizeof(T));
    return take(value);
  }

  template <typename T>
  NTSTATUS get(const T& value, ULONG_PTR* returned) {
    if (out_ < sizeof(T)) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(buffer_, &value, sizeof(T));
    *returned = sizeof(T);
    return STATUS_SUCCESS;
  }

  NTSTATUS apply(const LineSettings& settings) {
    if (!port_.line->configure(settings)) return STATUS_INVALID_PARAMETER;
    port_.settings = settings;
    return STATUS_SUCCESS;
  }

  NTSTATUS purge(ULONG mask) {
    if (mask == 0 || (mask & ~kPurgeBits)) return STATUS_INVALID_PARAMETER;
    if (mask & SERIAL_PURGE_TXABORT) abortWrites(ext_, done_);
    if (mask & SERIAL_PURGE_RXABORT) abortReads(ext_, done_);
    // Writes go out from their requests, so what waits to go out is the
    // line's; a write still running then ends on time all the same.
    if (mask & SERIAL_PURGE_TXCLEAR) port_.line->abortTransmit();
    if (mask & SERIAL_PURGE_RXCLEAR) {
      port_.received.clear();
      port_.line->discardReceived();
    }
    return STATUS_SUCCESS;
  }

  SERIAL_STATUS status() {
    SERIAL_STATUS s{};
    s.Errors = port_.errors;
    port_.errors = 0;
    s.AmountInInQueue = static_cast<ULONG>(port_.received.size());
    for (PIRP irp : port_.writes) {
      s.AmountInOutQueue += IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    }
    if (port_.currentWrite) {
      const ULONG length =
          IoGetCurrentIrpStackLocation(port_.currentWrite)->Parameters.Write.Length;
      s.AmountInOutQueue += length - charactersSent(port_);
    }
    return s;
  }

  PortExtension& ext_;
  Port& port_;
  Completions& done_;
  PVOID buffer_;
  ULONG in_;
  ULONG out_;
};

}  // namespace

NTSTATUS dispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  if (portGone(device)) return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  PortExtension& ext = *portExtension(device);
  const ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
  Completions done;
  ULONG_PTR returned = 0;
  KIRQL irql;
  KeAcquireSpinLock(&ext.lock, &irql);
  const NTSTATUS status = Control(ext, irp, done).run(code, &returned);
  KeReleaseSpinLock(&ext.lock, irql);
  done.completeAll();
  return completeRequest(irp, status, returned);
}

}  // namespace k52::nt::serial
