// CT_data of the PC/SC library with any command, address, buffer size and
// reader behaviour: no crash, and nothing read or written outside the buffers.
//
// Input: [scenario] [capacity] [command...]. The scenario byte picks the
// destination address, whether a card is in, whether it leaves or arrives
// during a wait, and which reader calls fail.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ctapi/pcsc/bridge.h"
#include "platform/pcsc/fake_pcsc.h"

namespace {

using namespace k52;
using namespace std::chrono_literals;

const std::vector<std::uint8_t> kAtr{0x3B, 0x83, 0x81, 0x31, 0xFE, 0x45, 'K', '5', '2', 0xC4};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t scenario = data[0];
  const std::uint16_t capacity = data[1];
  const std::uint8_t* command = data + 2;
  const auto lenc = static_cast<std::uint16_t>(size - 2);

  VirtualClock clock;
  pcsc::FakePcsc fake(clock);
  auto& reader = fake.addReader("Reader");
  reader.tracksCardChange = scenario & 0x04;
  reader.attributes[pcsc::kAttrVendorIfdType] = {'T', 0};
  reader.attributes[pcsc::kAttrVendorIfdSerialNo] = {'1', '2', '3', '4', '5', '6', 0};
  reader.attributes[pcsc::kAttrUserAuthInputDevice] = {scenario, 0, 0, 0};
  if (scenario & 0x08) {
    reader.insertAt(0s, {kAtr, pcsc::kProtocolT0OrT1, [](std::span<const std::uint8_t> apdu) {
                           std::vector<std::uint8_t> answer(apdu.begin(), apdu.end());
                           answer.insert(answer.end(), {0x90, 0x00});
                           return answer;
                         }});
  }
  if (scenario & 0x10) reader.removeAt(2s);
  if (scenario & 0x20) reader.insertAt(3s, {kAtr, pcsc::kProtocolT1, {}});
  if (scenario & 0x40) fake.transmitFailure = pcsc::kCommError;
  if (scenario & 0x80) fake.statusFailure = pcsc::kCommError;

  ctbridge::Bridge bridge(ctbridge::Environment{
      fake, clock, [](const std::string& name) { return name == "ReaderName1" ? "Reader" : ""; },
      nullptr, nullptr});
  bridge.init(1, 1);

  // Exact-size heap buffers, so that the sanitizer sees any overrun.
  std::vector<std::uint8_t> cmd(command, command + lenc);
  auto response = std::make_unique<std::uint8_t[]>(capacity);
  std::uint8_t dad = scenario & 0x03, sad = 2;
  std::uint16_t lenr = capacity;
  bridge.data(1, &dad, &sad, lenc, cmd.data(), &lenr, response.get());
  if (lenr > capacity) __builtin_trap();
  bridge.close(1);
  return 0;
}
