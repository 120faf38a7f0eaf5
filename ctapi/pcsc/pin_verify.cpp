// PERFORM VERIFICATION and MODIFY VERIFICATION DATA: the PIN is entered on
// the terminal's keypad and put into the card command by the terminal; the
// library hands the data field to the reader driver's vendor request.
#include <cstring>
#include <optional>

#include "ctapi/pcsc/data_objects.h"
#include "ctapi/pcsc/handlers.h"

namespace k52::ctbridge {
namespace {

constexpr std::uint32_t kVendorRequest = 0x330000;
constexpr std::size_t kAnswerCapacity = 200;
constexpr std::uint8_t kTimerTag = 0x80;
constexpr std::uint8_t kDisplayTag = 0x50;
constexpr std::uint8_t kCommandTag = 0x52;
constexpr std::uint32_t kAuthKeyboard = 0x04;
constexpr std::uint32_t kAuthDisplay = 0x80;
constexpr std::size_t kShortestCommand = 6;
constexpr std::uint8_t kDummy[] = {0xFF, 0xFF, 0xFF, 0xFF};

struct PinTexts {
  std::uint8_t requestCode;
  const char* command;   // "CT-Cmd: ..."
  const char* name;      // prefix of the handler's own traces
  const char* finished;  // "...:  lenr=%x"
  bool traceReturned;
};

constexpr PinTexts kVerify{0x6D, "CT-Cmd: CT_PerformVerify", "CT_PerformVerify",
                           "PerformVerification:  lenr=%x", true};
constexpr PinTexts kModify{0x6E, "CT-Cmd: CT_ModifyVerify", "CT_ModifyVerify",
                           "ModifyVerificationData:  lenr=%x", false};

// The request: the code, then the data field; a command-to-perform object
// standing first (or right behind a leading timer) gets the second byte of
// its value once more, and its length one more. nullopt when that object is
// already as long as a length byte can say.
std::optional<std::vector<std::uint8_t>> vendorRequest(std::uint8_t code,
                                                       std::span<const std::uint8_t> field) {
  std::vector<std::uint8_t> request{code};
  request.insert(request.end(), field.begin(), field.end());
  std::size_t at = 1;  // P, counted in the request
  if (field.size() >= 3 && field[0] == kTimerTag && field[1] == 1) at += 3;
  if (at + 3 < request.size() && request[at] == kCommandTag) {
    if (request[at + 1] == 0xFF) return std::nullopt;
    ++request[at + 1];
    const std::uint8_t repeated = request[at + 3];
    request.insert(request.begin() + static_cast<std::ptrdiff_t>(at + 4), repeated);
  }
  return request;
}

// Once the terminal or the library has answered, the command is done: a
// failing release cannot undo what was answered.
Outcome releaseDone(Connection& conn) {
  conn.release(pcsc::kLeaveCard);
  return Outcome::Done;
}

Outcome pinCommand(Job& job, const PinTexts& texts) {
  Trace& trace = job.trace;
  trace.line(texts.command);
  if (job.cmd.p1 != 0x01 || job.cmd.p2 != 0x00) {
    job.response.status(0x6A, 0x00);
    trace.line("CT-Cmd: wrong FU selected");
    return Outcome::Done;
  }

  Connection conn(job);
  trace.line("SCardConnect:  lResult=%x", conn.connect(pcsc::kDirect, pcsc::kProtocolUndefined));
  CardStatus card;
  if (conn.connected()) card = conn.queryTraced();
  if (!conn.connected() || !card.ok()) {
    trace.line("%s: failure while connecting", texts.name);
    job.response.status(0x6A, 0x00);
    return Outcome::Failed;  // the connection goes with its scope
  }

  const std::span<const std::uint8_t> field = job.cmd.data;
  trace.line("%s:  lenc=%x", texts.name, static_cast<unsigned>(field.size()));
  if (field.size() == 1 || field.size() == 2) {
    trace.line("lenc < 3");
    job.response.status(0x6A, 0x00);
    return Outcome::Failed;
  }
  std::size_t commandLength = 0;
  bool commandGiven = false;
  if (field.size() >= 3) {
    trace.line("%s: ASN.1 object given", texts.name);
    const ObjectVerdict verdict =
        walkDataObjects(field, [&](std::uint8_t tag, std::span<const std::uint8_t> value) {
          switch (tag) {
            case kDisplayTag:
              trace.line("%s: display message given", texts.name);
              return kAccept;
            case kCommandTag:
              trace.line("%s: ICC command given", texts.name);
              commandGiven = true;
              commandLength = value.size();
              return kAccept;
            case kTimerTag:
              trace.line("%s: timeout value given", texts.name);
              return value.size() == 1 ? kAccept : kWrongLength;
            default:
              return kNotAllowed;
          }
        });
    if (verdict != kAccept) {
      job.response.status(static_cast<std::uint8_t>(verdict >> 8), 0x00);
      return releaseDone(conn);
    }
  }

  const std::uint32_t auth = readAuthDevice(conn, trace);
  if (!(auth & kAuthKeyboard) || (auth & kAuthDisplay)) {
    trace.line("command not allowed - reader has no display and keyboard");
    job.response.status(0x69, 0x00);
    return releaseDone(conn);
  }
  if (!commandGiven || commandLength < kShortestCommand) {
    job.response.status(0x6A, 0x00);
    conn.release(pcsc::kLeaveCard);
    return Outcome::Failed;
  }

  const auto request = vendorRequest(texts.requestCode, field);
  if (!request) {
    job.response.status(0x67, 0x00);
    return releaseDone(conn);
  }
  std::vector<std::uint8_t> answer(kAnswerCapacity);
  std::uint32_t returned = 0;
  const pcsc::Status rv = job.env.pcsc.control(
      conn.handle(), kVendorRequest, request->data(), static_cast<std::uint32_t>(request->size()),
      answer.data(), static_cast<std::uint32_t>(answer.size()), returned);
  if (texts.traceReturned) trace.line("%x", returned);
  if (rv != pcsc::kSuccess) {
    // The terminal's PIN entry never ran or its answer was lost: nothing
    // the card said can be reported.
    trace.line("SCardControl:  lResult=%x", rv);
    job.response.status(0x6F, 0x00);
    trace.line(texts.finished, 2u);
    conn.release(pcsc::kLeaveCard);
    return Outcome::Failed;
  }
  answer.resize(returned < answer.size() ? returned : answer.size());
  job.response.relay(answer);
  trace.line(texts.finished, static_cast<unsigned>(answer.size()));

  if (answer.size() == 2 && !isTerminalAnswer(answer) && card.protocol == pcsc::kProtocolT1) {
    std::uint8_t discard[255];
    std::uint32_t discardLen = sizeof discard;
    const pcsc::Status dummy = job.env.pcsc.transmit(conn.handle(), pcsc::kProtocolT1, kDummy,
                                                     sizeof kDummy, discard, discardLen);
    trace.line("Transmit dummy:  lResult=%x", dummy);
  }
  return releaseDone(conn);
}

}  // namespace

Outcome performVerification(Job& job) {
  return pinCommand(job, kVerify);
}
Outcome modifyVerificationData(Job& job) {
  return pinCommand(job, kModify);
}

bool isTerminalAnswer(std::span<const std::uint8_t> answer) {
  return answer.size() == 2 && answer[0] == 0x64 && answer[1] <= 0x02;
}

}  // namespace k52::ctbridge
