// A CT-API whose answers the test writes down beforehand, bound through the
// function table as a loaded library would be.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "tools/purse/ctapi_binding.h"

namespace k52::balview::testing {

using Bytes = std::vector<std::uint8_t>;

struct Reply {
  int result = 0;
  Bytes bytes;
};

// One CT_data call as the library saw it.
struct Call {
  std::uint16_t ctn;
  std::uint8_t dad, sad;
  std::uint16_t lenr;
  Bytes command;
};

// Answers each command with the replies queued for it, in order; the last
// one repeats. A command nobody expected gets ERR_INVALID.
class ScriptedCtApi {
 public:
  ScriptedCtApi() { current_ = this; }
  ~ScriptedCtApi() { current_ = nullptr; }

  void on(const Bytes& command, Reply reply) { replies_[command].push_back(std::move(reply)); }
  // Forgets every reply: the card was changed.
  void clear() { replies_.clear(); }

  static CtApiFunctions functions() { return {&init, &data, &close}; }

  std::vector<Call> calls;
  std::vector<std::uint16_t> inits, closes;
  // Makes CT_data report this lenr whatever it wrote (a library that lies).
  int claimedLength = -1;

 private:
  static std::int8_t init(std::uint16_t ctn, std::uint16_t pn) {
    current_->inits.push_back(static_cast<std::uint16_t>(ctn << 8 | pn));
    return 0;
  }
  static std::int8_t close(std::uint16_t ctn) {
    current_->closes.push_back(ctn);
    return 0;
  }
  static std::int8_t data(std::uint16_t ctn, std::uint8_t* dad, std::uint8_t* sad,
                          std::uint16_t lenc, const std::uint8_t* command, std::uint16_t* lenr,
                          std::uint8_t* response) {
    ScriptedCtApi& self = *current_;
    Bytes bytes(command, command + lenc);
    self.calls.push_back({ctn, *dad, *sad, *lenr, bytes});
    std::swap(*dad, *sad);
    auto found = self.replies_.find(bytes);
    if (found == self.replies_.end()) return -1;
    std::deque<Reply>& queue = found->second;
    const Reply reply = queue.front();
    if (queue.size() > 1) queue.pop_front();
    const std::size_t n = std::min<std::size_t>(reply.bytes.size(), *lenr);
    if (n > 0) std::memcpy(response, reply.bytes.data(), n);
    *lenr = self.claimedLength >= 0 ? static_cast<std::uint16_t>(self.claimedLength)
                                    : static_cast<std::uint16_t>(n);
    return static_cast<std::int8_t>(reply.result);
  }

  std::map<Bytes, std::deque<Reply>> replies_;
  static inline ScriptedCtApi* current_ = nullptr;
};

// The commands the tool sends.
inline const Bytes kCardStatus{0x20, 0x13, 0x00, 0x80, 0x00};
inline const Bytes kCardReset{0x20, 0x11, 0x01, 0x00, 0x00};
inline const Bytes kSelectPurse{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                                0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
inline const Bytes kReadBalanceRecord{0x00, 0xB2, 0x01, 0xC4, 0x09};
inline const Bytes kVersionQuery{0x20, 0x13, 0x00, 0x47};

}  // namespace k52::balview::testing
