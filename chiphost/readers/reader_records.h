// The records a card shares with its reader objects: the protocol parameter
// block (one per card, shared by reference with both reader objects and both
// protocol objects), the 17-byte device identity record and the reader type
// table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace k52::chiphost {

// Fields in order, with their widths.
struct ProtocolParams {
  std::uint8_t atrLength;
  std::array<std::uint8_t, 64> atr;  // TS first, TS converted to direct convention
  std::uint8_t historicalCount;      // T0 & 0x0F
  std::array<std::uint8_t, 16> historical;
  std::uint8_t ts;
  std::uint8_t t0;
  std::array<std::int16_t, 8> ta;  // -1 = absent
  std::array<std::int16_t, 8> tb;
  std::array<std::int16_t, 8> tc;
  std::array<std::int16_t, 8> td;
  std::uint8_t cardType;  // 0 "ATR" .. 10 "T14"
  std::uint8_t chip;      // 28 = "CPU"
  std::array<std::uint8_t, 98> cardData;
  std::uint16_t memorySize;
  std::uint8_t pageSize;
  std::uint8_t resetVariant;
  std::uint8_t convention;  // 1 = inverse
  std::int32_t waitingTime;
  std::int32_t blockWaitingTime;
  std::int16_t ifsd;
  std::int16_t ifsc;
  std::uint8_t sourceAddress;
  std::uint8_t destinationAddress;

  // Before every reset: all zero, the interface bytes absent.
  void clear();
};

#pragma pack(push, 1)
struct DeviceIdentity {
  std::uint16_t serial = 0;
  std::uint16_t lotNr = 0;
  std::uint8_t version = 0;
  std::uint8_t spare = 0;
  // A length-prefixed decimal string of at most 10 characters.
  std::uint8_t maxBaudrateLength = 0;
  std::array<char, 10> maxBaudrate{};

  void setMaxBaudrate(std::int32_t baud);
  std::string_view maxBaudrateText() const;
};
#pragma pack(pop)
static_assert(sizeof(DeviceIdentity) == 17);

enum class Family { kNone = 0, kFnx = 1, kUcr = 2 };

struct ReaderType {
  std::string_view productName;
  std::string_view shortName;
  std::uint8_t identification;
  bool processorCards;
  bool memoryCards;
};

inline constexpr int kReaderTypeCount = 14;
// Index = reader type; 0 = none.
const ReaderType& readerType(int type);
// The type whose identification byte this is (the first one: 0x88 is 6);
// nullopt for a byte no FNX reader answers.
std::optional<int> typeOfIdentification(std::uint8_t id);
// The card's hardware capability mask: 2 = memory cards, 4 = processor cards.
std::uint8_t capabilityMask(int type);

}  // namespace k52::chiphost
