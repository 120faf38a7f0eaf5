#include "chiphost/readers/reader_records.h"

#include <algorithm>
#include <cstring>

#include "chiphost/readers/fnx_protocol.h"

namespace k52::chiphost {

namespace {

constexpr std::array<ReaderType, kReaderTypeCount> kTypes = {{
    {"invalid", "---", 0x00, false, false},
    {"FENDRIX extern I", "FNX", 0x84, true, true},
    {"FENDRIX extern I OEM", "FNY", 0x85, true, true},
    {"Klemmling", "KLM", 0x80, false, true},
    {"FENDRIX intern", "FNI", 0x90, true, true},
    {"FENDRIX intern OEM", "FNK", 0x91, true, true},
    {"FENDRIX extern II", "FND", 0x88, true, true},
    {"FENDRIX twin Slot 1", "FN1", 0x88, true, true},
    {"FENDRIX twin Slot 2", "FN2", 0x88, true, true},
    {"FENDRIX modul", "FNO", 0x98, true, true},
    {"FENDRIX intern eject", "FNJ", 0x92, true, true},
    {"Card Reader", "FCR", 0x60, true, true},
    {"FENDRIX micro", "FNM", 0x61, true, true},
    {"FENDRIX micro OEM", "FNN", 0x62, true, true},
}};

static_assert([] {
  for (int i = 0; i < kReaderTypeCount; ++i) {
    if (kTypes[i].identification != fnx::kIdentificationBytes[i]) return false;
  }
  return true;
}());

}  // namespace

void ProtocolParams::clear() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  ta.fill(-1);
  tb.fill(-1);
  tc.fill(-1);
  td.fill(-1);
}

void DeviceIdentity::setMaxBaudrate(std::int32_t baud) {
  const std::string text = std::to_string(baud);
  maxBaudrateLength = static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), 10));
  maxBaudrate.fill(0);
  std::copy_n(text.begin(), maxBaudrateLength, maxBaudrate.begin());
}

std::string_view DeviceIdentity::maxBaudrateText() const {
  return {maxBaudrate.data(), std::min<std::size_t>(maxBaudrateLength, 10)};
}

const ReaderType& readerType(int type) {
  return kTypes.at(type >= 0 && type < kReaderTypeCount ? type : 0);
}

std::optional<int> typeOfIdentification(std::uint8_t id) {
  for (int t = 1; t < kReaderTypeCount; ++t) {
    if (kTypes[t].identification == id) return t;
  }
  return std::nullopt;
}

std::uint8_t capabilityMask(int type) {
  const ReaderType& t = readerType(type);
  return static_cast<std::uint8_t>((t.memoryCards ? 2 : 0) | (t.processorCards ? 4 : 0));
}

}  // namespace k52::chiphost
