#include "sim/fnx/sharing_driver.h"
#include "platform/text/hex.h"

#include <cstdio>

#include "platform/win32/messaging/user.h"

namespace k52::sim {

namespace {

std::uint32_t getU32(std::span<const std::uint8_t> in, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{in[at + i]} << (8 * i);
  return v;
}

}  // namespace

SharingDriver::SharingDriver(std::shared_ptr<win32::CommLine> line, int port, Clock& clock,
                             std::function<void(const std::string&)> trace)
    : line_(std::move(line)), port_(port), clock_(clock), trace_(std::move(trace)) {}

int SharingDriver::calls(win32::DWORD code) const {
  return code < calls_.size() ? calls_[code] : 0;
}

void SharingDriver::share(std::chrono::milliseconds period) {
  sharedUntil_ = clock_.now() + period;
}

void SharingDriver::runDue() {
  if (!sharedUntil_ || clock_.now() < *sharedUntil_) return;
  sharedUntil_.reset();
  line_->write(held_);
  held_.clear();
  if (context_ != 0 && message_ != 0) win32::PostMessageA(context_, message_, 0, 0);
  if (trace_) trace_("IO share ended, posted " + std::to_string(message_));
}

std::optional<std::vector<std::uint8_t>> SharingDriver::ioControl(win32::DWORD code,
                                                                  std::span<const std::uint8_t> in,
                                                                  win32::DWORD outSize) {
  runDue();
  if (code < calls_.size()) ++calls_[code];
  if (trace_ && code != 5)
    trace_("IO " + std::to_string(code) + (in.empty() ? "" : " ") + text::formatHex(in));
  const bool shared = sharedUntil_.has_value();
  switch (code) {
    case 1: {
      if (in.size() < 32) return std::nullopt;
      frame_.baudRate = getU32(in, 4);
      frame_.dataBits = in[22];
      frame_.parity = in[23];
      frame_.stopBits = in[24];
      if (!line_->configure(frame_)) return std::nullopt;
      std::vector<std::uint8_t> out(in.begin(), in.begin() + 32);
      return out;
    }
    case 2:
      timingFrames_.emplace_back(in.begin(), in.end());
      line_->write(in);
      return std::vector<std::uint8_t>{};
    case 4:
      // While the other device has the line the bytes wait in the driver.
      if (shared) {
        held_.insert(held_.end(), in.begin(), in.end());
      } else {
        line_->write(in);
      }
      return std::vector<std::uint8_t>{};
    case 5: {
      const std::size_t n = shared ? 0 : line_->inputCount();
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(n),
                                       static_cast<std::uint8_t>(n >> 8)};
    }
    case 6: {
      std::vector<std::uint8_t> out(shared ? 0 : outSize);
      out.resize(line_->read(out));
      return out;
    }
    case 7:
      if (in.size() < 8) return std::nullopt;
      context_ = getU32(in, 0);
      message_ = getU32(in, 4);
      return std::vector<std::uint8_t>{};
    case 8:
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(port_)};
    case 9:
      line_->purgeInput();
      return std::vector<std::uint8_t>{0, 0};
    case 11:
      return std::vector<std::uint8_t>{};
    case 12:
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(shared ? 0x02 : 0x00)};
    default:
      return std::nullopt;
  }
}

}  // namespace k52::sim
