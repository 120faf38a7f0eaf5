// The K52 firmware fed with what a host and a person can send it. Input:
// byte 0 picks the card (none, T=0, T=1, both, PIN card) and its T=0
// manners; then a stream of serial-line bytes in which 0xF0..0xFF are
// taken out as events: a keypad key, a second of time, a pull or an
// insert.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "sim/card/pin_application.h"
#include "sim/card/purse.h"
#include "sim/k52fw/frame_reader.h"
#include "sim/k52fw/k52_firmware.h"
#include "sim/kbd8042/queue_timeline.h"

namespace {

using namespace k52::sim;

std::shared_ptr<Card> cardFor(std::uint8_t choice) {
  switch (choice % 5) {
    case 1:
      return std::make_shared<Card>(makePurseCard(PurseConfig{1234}, AtrProtocols::kT0));
    case 2:
      return std::make_shared<Card>(makePurseCard(PurseConfig{1234}, AtrProtocols::kT1));
    case 3:
      return std::make_shared<Card>(makePurseCard(PurseConfig{1234}, AtrProtocols::kT0AndT1));
    case 4:
      return std::make_shared<Card>(
          makePinCard({0x24, 0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, AtrProtocols::kT0AndT1));
    default:
      return nullptr;
  }
}

bool wellFormed(const std::vector<std::uint8_t>& answer) {
  if (answer.empty()) return true;
  switch (answer[0]) {
    case link::kAnswerWaiting:
    case link::kAnswerError:
      return answer.size() == 1;
    case link::kAnswerData:
    case link::kAnswerCapabilities:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  QueueTimeline timeline;
  K52Firmware firmware(timeline);
  bool broken = false;
  firmware.connectLateAnswers(
      [&broken](std::vector<std::uint8_t> answer) { broken |= !wellFormed(answer); });
  const T0Options t0{.byteByByte = (data[0] & 0x10) != 0,
                     .nullBytes = static_cast<std::size_t>(data[0] >> 6),
                     .workTime = std::chrono::milliseconds((data[0] & 0x20) ? 1500 : 0)};
  if (auto card = cardFor(data[0])) firmware.insertCard(card, t0);

  FrameReader reader;
  for (const std::uint8_t byte : std::span(data, size).subspan(1)) {
    if (byte >= 0xF0) {
      const unsigned event = byte & 0x0F;
      if (event <= 12) {
        firmware.pressKey(static_cast<KeypadKey>(event));
      } else if (event == 13) {
        timeline.runFor(std::chrono::seconds(1));
      } else if (event == 14) {
        firmware.pullCard();
      } else if (auto card = cardFor(data[0])) {
        firmware.insertCard(card, t0);
      }
      continue;
    }
    const auto frame = reader.feed(byte);
    if (!frame || frame->overlong) continue;
    if (!wellFormed(firmware.execute(frame->command))) std::abort();
  }
  // Longer than any timer object can ask for.
  timeline.runFor(std::chrono::seconds(300));
  if (broken || firmware.pinEntryRunning()) std::abort();
  return 0;
}
