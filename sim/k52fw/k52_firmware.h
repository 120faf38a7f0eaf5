// The K52 card terminal's firmware: answers the terminal link's commands
// with the card in its slot, and runs the PIN entry on the keypad.
//
// Commands and answers are [code][data] without the length, as the
// keyboard wire and the serial line hand them over. Most answers come back
// from execute() at once; a PIN entry and a T=0 card that works longer
// than the work waiting time answer later through the late-answer sink.
// While such an answer is due, every other command gets 0x67. The rules
// are written down in docs/k52-terminal-firmware.md.
//
// The firmware must outlive the wire or serial terminal it answers through
// and the keyboard whose keys it takes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/card/card.h"
#include "sim/card/t0_transport.h"
#include "sim/k52fw/capabilities.h"
#include "sim/k52fw/card_slot.h"
#include "sim/k52fw/keypad.h"
#include "sim/k52fw/pin_command.h"
#include "sim/k52fw/pin_dialogue.h"
#include "sim/k52fw/terminal_link.h"
#include "sim/kbd8042/keyboard.h"
#include "sim/kbd8042/terminal_firmware.h"
#include "sim/kbd8042/timeline.h"

namespace k52::sim {

class K52Firmware final : public TerminalFirmware {
 public:
  using ModeBytes = std::array<std::uint8_t, link::kModeBytes>;

  explicit K52Firmware(Timeline& timeline, TerminalIdentity identity = {});
  ~K52Firmware() override;
  K52Firmware(const K52Firmware&) = delete;
  K52Firmware& operator=(const K52Firmware&) = delete;

  std::vector<std::uint8_t> execute(std::span<const std::uint8_t> command) override;
  void connectLateAnswers(AnswerSink sink) override { lateAnswers_ = std::move(sink); }

  // The card slot. Pulling a card while an answer is due gives 0x67 at
  // once.
  void insertCard(std::shared_ptr<Card> card, T0Options t0 = {}) {
    slot_.insert(std::move(card), t0);
  }
  void pullCard() { slot_.pull(); }
  CardSlot& slot() { return slot_; }

  // A key of the keypad. False when no PIN entry runs: the key is not the
  // terminal's then.
  bool pressKey(KeypadKey key);
  // A make or break code from the keyboard; true when the terminal takes
  // it. During a PIN entry it takes every key, so nothing typed reaches
  // the host, and the break codes of the keys it took.
  bool takeScanCode(std::uint8_t code);
  // Routes the keyboard's key codes through takeScanCode().
  void attachKeypad(Keyboard& keyboard);

  bool pinEntryRunning() const { return dialogue_.has_value(); }
  // Called each time a PIN entry starts (a person would start typing now).
  void onPinEntry(std::function<void()> started) { onPinEntry_ = std::move(started); }

  const ModeBytes& mode() const { return mode_; }
  bool t1Mode() const;
  // 960 x WI etu at the default rate of 372 clocks per etu and 5 MHz.
  Duration workWaitingTime() const;

 private:
  std::vector<std::uint8_t> dispatch(std::span<const std::uint8_t> command);
  std::vector<std::uint8_t> powerOn(bool warm);
  std::vector<std::uint8_t> status() const;
  std::vector<std::uint8_t> cardExchange(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> exchangeT0Command(std::span<const std::uint8_t> command);
  std::vector<std::uint8_t> startPinEntry(std::uint8_t code, std::span<const std::uint8_t> data);
  void armPinTimeout();
  void endPinEntry();
  std::vector<std::uint8_t> sendPinCommand(const PinCommand& command,
                                           std::span<const std::vector<std::uint8_t>> pins);

  void beginLateAnswer();
  void finishLateAnswer(std::vector<std::uint8_t> answer);
  // Runs `action` after `delay` unless the late answer it belongs to has
  // been given by then.
  void afterDelay(Duration delay, std::function<void()> action);

  Timeline& timeline_;
  TerminalIdentity identity_;
  CardSlot slot_;
  ModeBytes mode_{};
  AnswerSink lateAnswers_;
  std::function<void()> onPinEntry_;

  bool answerDue_ = false;
  std::uint64_t lateAnswer_ = 0;  // counts late answers, to drop stale timers
  std::optional<PinCommand> pinCommand_;
  std::optional<PinDialogue> dialogue_;
  std::array<bool, 128> heldKeys_{};
  // The last T=0 command, for a retry without resending it.
  std::vector<std::uint8_t> lastT0Command_;
  // N(S) of the next I-block from the host, followed through the blocks
  // passed on to the card.
  std::uint8_t hostSequence_ = 0;
  std::shared_ptr<K52Firmware*> self_;
};

}  // namespace k52::sim
