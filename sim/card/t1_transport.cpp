#include "sim/card/t1_transport.h"

#include <algorithm>

namespace k52::sim {
namespace {

// The card answers with source and destination swapped.
std::uint8_t swappedNad(std::uint8_t nad) {
  return static_cast<std::uint8_t>((nad & 0x07) << 4 | (nad >> 4 & 0x07));
}

}  // namespace

T1Transport::T1Transport(Card& card, std::size_t ifsc)
    : card_(card), ifsc_(std::clamp<std::size_t>(ifsc, 1, t1::kMaxInf)), ifsd_(t1::kDefaultIfs) {}

void T1Transport::restart() {
  ifsd_ = t1::kDefaultIfs;
  sendSequence_ = 0;
  expectedSequence_ = 0;
  command_.clear();
  response_.clear();
  chainingResponse_ = false;
  wtxPending_ = 0;
  awaitingWtxResponse_ = false;
  lastSent_.clear();
}

void T1Transport::takeLong(std::size_t requests, std::uint8_t multiplier) {
  wtxPending_ = requests;
  wtxMultiplier_ = multiplier;
}

std::vector<std::uint8_t> T1Transport::receive(std::span<const std::uint8_t> bytes) {
  if (!card_.powered()) return {};
  t1::Block block;
  switch (t1::decode(bytes, block)) {
    case t1::BlockError::kEdc:
      return reject(t1::kREdcError);
    case t1::BlockError::kOther:
      return reject(t1::kROtherError);
    case t1::BlockError::kNone:
      break;
  }
  nad_ = block.nad;
  if (t1::isIBlock(block.pcb)) return onIBlock(block);
  if (t1::isRBlock(block.pcb)) return onRBlock(block.pcb);
  return onSBlock(block);
}

std::vector<std::uint8_t> T1Transport::onIBlock(const t1::Block& block) {
  if (chainingResponse_ || awaitingWtxResponse_) return reject(t1::kROtherError);
  if (t1::sequenceOf(block.pcb) != expectedSequence_ || block.inf.size() > ifsc_) {
    return reject(t1::kROtherError);
  }
  expectedSequence_ ^= 1;
  command_.insert(command_.end(), block.inf.begin(), block.inf.end());
  if (block.pcb & t1::kIMore) return send(t1::rPcb(expectedSequence_));
  return answerCommand();
}

std::vector<std::uint8_t> T1Transport::answerCommand() {
  if (wtxPending_ > 0) {
    --wtxPending_;
    awaitingWtxResponse_ = true;
    const std::uint8_t multiplier[] = {wtxMultiplier_};
    return send(t1::sPcb(t1::kSWtx, false), multiplier);
  }
  response_ = card_.process(command_);
  command_.clear();
  return nextResponseBlock();
}

std::vector<std::uint8_t> T1Transport::nextResponseBlock() {
  const std::size_t chunk = std::min(response_.size(), ifsd_);
  const bool more = chunk < response_.size();
  const std::vector<std::uint8_t> inf(response_.begin(),
                                      response_.begin() + static_cast<std::ptrdiff_t>(chunk));
  response_.erase(response_.begin(), response_.begin() + static_cast<std::ptrdiff_t>(chunk));
  chainingResponse_ = more;
  const std::uint8_t pcb = t1::iPcb(sendSequence_, more);
  sendSequence_ ^= 1;
  return send(pcb, inf);
}

std::vector<std::uint8_t> T1Transport::onRBlock(std::uint8_t pcb) {
  // While the card chains, an R-block asking for the next N(S) acknowledges
  // the last one; any other R-block asks for the last block again.
  if (chainingResponse_ && (pcb & 0x03) == 0 && t1::sequenceOf(pcb) == sendSequence_) {
    return nextResponseBlock();
  }
  if (lastSent_.empty()) return reject(t1::kROtherError);
  return lastSent_;
}

std::vector<std::uint8_t> T1Transport::onSBlock(const t1::Block& block) {
  const std::uint8_t type = block.pcb & 0x1F;
  const bool response = block.pcb & t1::kSResponse;
  if (response) {
    if (type != t1::kSWtx || !awaitingWtxResponse_) return reject(t1::kROtherError);
    awaitingWtxResponse_ = false;
    return answerCommand();
  }
  switch (type) {
    case t1::kSIfs:
      if (block.inf.size() != 1 || block.inf[0] == 0 || block.inf[0] == 0xFF) {
        return reject(t1::kROtherError);
      }
      ifsd_ = block.inf[0];
      return send(t1::sPcb(t1::kSIfs, true), block.inf);
    case t1::kSResynch:
      restart();
      return send(t1::sPcb(t1::kSResynch, true));
    case t1::kSAbort:
      command_.clear();
      response_.clear();
      chainingResponse_ = false;
      return send(t1::sPcb(t1::kSAbort, true));
    default:
      return reject(t1::kROtherError);
  }
}

std::vector<std::uint8_t> T1Transport::send(std::uint8_t pcb, std::span<const std::uint8_t> inf) {
  lastSent_ = t1::encode(swappedNad(nad_), pcb, inf);
  return lastSent_;
}

std::vector<std::uint8_t> T1Transport::reject(std::uint8_t error) {
  // Not remembered as the last block: the terminal's R-block after this
  // one still asks for the block before it.
  return t1::encode(swappedNad(nad_), t1::rPcb(expectedSequence_, error));
}

}  // namespace k52::sim
