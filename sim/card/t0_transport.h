// The card's end of T=0 at character level: the terminal sends the five
// header bytes CLA INS P1 P2 P3, the card answers with procedure bytes —
// NULL (0x60) to keep the terminal waiting, INS to take or send all the
// remaining data bytes at once, INS XOR 0xFF for just the next one — and
// ends with SW1 SW2.
//
// Whether P3 counts data for the card or data expected back is the card's
// knowledge of its instructions (see carriesCommandData). A command that
// leaves response data behind ends with 61 xx, and GET RESPONSE fetches
// it; asking for the wrong number of bytes ends with 6C xx, the right one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/card/card.h"

namespace k52::sim {

struct T0Options {
  // Acknowledge every data byte on its own with INS XOR 0xFF.
  bool byteByByte = false;
  // NULL bytes before each procedure byte.
  std::size_t nullBytes = 0;
  // How long the card works on a command before its status bytes, without
  // a NULL byte in between. The terminal's time, kept here for it to read.
  std::chrono::milliseconds workTime{0};
};

// Instructions whose P3 counts command data (ISO/IEC 7816-4), as opposed to
// the length of the expected answer.
bool carriesCommandData(std::uint8_t ins);

class T0Transport {
 public:
  static constexpr std::uint8_t kNull = 0x60;
  static constexpr std::uint8_t kGetResponse = 0xC0;

  explicit T0Transport(Card& card, T0Options options = {});

  T0Options& options() { return options_; }

  // Forgets a half-sent command and any response data left behind.
  void restart();

  // The card ignores the next `commands` headers, as if their bytes were
  // lost on the line.
  void muteFor(std::size_t commands) { muteCommands_ = commands; }

  // Bytes from the terminal in; what the card sends before it waits for
  // the terminal again out. Empty while the card is unpowered, mute, or
  // still waiting for more bytes.
  std::vector<std::uint8_t> receive(std::span<const std::uint8_t> bytes);

 private:
  std::vector<std::uint8_t> receiveByte(std::uint8_t byte);
  std::vector<std::uint8_t> onHeader();
  std::vector<std::uint8_t> onCommandData();
  std::vector<std::uint8_t> answerWithData(std::vector<std::uint8_t> response);
  std::vector<std::uint8_t> status(std::uint16_t sw);
  std::vector<std::uint8_t> procedure(std::uint8_t byte);
  std::vector<std::uint8_t> dataProcedure();

  Card& card_;
  T0Options options_;
  std::size_t muteCommands_ = 0;
  std::vector<std::uint8_t> header_;
  std::vector<std::uint8_t> data_;  // command data received so far
  std::size_t dataExpected_ = 0;
  bool receivingData_ = false;
  // Response data of the last command waiting for GET RESPONSE, and the
  // status word that goes with it.
  std::vector<std::uint8_t> pending_;
  std::uint16_t pendingSw_ = 0;
};

}  // namespace k52::sim
