#include <algorithm>
#include <cstring>

#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {
namespace {

// Of the serial number at most the last kKeptSerial characters count, and of
// those the last five go into the manufacturer object.
constexpr std::uint32_t kKeptSerial = 20;
constexpr std::size_t kSerialField = 5;
// The object's length byte counts 15 bytes and the reader name.
constexpr std::size_t kMaxNameInObject = 255 - 15;
// The longest attribute value pcscd returns (MAX_BUFFER_SIZE).
constexpr std::uint32_t kMaxAttributeLength = 264;

std::string readSerialTail(Connection& conn, Trace& trace) {
  trace.line("GetReaderIdentification");
  std::uint8_t buffer[200] = {};
  std::uint32_t len = sizeof buffer;
  std::string serial;
  if (conn.readAttribute(pcsc::kAttrVendorIfdSerialNo, buffer, len) == pcsc::kSuccess) {
    serial.assign(reinterpret_cast<const char*>(buffer),
                  strnlen(reinterpret_cast<const char*>(buffer), len));
    if (serial.size() > kKeptSerial) {
      trace.line("*IDBufLen > sl");
      serial.erase(0, serial.size() - kKeptSerial);
    } else {
      trace.line("*IDBufLen <= sl");
    }
  }
  trace.line("GetReaderIdentification");
  if (serial.size() < kSerialField) return std::string(kSerialField, ' ');
  return serial.substr(serial.size() - kSerialField);
}

void manufacturerObject(Job& job, Connection& conn) {
  job.trace.line("manufacturer data object");
  const std::string serial = readSerialTail(conn, job.trace);
  const std::string name = job.readerName.substr(0, kMaxNameInObject);
  std::vector<std::uint8_t> bytes{0x46, static_cast<std::uint8_t>(15 + name.size())};
  for (const std::string& part : {std::string("DEQRX"), std::string("PC/SC"), serial, name}) {
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  bytes.insert(bytes.end(), {0x90, 0x00});
  job.response.set(std::move(bytes));
}

std::uint8_t iccStatus(std::uint32_t state) {
  switch (state) {
    case pcsc::kPresent:
    case pcsc::kSwallowed:
      return 0x03;
    case pcsc::kPowered:
    case pcsc::kNegotiable:
    case pcsc::kSpecific:
      return 0x05;
    default:
      return 0x00;
  }
}

void functionalUnits(Job& job, std::uint32_t auth) {
  std::vector<std::uint8_t> units{0x01};
  if (auth & pcsc::kAuthDisplay) units.push_back(0x40);
  if (auth & pcsc::kAuthKeyboard) units.push_back(0x50);
  std::vector<std::uint8_t> bytes{0x81, static_cast<std::uint8_t>(units.size())};
  bytes.insert(bytes.end(), units.begin(), units.end());
  bytes.insert(bytes.end(), {0x90, 0x00});
  job.response.set(std::move(bytes));
}

}  // namespace

Outcome getStatus(Job& job) {
  Trace& trace = job.trace;
  trace.line("CT-Cmd: GetStatus");
  Connection conn(job);
  const pcsc::Status rv = conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined);
  trace.line("SCardConnect:  lResult=%x", rv);
  if (rv != pcsc::kSuccess) {
    job.response.status(0x64, 0x00);
    return Outcome::Failed;
  }

  const CardStatus card = conn.queryTraced();
  // The type is only traced. Room for any attribute pcscd can return: the
  // keyboard terminal's type ("K52-3100 Keyboard-Reader B") does not fit
  // in 20 bytes, and a short buffer must not fail the command.
  char type[kMaxAttributeLength + 1] = {};
  std::uint32_t typeLen = kMaxAttributeLength;
  const pcsc::Status typeRead =
      conn.readAttribute(pcsc::kAttrVendorIfdType, reinterpret_cast<std::uint8_t*>(type), typeLen);
  trace.line("SCardGetAttrib:  lResult=%x", typeRead);
  trace.line("%s", type);
  pcsc::Status authRead = pcsc::kSuccess;
  const std::uint32_t auth = readAuthDevice(conn, trace, &authRead);
  if (authRead == pcsc::kErrorNotSupported) authRead = pcsc::kSuccess;

  if (!card.ok() || typeRead != pcsc::kSuccess || authRead != pcsc::kSuccess) {
    job.response.status(0x64, 0x00);
  } else {
    switch (job.cmd.p2) {
      case 0x46:
        manufacturerObject(job, conn);
        break;
      case 0x80:
        job.response.set({0x80, 0x01, iccStatus(card.state), 0x90, 0x00});
        break;
      case 0x81:
        functionalUnits(job, auth);
        break;
      default:
        job.response.status(0x6A, 0x00);
        trace.line("CT-Cmd: GetStatus wrong data object");
        break;
    }
  }
  const pcsc::Status released = conn.release(pcsc::kLeaveCard);
  trace.line("SCardDisconnect:  lResult=%x", released);
  return releaseOutcome(released);
}

}  // namespace k52::ctbridge
