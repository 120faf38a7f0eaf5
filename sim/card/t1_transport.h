// The card's end of T=1: takes the terminal's blocks, reassembles chained
// commands, runs each command APDU through the Card and sends the response
// back in blocks of at most IFSD bytes, chaining when it is longer. A block
// with a bad LRC or a broken frame gets an R-block asking for it again; an
// R-block from the terminal gets the last block again. When told to take
// long, the card asks for waiting-time extensions before it answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/card/card.h"
#include "sim/card/t1_block.h"

namespace k52::sim {

class T1Transport {
 public:
  // `ifsc`: the largest INF the card takes, as its ATR announces (1..254).
  T1Transport(Card& card, std::size_t ifsc);

  // Back to the state after an ATR: both sequence numbers 0, IFSD 32,
  // nothing in progress.
  void restart();

  // The next command keeps the card busy: before answering it sends
  // `requests` S(WTX request) blocks carrying `multiplier`, each of which
  // the terminal has to answer.
  void takeLong(std::size_t requests, std::uint8_t multiplier = 1);

  // One block from the terminal in, the card's block out; empty while the
  // card is unpowered (a mute card).
  std::vector<std::uint8_t> receive(std::span<const std::uint8_t> bytes);

  std::size_t ifsc() const { return ifsc_; }
  std::size_t ifsd() const { return ifsd_; }

 private:
  std::vector<std::uint8_t> onIBlock(const t1::Block& block);
  std::vector<std::uint8_t> onRBlock(std::uint8_t pcb);
  std::vector<std::uint8_t> onSBlock(const t1::Block& block);
  std::vector<std::uint8_t> answerCommand();
  std::vector<std::uint8_t> nextResponseBlock();
  std::vector<std::uint8_t> send(std::uint8_t pcb, std::span<const std::uint8_t> inf = {});
  std::vector<std::uint8_t> reject(std::uint8_t error);

  Card& card_;
  std::size_t ifsc_;
  std::size_t ifsd_;
  std::uint8_t nad_ = 0;  // the terminal's NAD, swapped in every answer
  std::uint8_t sendSequence_ = 0;
  std::uint8_t expectedSequence_ = 0;
  std::vector<std::uint8_t> command_;   // chained command so far
  std::vector<std::uint8_t> response_;  // response bytes not yet sent
  bool chainingResponse_ = false;
  std::size_t wtxPending_ = 0;
  std::uint8_t wtxMultiplier_ = 1;
  bool awaitingWtxResponse_ = false;
  std::vector<std::uint8_t> lastSent_;
};

}  // namespace k52::sim
