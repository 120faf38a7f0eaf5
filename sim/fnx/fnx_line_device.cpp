#include "sim/fnx/fnx_line_device.h"

#include "platform/win32/comm/comm.h"

namespace k52::sim {

using namespace std::chrono_literals;

namespace {
// How long the change signal's break lasts.
constexpr Duration kChangeBreak = 2ms;
}  // namespace

FnxLineDevice::FnxLineDevice(std::shared_ptr<win32::SimulatedCommLine> line, FnxConfig config)
    : line_(std::move(line)),
      firmware_(config, [this](std::span<const std::uint8_t> bytes) { sendToHost(bytes); }) {
  firmware_.onCardChange = [this] { line_->sendBreak(kChangeBreak); };
  line_->setInputs(win32::MS_CTS_ON | win32::MS_DSR_ON);
  line_->attach(this);
}

FnxLineDevice::~FnxLineDevice() {
  line_->attach(nullptr);
}

bool FnxLineDevice::frameMatches(const win32::LineFrame& host) const {
  const std::int32_t speed = firmware_.speed();
  return speed <= firmware_.config().maxSpeed && FnxFirmware::rateMatches(host.baudRate, speed) &&
         host.dataBits == 8 && host.parity == firmware_.lineParity() &&
         host.stopBits == win32::TWOSTOPBITS;
}

void FnxLineDevice::receive(std::uint8_t byte, const win32::LineFrame& hostFrame) {
  if (breakOn_) return;
  // A zero at a crawling rate holds the line low as long as a break does:
  // the driver channel's reset pulse.
  if (byte == 0x00 && hostFrame.baudRate <= 1200) {
    firmware_.lineBreak();
    return;
  }
  if (frameMatches(hostFrame)) {
    firmware_.receive(byte, line_->now());
  } else {
    firmware_.receiveGarbled(line_->now());
  }
}

void FnxLineDevice::outputsChanged(const win32::ModemOutputs& outputs) {
  if (outputs.breakOn && !breakOn_) firmware_.lineBreak();
  breakOn_ = outputs.breakOn;
}

void FnxLineDevice::sendToHost(std::span<const std::uint8_t> bytes) {
  if (frameMatches(line_->hostFrame())) {
    line_->send(bytes);
    return;
  }
  for (std::uint8_t byte : bytes) line_->sendFlagged(byte ^ 0xA5, win32::CE_FRAME);
}

}  // namespace k52::sim
