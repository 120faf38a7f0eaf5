#include "tools/vrlctl/session.h"

#include <cstdio>
#include <cstring>
#include <iomanip>
#include <map>

#include "drivers/kbdchannel/driver.h"
#include "drivers/kbdchannel/vrlpcsc.h"
#include "platform/nt/status_name/status_name.h"
#include "platform/nt/virtual_scheduler.h"
#include "platform/text/hex.h"
#include "sim/kbdstack/keyboard_pc.h"

namespace k52::vrlctl {
namespace {

using namespace k52::kbdchannel;
using Bytes = std::vector<std::uint8_t>;

struct Request {
  nt::ULONG code;
  std::size_t outSize;
};

// The control request behind each step that is one.
const std::map<Op, Request> kRequests = {
    {Op::Version, {IOCTL_VRL_VERSION, 2}},
    {Op::Hook, {IOCTL_VRL_HOOK, 2}},
    {Op::Unhook, {IOCTL_VRL_UNHOOK, 0}},
    {Op::FifoCount, {IOCTL_VRL_FIFO_COUNT, 2}},
    {Op::FifoRead, {IOCTL_VRL_FIFO_READ, 8}},
    {Op::FifoPeek, {IOCTL_VRL_FIFO_PEEK, 8}},
    {Op::FifoClear, {IOCTL_VRL_FIFO_CLEAR, 0}},
    {Op::FilterOn, {IOCTL_VRL_FILTER_ON, 0}},
    {Op::FilterOff, {IOCTL_VRL_FILTER_OFF, 0}},
    {Op::FilterMode, {IOCTL_VRL_FILTER_MODE, 2}},
    {Op::FilterSet, {IOCTL_VRL_FILTER_EXCHANGE, 2}},
    {Op::CmdByte, {IOCTL_VRL_CMD_BYTE_READ, 1}},
    {Op::CmdByteSet, {IOCTL_VRL_CMD_BYTE_WRITE, 0}},
    {Op::PortRead, {IOCTL_VRL_PORT_READ, 1}},
    {Op::PortWrite, {IOCTL_VRL_PORT_WRITE, 0}},
    {Op::KbIntOn, {IOCTL_VRL_ENABLE_KB_INT, 0}},
    {Op::KbIntOff, {IOCTL_VRL_DISABLE_KB_INT, 0}},
    {Op::Tick, {IOCTL_VRL_TICK_COUNT, 4}},
    {Op::Ack, {IOCTL_VRL_AWAITING_ACK, 4}},
    {Op::Hold, {IOCTL_VRL_SEND_HOLD, 4}},
};

std::uint32_t little(const Bytes& bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

std::string hexWord(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", digits, value);
  return text;
}

// The input bytes of a request step.
Bytes inputOf(const Step& step) {
  switch (step.op) {
    case Op::FilterSet:
      return {static_cast<std::uint8_t>(step.number), static_cast<std::uint8_t>(step.number >> 8)};
    case Op::CmdByteSet:
      return {static_cast<std::uint8_t>(step.number)};
    default:
      return step.bytes;
  }
}

std::string describe(const Step& step, const Bytes& out) {
  switch (step.op) {
    case Op::FifoRead:
    case Op::FifoPeek: {
      FifoEntry entry;
      std::memcpy(&entry, out.data(), sizeof entry);
      return hexWord(entry.value, 2) + " port " + hexWord(entry.port, 2) + " kind " +
             std::to_string(entry.kind) + " time " + std::to_string(entry.time);
    }
    case Op::FifoCount:
    case Op::Tick:
    case Op::Ack:
    case Op::Hold:
      return std::to_string(little(out));
    default:
      return out.empty() ? "ok" : hexWord(little(out), static_cast<int>(out.size() * 2));
  }
}

std::string statusText(nt::NTSTATUS status) {
  switch (status) {
    case nt::STATUS_ACCESS_DENIED:
      return "access denied (port requests need a privileged caller)";
    case nt::STATUS_UNSUCCESSFUL:
      return "the FIFO is empty";
    case nt::STATUS_IO_TIMEOUT:
      return "the keyboard controller did not answer";
    default:
      return "failed with " + nt::statusName(status);
  }
}

}  // namespace

int runSession(const CommandLine& line, bool privileged, std::ostream& out, std::ostream& err) {
  sim::EchoFirmware firmware;
  sim::KeyboardPc pc(std::make_unique<nt::VirtualScheduler>(1), firmware,
                     win32::Prefix::resolve(line.prefix));
  const nt::NTSTATUS loaded = pc.kernel().loadDriver(kDriverName, DriverEntry);
  if (!nt::NT_SUCCESS(loaded)) {
    err << "vrlctl: the channel driver did not start (" << statusText(loaded) << ")\n";
    return 1;
  }
  nt::NTSTATUS opened = nt::STATUS_SUCCESS;
  auto handle = pc.kernel().openDevice(L"\\\\.\\vrlPCSC", &opened, privileged);
  int status = 0;
  if (!handle) {
    err << "vrlctl: cannot open the channel (" << statusText(opened) << ")\n";
    status = 1;
  }
  for (const Step& step : handle ? line.steps : std::vector<Step>{}) {
    if (step.op == Op::Keys) {
      for (std::uint8_t code : step.bytes) pc.keyboard().press(code);
      pc.scheduler().runFor(std::chrono::milliseconds(3 * step.bytes.size() + 20));
      out << step.name << ": ok\n";
      continue;
    }
    if (step.op == Op::Wait) {
      pc.scheduler().runFor(std::chrono::milliseconds(step.number));
      out << step.name << ": ok\n";
      continue;
    }
    if (step.op == Op::Typed) {
      out << step.name << ": " << text::formatHex(pc.reader().codes()) << '\n';
      continue;
    }
    const Request& request = kRequests.at(step.op);
    Bytes reply(request.outSize);
    const auto result = handle->deviceIoControl(request.code, inputOf(step), reply);
    if (!nt::NT_SUCCESS(result.status)) {
      err << "vrlctl: " << step.name << ": " << statusText(result.status) << '\n';
      status = 1;
      break;
    }
    reply.resize(result.bytesReturned);
    out << step.name << ": " << describe(step, reply) << '\n';
  }
  handle.reset();
  pc.kernel().unloadDriver(kDriverName);
  return status;
}

}  // namespace k52::vrlctl
