// The firmware of an FNX reader, byte for byte: it takes the characters its
// UART received, parses the command frames (with the length byte from
// 115200 on), checks the rolling checksum seeded with the slot, executes,
// answers with the answer bytes and their checksum, keeps a command counter
// per slot and the last answer, changes speed on the speed command (checked
// by d xor 0x5D), answers speed tests, and relays transparent transfers to
// the card in the slot by the header's count.
//
// The transport (simulated line or pty, fnx_line_device.h, pty_server.h)
// delivers the characters and carries the answers; it also tells the
// firmware of a break (the reader falls back to 9600) and checks that the
// host's characters have the firmware's speed and frame.
//
// Counted commands: every executed frame except 0x00, 0x02, 0x0C,
// 0x30..0x3F (the speed test ends in 0x3E) and the driver's timing frame.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "sim/card/contact_card.h"

namespace k52::sim {

struct FnxConfig {
  int type = 1;  // reader type 1..13; 7 and 8 are the two-slot twin
  std::uint8_t firmware = 0x42;
  std::uint16_t lot = 0;
  std::uint16_t serial = 0;
  std::int32_t maxSpeed = 115200;  // faster characters garble
};

// Faults to come, each counted down as it strikes.
struct FnxFaults {
  unsigned dropAnswers = 0;      // execute, then send no answer
  unsigned dropCommands = 0;     // the frame is lost before it is executed
  unsigned garble = 0;           // the answer's checksum is wrong
  std::optional<unsigned> mute;  // silent for N frames; nullopt: not muted,
                                 // 0: muted until unmuted
};

class FnxFirmware {
 public:
  using Sender = std::function<void(std::span<const std::uint8_t>)>;

  FnxFirmware(FnxConfig config, Sender send);

  const FnxConfig& config() const { return config_; }
  int slotCount() const { return slots_.size(); }

  // One character as the UART got it, at `now`.
  void receive(std::uint8_t byte, Duration now);
  // A character that arrived garbled (wrong speed or frame).
  void receiveGarbled(Duration now);
  // A break on the line: 9600, parser reset, command mode.
  void lineBreak();

  std::int32_t speed() const { return speed_; }
  // The parity the firmware expects on its line: 0 none, 1 odd, 2 even.
  std::uint8_t lineParity() const { return lineParity_; }

  void insertCard(int slot, std::shared_ptr<ContactCard> card);
  void pullCard(int slot);
  bool cardPresent(int slot) const;
  // Called when a card comes or goes (the transport signals the host).
  std::function<void()> onCardChange;

  FnxFaults& faults() { return faults_; }
  // Called for every frame with a good checksum, before the faults strike
  // (random faults are set here).
  std::function<void()> beforeFrame;
  // One call per frame from the host (slot -1: no slot's checksum matched),
  // per answer and per run of transparent bytes either way.
  struct Trace {
    bool fromHost;
    bool raw;
    int slot;
    std::vector<std::uint8_t> bytes;
    bool checksumOk;
  };
  std::function<void(const Trace&)> onTrace;
  std::uint8_t counter(int slot) const { return slots_.at(slot).counter; }
  // Executions per command name ("identify", "status", ...).
  const std::map<std::string, unsigned>& executions() const { return executions_; }

  // Where the speed command would put the firmware; the transport checks
  // against this (a rate within 3 % of it passes).
  static bool rateMatches(std::uint32_t hostBaud, std::int32_t firmwareSpeed);

 private:
  struct Slot {
    std::shared_ptr<ContactCard> card;
    bool changed = false;
    std::uint8_t counter = 0;
    std::vector<std::uint8_t> lastAnswer;
  };
  enum class Need { kMore, kComplete, kInvalid };

  Need parse(std::span<const std::uint8_t> command) const;
  void frameByte(std::uint8_t byte);
  void execute(int slot, std::span<const std::uint8_t> command);
  std::optional<std::vector<std::uint8_t>> run(Slot& slot, std::span<const std::uint8_t> command,
                                               bool& counted, std::string& name);
  void answer(std::span<const std::uint8_t> bytes);
  void transparentByte(std::uint8_t byte);
  void resetParser();

  FnxConfig config_;
  Sender send_;
  std::vector<Slot> slots_;
  FnxFaults faults_;
  std::map<std::string, unsigned> executions_;
  std::int32_t speed_ = 9600;
  std::uint8_t lineParity_ = 2;
  std::uint8_t cardParity_ = 2;
  std::optional<std::int32_t> pendingSpeed_;
  int answerSlot_ = 0;
  std::optional<std::uint8_t> pendingLineParity_;

  // Parser: the frame so far (length byte included), the last character's
  // time.
  std::vector<std::uint8_t> frame_;
  Duration lastByte_{-1};
  // Transparent transfer in progress: its slot, the lead still to skip and
  // the card bytes still to come.
  struct Transfer {
    int slot = 0;
    std::size_t lead = 0;
    std::size_t remaining = 0;
    std::vector<std::uint8_t> bytes;
  };
  std::optional<Transfer> transfer_;
};

}  // namespace k52::sim
