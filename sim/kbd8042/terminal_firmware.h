// What the card terminal does with a command string. The wire side only
// carries bytes; the firmware decides the answer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace k52::sim {

class TerminalFirmware {
 public:
  virtual ~TerminalFirmware() = default;
  using AnswerSink = std::function<void(std::vector<std::uint8_t>)>;

  // The answer to `command`; an empty answer sends no frame.
  virtual std::vector<std::uint8_t> execute(std::span<const std::uint8_t> command) = 0;

  // Where the firmware sends an answer it gives later, on its own: a PIN
  // typed on the keypad, a card that keeps it waiting. The line connects
  // itself here and disconnects with an empty sink.
  virtual void connectLateAnswers(AnswerSink sink) { (void)sink; }
};

// Answers every command with the command itself.
class EchoFirmware final : public TerminalFirmware {
 public:
  std::vector<std::uint8_t> execute(std::span<const std::uint8_t> command) override {
    return {command.begin(), command.end()};
  }
};

// Answers commands with canned answers in order, and remembers the commands;
// once the answers run out it stays silent.
class ScriptedFirmware final : public TerminalFirmware {
 public:
  void addAnswer(std::vector<std::uint8_t> answer) { answers_.push_back(std::move(answer)); }
  const std::vector<std::vector<std::uint8_t>>& commands() const { return commands_; }

  std::vector<std::uint8_t> execute(std::span<const std::uint8_t> command) override {
    commands_.emplace_back(command.begin(), command.end());
    if (answers_.empty()) return {};
    std::vector<std::uint8_t> answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
  }

 private:
  std::deque<std::vector<std::uint8_t>> answers_;
  std::vector<std::vector<std::uint8_t>> commands_;
};

}  // namespace k52::sim
