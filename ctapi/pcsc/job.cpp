#include "ctapi/pcsc/job.h"

#include "ctapi/pcsc/handlers.h"

#include <algorithm>

namespace k52::ctbridge {

void Response::dataAndStatus(std::span<const std::uint8_t> data, std::uint8_t sw1,
                             std::uint8_t sw2) {
  std::size_t keep = data.size();
  if (capacity_ != 0) keep = std::min<std::size_t>(keep, capacity_ > 2 ? capacity_ - 2 : 0);
  std::vector<std::uint8_t> bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(keep));
  bytes.push_back(sw1);
  bytes.push_back(sw2);
  set(std::move(bytes));
}

Connection::~Connection() {
  if (connected()) env_.pcsc.disconnect(handle_, pcsc::kLeaveCard);
}

pcsc::Status Connection::connect(pcsc::ShareMode mode, std::uint32_t protocols) {
  pcsc::Handle handle = 0;
  std::uint32_t active = 0;
  const pcsc::Status rv = env_.pcsc.connect(context_, reader_, mode, protocols, handle, active);
  if (rv == pcsc::kSuccess) {
    handle_ = handle;
    activeProtocol_ = active;
  }
  return rv;
}

pcsc::Status Connection::release(pcsc::Disposition disposition) {
  if (!connected()) return pcsc::kInvalidHandle;
  const pcsc::Status rv = env_.pcsc.disconnect(handle_, disposition);
  handle_ = 0;
  activeProtocol_ = 0;
  return rv;
}

CardStatus Connection::query() {
  CardStatus s;
  std::uint32_t len = static_cast<std::uint32_t>(s.atrBuffer.size());
  s.result = env_.pcsc.status(handle_, s.state, s.protocol, s.atrBuffer.data(), len);
  if (s.ok()) {
    s.atrLen = len;
  } else {
    s.state = pcsc::kUnknown;
    s.protocol = 0;
  }
  return s;
}

CardStatus Connection::queryTraced() {
  CardStatus s = query();
  trace_.line("SCardState:  lResult=%x", s.result);
  trace_.line("SCardState:  dwCardState=%x", s.state);
  trace_.line("SCardState:  dwActiveProtocol=%x", s.protocol);
  trace_.line("SCardState:  dwAtrLen%x", s.atrLen);
  return s;
}

pcsc::Status Connection::readAttribute(std::uint32_t attr, std::uint8_t* buffer,
                                       std::uint32_t& len) {
  if (!connected()) return pcsc::kInvalidHandle;
  return env_.pcsc.getAttrib(handle_, attr, buffer, len);
}

pcsc::Status Connection::readAttribute32(std::uint32_t attr, std::uint32_t& value) {
  std::uint8_t bytes[4] = {};
  std::uint32_t len = sizeof bytes;
  const pcsc::Status rv = readAttribute(attr, bytes, len);
  value = rv == pcsc::kSuccess ? std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                     std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24
                               : 0;
  return rv;
}

std::uint32_t readAuthDevice(Connection& conn, Trace& trace, pcsc::Status* status) {
  std::uint32_t auth = 0;
  const pcsc::Status rv = conn.readAttribute32(pcsc::kAttrUserAuthInputDevice, auth);
  trace.line("SCardGetAttrib:  lResult=%x", rv);
  trace.line("SCardGetAttrib:  dwAuthAttrib=%x", auth);
  if (status) *status = rv;
  return auth;
}

bool addressesIcc1(Job& job, const char* refusal) {
  if (job.cmd.p1 == 0x01) return true;
  job.response.status(0x6A, 0x00);
  job.trace.line("%s", refusal);
  return false;
}

}  // namespace k52::ctbridge
