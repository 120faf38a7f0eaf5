#include "sim/k52fw/line_terminal.h"

namespace k52::sim {

LineTerminal::LineTerminal(K52Firmware& firmware, nt::serial::SimulatedLine& line)
    : firmware_(firmware), line_(line) {
  firmware_.connectLateAnswers([this](std::vector<std::uint8_t> answer) { send(answer); });
  line_.attach(this);
}

LineTerminal::~LineTerminal() {
  line_.attach(nullptr);
  firmware_.connectLateAnswers({});
}

void LineTerminal::receive(std::uint8_t byte) {
  const auto frame = reader_.feed(byte);
  if (!frame) return;
  if (frame->overlong) {
    send({0x67});
  } else if (!frame->command.empty()) {
    send(firmware_.execute(frame->command));
  }
}

void LineTerminal::send(const std::vector<std::uint8_t>& answer) {
  if (answer.empty()) return;
  line_.send(serialFrame(answer));
}

}  // namespace k52::sim
