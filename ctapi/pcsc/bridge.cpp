#include "ctapi/pcsc/bridge.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "ctapi/include/ctapi.h"
#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {
namespace {

constexpr char kSeparator[] =
    "------------------------------------------------------------------\n";
constexpr char kReaderGroup[] = "SCard$DefaultReaders";
constexpr pcsc::Status kInvalidParameter = 0x80100004;  // SCARD_E_INVALID_PARAMETER
// After a failed card exchange a capacity above this is not taken for a length.
constexpr std::uint16_t kFailedLengthLimit = 50;

std::string readerValueName(std::uint16_t ctn) {
  return "ReaderName" + std::to_string(ctn);
}

}  // namespace

std::int8_t Bridge::init(std::uint16_t ctn, std::uint16_t pn) {
  trace_.line(kSeparator);
  // A number that can never be registered can never be closed either, so it
  // does not hold the context open.
  if (ctn <= 255) ++openCount_;
  lastPcscResult_ = 0;
  if (firstUse_) {
    firstUse_ = false;
    terminals_.clear();
    trace_.configure();
    trace_.line("SCardEstablishContext");
    pcsc::Context context = 0;
    lastPcscResult_ = env_.pcsc.establishContext(pcsc::kScopeUser, context);
    if (lastPcscResult_ == pcsc::kSuccess) context_ = context;
    trace_.line("EstCtx:  res=%lX", static_cast<unsigned long>(lastPcscResult_));
  }
  trace_.traceFile("CT_init\n");
  if (ctn > 255) {
    trace_.line("Error:  ctn > 255");
    return ERR_INVALID;
  }
  const auto count = terminals_.open(ctn);
  if (!count) return ERR_INVALID;
  trace_.line("CT_init:  ctn=%i pn=%i count=%i", ctn, pn, static_cast<int>(*count));

  const std::string valueName = readerValueName(ctn);
  const std::string reader = env_.readConfig(valueName);
  if (reader.empty()) {
    trace_.line("Error:  %s=blank", valueName.c_str());
    return ERR_INVALID;
  }
  trace_.traceLine("Reader:  %s", reader.c_str());
  trace_.traceFile("Reader: %s", reader.c_str());
  if (lastPcscResult_ != pcsc::kSuccess || context_ == 0) {
    trace_.line("Error:  EstablishContext failed");
    return ERR_INVALID;
  }
  if (trace_.on()) {
    char names[1024] = {};
    std::uint32_t len = sizeof names;
    lastPcscResult_ = env_.pcsc.listReaders(context_, kReaderGroup, names, len);
    names[sizeof names - 1] = '\0';
    trace_.traceLine("All Rd:  %s", names);
    trace_.traceFile("Readers: %s", names);
  }
  return OK;
}

std::int8_t Bridge::close(std::uint16_t ctn) {
  trace_.line(kSeparator);
  trace_.traceFile("CT_close\n");
  trace_.line("CT_close:  ctn=%i ", ctn);
  const auto count = terminals_.close(ctn);
  if (!count) {
    trace_.line("CT_close:  ctn=%i count=%i", ctn, -1);
    trace_.line("Error:  ctn has not init");
    return ERR_INVALID;
  }
  trace_.line("CT_close:  ctn=%i count=%i", ctn, static_cast<int>(*count));
  if (openCount_ > 0) --openCount_;
  if (openCount_ == 0) {
    firstUse_ = true;
    if (context_ != 0) {
      lastPcscResult_ = env_.pcsc.releaseContext(context_);
      context_ = 0;
      trace_.line("RelCtx:  res=%lX", static_cast<unsigned long>(lastPcscResult_));
    }
    trace_.unloadSink();
  }
  return OK;
}

std::int32_t Bridge::getReaders(char* buffer, std::uint32_t* length) {
  if (length == nullptr) return static_cast<std::int32_t>(kInvalidParameter);
  std::uint32_t len = *length;
  const pcsc::Status rv = env_.pcsc.listReaders(context_, kReaderGroup, buffer, len);
  if (rv == pcsc::kSuccess) *length = len;
  return static_cast<std::int32_t>(rv);
}

std::int8_t Bridge::data(std::uint16_t ctn, std::uint8_t* dad, std::uint8_t* sad,
                         std::uint16_t lenc, const std::uint8_t* command, std::uint16_t* lenr,
                         std::uint8_t* response) {
  if (!dad || !sad || !lenr || !response || (lenc != 0 && !command)) return ERR_INVALID;
  const std::int8_t result = dispatch(ctn, *dad, *sad, {command, lenc}, *lenr, response);
  std::swap(*dad, *sad);
  return result;
}

std::int8_t Bridge::dispatch(std::uint16_t ctn, std::uint8_t& dad, std::uint8_t sad,
                             std::span<const std::uint8_t> command, std::uint16_t& lenr,
                             std::uint8_t* response) {
  const auto cmd = classifyCommand(command);
  if (!cmd) {
    if (lenr >= 2) {
      response[0] = 0x67;
      response[1] = 0x00;
      lenr = 2;
    } else {
      lenr = 0;
    }
    return ERR_INVALID;
  }

  trace_.line(kSeparator);
  const auto slot = terminals_.find(ctn);
  if (trace_.on()) {
    trace_.line("CT_data:  ctn=%i dad=%i sad=%i lenc=%i", ctn, dad, sad,
                static_cast<int>(command.size()));
    trace_.bytes("Cmd: ", "%02x ", command);
  }
  if (!slot) {
    trace_.line("Error:  ctn has not init");
    return ERR_INVALID;
  }
  trace_.line("CT_data:  *plenr=%x", lenr);
  trace_.bytes("", "%x ", command);

  Terminal terminal{*slot, readerValueName(ctn), {}};
  terminal.reader = env_.readConfig(terminal.valueName);
  if (dad == CTAPI_ADDR_CT) return terminalCommand(*cmd, terminal, dad, lenr, response);
  return cardCommand(terminal, dad, command, lenr, response);
}

