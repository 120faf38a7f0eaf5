// The card terminal's side of the keyboard line: assembles commands from the
// host's nibble codes, runs them through the firmware and sends each answer
// back as a scan-code frame, one code per interval like key strokes.
//
// Faults for testing the host's error handling apply to the next answer
// frame only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "sim/kbd8042/command_assembler.h"
#include "sim/kbd8042/terminal_firmware.h"
#include "sim/kbd8042/timeline.h"

namespace k52::sim {

struct TerminalWireConfig {
  // From the last nibble of a command to the first code of its answer.
  Duration processingDelay = std::chrono::milliseconds(5);
  // Between consecutive codes of an answer frame.
  Duration codeInterval = std::chrono::milliseconds(1);
  // The frame's second byte: 0x7F or 0xFF.
  std::uint8_t frameMarker = 0x7F;
  // Answers being processed or sent. The line is half duplex, so a host that
  // keeps sending commands without reading the answers gets further commands
  // refused (not executed) rather than an ever longer backlog.
  std::size_t maxPendingAnswers = 4;
};

class TerminalWire {
 public:
  TerminalWire(Timeline& timeline, TerminalFirmware& firmware,
               std::function<void(std::uint8_t)> toController, TerminalWireConfig config = {});
  ~TerminalWire();
  TerminalWire(const TerminalWire&) = delete;
  TerminalWire& operator=(const TerminalWire&) = delete;

  // A host byte that reached the terminal (0xB0..0xBF; others are ignored).
  void receive(std::uint8_t nibbleCode);

  // The keyboard's character waiting time (its 0xCB command), in units of
  // 100 ms; 0 waits for ever. A command whose next nibble code comes later
  // than that is dropped, so that a string the host gave up half-way does
  // not swallow the start of the next one.
  void setCharacterWaitingTime(std::uint8_t units) { characterWaitingTime_ = units * kCwtUnit; }
  static constexpr Duration kCwtUnit = std::chrono::milliseconds(100);

  // The next frame ends after `nibbles` nibble codes.
  void truncateNextFrame(std::size_t nibbles);
  // A key stroke (make, then break) goes out after `nibbles` nibble codes of
  // the next frame.
  void injectKeystrokeInNextFrame(std::uint8_t makeCode, std::size_t nibbles);
  // The next answer is padded (or cut) to `answerBytes` bytes, at most
  // 0xFFFF, with a matching length field: more than a host's buffer holds.
  void floodNextFrame(std::size_t answerBytes);

  std::size_t pendingAnswers() const { return pendingAnswers_; }
  std::size_t refusedCommands() const { return refusedCommands_; }

 private:
  struct Keystroke {
    std::uint8_t makeCode;
    std::size_t afterNibbles;
  };

  void execute(const std::vector<std::uint8_t>& command);
  void queueAnswer(std::vector<std::uint8_t> answer);
  std::vector<std::uint8_t> buildFrame(std::vector<std::uint8_t> answer);
  void startFrame(std::vector<std::uint8_t> codes);
  void sendNextCode();

  Timeline& timeline_;
  TerminalFirmware& firmware_;
  std::function<void(std::uint8_t)> toController_;
  TerminalWireConfig config_;
  CommandAssembler assembler_;

  std::size_t pendingAnswers_ = 0;
  Duration characterWaitingTime_{0};
  Duration lastNibbleAt_{0};
  std::size_t refusedCommands_ = 0;
  // Codes of the frames ready to go, in order; sending is under way while
  // this is not empty.
  std::deque<std::vector<std::uint8_t>> frames_;
  std::size_t sentOfFront_ = 0;

  std::optional<std::size_t> truncateAfter_;
  std::optional<Keystroke> keystroke_;
  std::optional<std::size_t> floodBytes_;
};

}  // namespace k52::sim
