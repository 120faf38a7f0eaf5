#include "sim/k52fw/t0_exchange.h"

#include <deque>

namespace k52::sim {
namespace {

constexpr std::size_t kHeaderSize = 5;
constexpr std::uint8_t kNull = 0x60;

bool isStatusByte(std::uint8_t b) {
  return (b & 0xF0) == 0x60 || (b & 0xF0) == 0x90;
}

class CardLine {
 public:
  explicit CardLine(ContactCard& card) : card_(card) {}

  void send(std::span<const std::uint8_t> bytes) {
    const auto answer = card_.t0(bytes);
    pending_.insert(pending_.end(), answer.begin(), answer.end());
  }
  // Nothing left means the card has gone quiet for good.
  std::optional<std::uint8_t> next() {
    if (pending_.empty()) return std::nullopt;
    const std::uint8_t b = pending_.front();
    pending_.pop_front();
    return b;
  }

 private:
  ContactCard& card_;
  std::deque<std::uint8_t> pending_;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> exchangeT0(ContactCard& card,
                                                    std::span<const std::uint8_t> command) {
  if (command.size() < kHeaderSize) return std::nullopt;
  const std::uint8_t ins = command[1];
  const std::uint8_t p3 = command[4];
  const auto body = command.subspan(kHeaderSize);
  if (!body.empty() && body.size() != p3) return std::nullopt;
  const std::size_t toReceive = body.empty() ? (p3 == 0 ? 256 : p3) : 0;

  CardLine line(card);
  line.send(command.first(kHeaderSize));
  std::size_t sent = 0;
  std::vector<std::uint8_t> response;
  for (;;) {
    const auto b = line.next();
    if (!b) return std::nullopt;
    if (*b == kNull) continue;
    if (isStatusByte(*b)) {
      const auto sw2 = line.next();
      if (!sw2) return std::nullopt;
      response.push_back(*b);
      response.push_back(*sw2);
      return response;
    }
    const bool all = *b == ins;
    if (!all && *b != (ins ^ 0xFF)) return std::nullopt;
    if (sent < body.size()) {
      const std::size_t n = all ? body.size() - sent : 1;
      line.send(body.subspan(sent, n));
      sent += n;
    } else if (response.size() < toReceive) {
      const std::size_t n = all ? toReceive - response.size() : 1;
      for (std::size_t i = 0; i < n; ++i) {
        const auto data = line.next();
        if (!data) return std::nullopt;
        response.push_back(*data);
      }
    } else {
      return std::nullopt;  // an acknowledgement with nothing left to move
    }
  }
}

}  // namespace k52::sim