std::int8_t Bridge::terminalCommand(const Command& cmd, const Terminal& terminal, std::uint8_t& dad,
                                    std::uint16_t& lenr, std::uint8_t* response) {
  if (cmd.cla != CTBCS_CLA) {
    trace_.line("Error:  CLA <> 20H");
    return ERR_INVALID;
  }
  Outcome (*handler)(Job&) = nullptr;
  switch (cmd.ins) {
    case 0x10:
    case CTBCS_INS_RESET:
      handler = resetCt;
      break;
    case CTBCS_INS_REQUEST:
      handler = requestIcc;
      break;
    case CTBCS_INS_STATUS:
      trace_.line("CT-Cmd: Get Status");
      handler = getStatus;
      break;
    case CTBCS_INS_EJECT:
      handler = ejectIcc;
      break;
    case CTBCS_INS_PERFORM_VERIFICATION:
      handler = performVerification;
      break;
    case CTBCS_INS_MODIFY_VERIFICATION_DATA:
      handler = modifyVerificationData;
      break;
    case CTBCS_INS_INPUT:
    case CTBCS_INS_OUTPUT:
      trace_.line("Error:  not supported command");
      return ERR_INVALID;
    case 0xFF:
      handler = restartReader;
      break;
    default:
      trace_.line("Error:  INS=%02x not supported", cmd.ins);
      return ERR_INVALID;
  }

  Response reply(lenr);
  Outcome outcome = Outcome::Failed;
  if (terminal.reader.empty()) {
    trace_.line("Error:  %s=blank", terminal.valueName.c_str());
  } else {
    Job job{env_, trace_, context_, terminal.slot, terminal.reader, cmd, reply};
    outcome = handler(job);
  }

  std::int8_t result = outcome == Outcome::Done ? OK : ERR_HTSI;
  if (const auto& bytes = reply.bytes()) {
    if (bytes->size() > lenr) {
      lenr = 0;
      if (result == OK) result = ERR_MEMORY;
    } else {
      std::copy(bytes->begin(), bytes->end(), response);
      lenr = static_cast<std::uint16_t>(bytes->size());
    }
  } else {
    lenr = 0;  // the handler wrote nothing: no byte of the buffer is an answer
  }
  // A two-byte answer that came back through the reader driver, other than
  // the terminal's own 64 0x, is the card's: the caller sees sad 0. What the
  // library answers itself stays the terminal's.
  if (reply.relayed() && lenr == 2 && !isTerminalAnswer({response, lenr})) dad = CTAPI_ADDR_ICC1;
  traceResponse({response, lenr}, outcome == Outcome::Failed);
  return result;
}

std::int8_t Bridge::cardCommand(const Terminal& terminal, std::uint8_t& dad,
                                std::span<const std::uint8_t> command, std::uint16_t& lenr,
                                std::uint8_t* response) {
  const std::string& reader = terminal.reader;
  const int slot = static_cast<int>(terminal.slot);
  if (reader.empty()) {
    trace_.line("Error:  %s=blank", terminal.valueName.c_str());
    dad = CTAPI_ADDR_CT;
    return ERR_CT;
  }
  Connection conn(env_, trace_, context_, reader);
  const pcsc::Status rv = conn.connect(pcsc::kShared, pcsc::kProtocolT0OrT1);
  trace_.line("GetCardCtx: %s res=%lX hCard=%li rd=%i", reader.c_str(),
              static_cast<unsigned long>(rv), static_cast<long>(conn.handle()), slot);
  if (rv != pcsc::kSuccess || !conn.connected()) {
    if (rv == pcsc::kSuccess)
      trace_.line("Error: no CardContext res=%lX", static_cast<unsigned long>(rv));
    dad = CTAPI_ADDR_CT;
    lenr = 0;
    return ERR_CT;
  }
  conn.queryTraced();

  std::uint32_t received = lenr;
  const pcsc::Status sent =
      env_.pcsc.transmit(conn.handle(), conn.activeProtocol(), command.data(),
                         static_cast<std::uint32_t>(command.size()), response, received);
  std::int8_t result = OK;
  if (sent == pcsc::kInsufficientBuffer) {
    // The card did answer; its answer does not fit the caller's buffer.
    result = ERR_MEMORY;
    dad = CTAPI_ADDR_CT;
    lenr = 0;
  } else if (sent != pcsc::kSuccess) {
    result = ERR_TRANS;
    dad = CTAPI_ADDR_CT;
    if (lenr > kFailedLengthLimit) lenr = 2;
  } else {
    lenr = static_cast<std::uint16_t>(received);
  }
  traceResponse({response, lenr}, result != OK);
  trace_.line("SCardTransmit res=%lX hCard=%li [%i]", static_cast<unsigned long>(sent),
              static_cast<long>(conn.handle()), slot);
  conn.release(pcsc::kLeaveCard);
  return result;
}

void Bridge::traceResponse(std::span<const std::uint8_t> bytes, bool failed) {
  if (!trace_.on()) return;
  const std::string prefix = "Data (" + std::to_string(bytes.size()) + "): ";
  trace_.bytes(prefix.c_str(), "%02X,", bytes);
  if (failed) trace_.line("an error has occured");
}

}  // namespace k52::ctbridge
