// The driver's request interfaces: internal requests for the reader driver,
// control requests for tools, and the requests the filter device passes on.
#include <cstring>

#include "drivers/kbdchannel/channel.h"

namespace k52::kbdchannel {
namespace {

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR bytes) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = bytes;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// The buffered request's sizes and its one system buffer.
struct Buffered {
  ULONG code, inLength, outLength;
  PUCHAR buffer;

  explicit Buffered(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    code = stack->Parameters.DeviceIoControl.IoControlCode;
    inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
  }
  bool in(ULONG size) const { return buffer && inLength >= size; }
  bool out(ULONG size) const { return buffer && outLength >= size; }
  template <typename T>
  T read() const {
    T value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
  }
  template <typename T>
  ULONG write(const T& value) const {
    std::memcpy(buffer, &value, sizeof value);
    return sizeof value;
  }
};

NTSTATUS attach(ChannelExtension* ext, const Buffered& request) {
  if (!request.in(sizeof(AttachRecord))) return STATUS_INVALID_BUFFER_SIZE;
  const auto record = request.read<AttachRecord>();
  ext->unloadCallback = record.unloadCallback;
  ext->callbackContext = record.context;
  ext->dataCallback = record.dataCallback;
  ext->callbacksSet = 1;
  const NTSTATUS status = vrlPCSCHook(channelDeviceObj);
  if (NT_SUCCESS(status)) {
    ext->filterMode |= kFilterOn | kFilterAttached;
    SetKeyboardCWT(ext);
  }
  return status;
}

NTSTATUS send(ChannelExtension* ext, const Buffered& request, ULONG_PTR& bytes) {
  if (!request.in(sizeof(SendRequest)) || !request.out(sizeof(USHORT))) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  const auto send = request.read<SendRequest>();
  const USHORT result = request.code == IOCTL_VRLPCSC_SEND_TERMINAL
                            ? vrlPCSC_SendStrCardTerminal(ext, send.length, send.data)
                            : vrlPCSC_SendStrKeyboard(ext, send.length, send.data);
  bytes = request.write(result);
  return STATUS_SUCCESS;
}

bool isControllerPort(UCHAR port) {
  return port == 0x60 || port == 0x64;
}

// Requests that reach the controller or the interrupt controller directly.
bool touchesPorts(ULONG code) {
  switch (code) {
    case IOCTL_VRL_PORT_WRITE:
    case IOCTL_VRL_PORT_READ_DISCARD:
    case IOCTL_VRL_PORT_READ:
    case IOCTL_VRL_ENABLE_KB_INT:
    case IOCTL_VRL_DISABLE_KB_INT:
    case IOCTL_VRL_CMD_BYTE_READ:
    case IOCTL_VRL_CMD_BYTE_WRITE:
      return true;
    default:
      return false;
  }
}

// Port access from user mode is for those who could load a driver anyway.
bool mayTouchPorts(PIRP irp) {
  return SeSinglePrivilegeCheck(RtlConvertLongToLuid(SE_LOAD_DRIVER_PRIVILEGE), irp->RequestorMode);
}

// One control request; returns its status and sets the byte count.
NTSTATUS control(ChannelExtension* ext, const Buffered& r, ULONG_PTR& bytes) {
  switch (r.code) {
    case IOCTL_VRL_VERSION:
    case IOCTL_VRL_VERSION_2:
      if (r.out(2)) bytes = r.write(kInterfaceVersion);
      return STATUS_SUCCESS;
    case IOCTL_VRL_HOOK: {
      NTSTATUS status = STATUS_SUCCESS;
      USHORT word = 0;
      if (!ext->hooked) {
        status = vrlPCSCHook(channelDeviceObj);
        word = 1;
      }
      if (r.out(2)) bytes = r.write(word);
      return status;
    }
    case IOCTL_VRL_UNHOOK:
      vrlPCSCUnhook(channelDeviceObj);
      return STATUS_SUCCESS;
    case IOCTL_VRL_FIFO_COUNT:
      if (r.out(2)) bytes = r.write(GetFifoCount(ext));
      return STATUS_SUCCESS;
    case IOCTL_VRL_FIFO_READ: {
      if (!r.out(sizeof(FifoEntry))) return STATUS_SUCCESS;
      FifoEntry entry{};
      if (!NT_SUCCESS(Fifout(ext, &entry))) return STATUS_UNSUCCESSFUL;
      bytes = r.write(entry);
      return STATUS_SUCCESS;
    }
    case IOCTL_VRL_FIFO_CLEAR:
      ClearFifo(ext);
      return STATUS_SUCCESS;
    case IOCTL_VRL_PORT_WRITE:
      if (r.in(2) && isControllerPort(r.buffer[0])) OutputByte(ext, r.buffer[0], r.buffer[1]);
      return STATUS_SUCCESS;
    case IOCTL_VRL_PORT_READ_DISCARD:
      if (r.in(1) && isControllerPort(r.buffer[0])) ReadPort(ext, r.buffer[0]);
      return STATUS_SUCCESS;
    case IOCTL_VRL_PORT_READ:
      if (r.in(1) && r.out(1) && isControllerPort(r.buffer[0])) {
        r.buffer[0] = InputByte(ext, r.buffer[0]);
        bytes = 1;
      }
      return STATUS_SUCCESS;
    case IOCTL_VRL_FIFO_PEEK: {
      if (!r.out(sizeof(FifoEntry))) return STATUS_SUCCESS;
      FifoEntry entry{};
      Fifcheck(ext, &entry);
      bytes = r.write(entry);
      return STATUS_SUCCESS;
    }
    case IOCTL_VRL_TICK_COUNT:
      if (r.out(4)) bytes = r.write(GetTickCount(ext));
      return STATUS_SUCCESS;
    case IOCTL_VRL_ENABLE_KB_INT:
      EnableKbInt(ext);
      return STATUS_SUCCESS;
    case IOCTL_VRL_DISABLE_KB_INT:
      DisableKbInt(ext);
      return STATUS_SUCCESS;
    case IOCTL_VRL_FILTER_ON:
      ext->filterMode |= kFilterOn;
      return STATUS_SUCCESS;
    case IOCTL_VRL_FILTER_OFF:
      ext->filterMode &= ~kFilterOn;
      return STATUS_SUCCESS;
    case IOCTL_VRL_FILTER_MODE:
      if (r.out(2)) bytes = r.write(ext->filterMode);
      return STATUS_SUCCESS;
    case IOCTL_VRL_FILTER_EXCHANGE:
      if (r.in(2) && r.out(2)) {
        const auto newMode = r.read<USHORT>();
        bytes = r.write(ext->filterMode);
        ext->filterMode = newMode;
      }
      return STATUS_SUCCESS;
    case IOCTL_VRL_CMD_BYTE_READ: {
      if (!r.out(1)) return STATUS_SUCCESS;
      UCHAR value = 0;
      if (!Get8042CmdByte(ext, &value)) return STATUS_IO_TIMEOUT;
      bytes = r.write(value);
      return STATUS_SUCCESS;
    }
    case IOCTL_VRL_CMD_BYTE_WRITE:
      if (r.in(1)) Write8042CmdByte(ext, r.buffer[0]);
      return STATUS_SUCCESS;
    case IOCTL_VRL_NOTHING:
      return STATUS_SUCCESS;
    case IOCTL_VRL_AWAITING_ACK:
      if (r.out(4)) bytes = r.write(ULONG{ext->awaitingAck});
      return STATUS_SUCCESS;
    case IOCTL_VRL_SEND_HOLD:
      if (r.out(4)) bytes = r.write(ULONG{ext->sendHold});
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

}  // namespace

NTSTATUS vrlPCSCPassThrough(PDEVICE_OBJECT, PIRP irp) {
  if (!kbdDeviceObj) return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(kbdDeviceObj, irp);
}

NTSTATUS vrlPCSCDrvCreate(PDEVICE_OBJECT device, PIRP irp) {
  if (device == hookDeviceObj) return vrlPCSCPassThrough(device, irp);
  return complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS vrlPCSCDispatchGeneral(PDEVICE_OBJECT device, PIRP irp) {
  if (device == hookDeviceObj) return vrlPCSCPassThrough(device, irp);
  const Buffered request(irp);
  if (touchesPorts(request.code) && !mayTouchPorts(irp)) {
    return complete(irp, STATUS_ACCESS_DENIED, 0);
  }
  ULONG_PTR bytes = 0;
  const NTSTATUS status = control(channel(), request, bytes);
  return complete(irp, status, bytes);
}

NTSTATUS vrlPCSC_InternalDeviceControl(PDEVICE_OBJECT, PIRP irp) {
  ChannelExtension* ext = channel();
  const Buffered request(irp);
  ULONG_PTR bytes = 0;
  NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
  switch (request.code) {
    case IOCTL_VRLPCSC_ATTACH:
      status = attach(ext, request);
      break;
    case IOCTL_VRLPCSC_DETACH:
      ext->unloadCallback = nullptr;
      ext->dataCallback = nullptr;
      ext->callbackContext = nullptr;
      ext->callbacksSet = 1;
      vrlPCSCUnhook(channelDeviceObj);
      ext->filterMode = 0;
      status = STATUS_SUCCESS;
      break;
    case IOCTL_VRLPCSC_SEND_KEYBOARD:
    case IOCTL_VRLPCSC_SEND_TERMINAL:
      status = send(ext, request, bytes);
      break;
    case IOCTL_VRLPCSC_READ_FIFO: {
      if (!request.out(sizeof(FifoEntry))) {
        status = STATUS_INVALID_BUFFER_SIZE;
        break;
      }
      FifoEntry entry{};
      status = Fifout(ext, &entry);
      if (NT_SUCCESS(status)) bytes = request.write(entry);
      break;
    }
  }
  return complete(irp, status, bytes);
}

}  // namespace k52::kbdchannel
