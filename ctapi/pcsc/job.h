// One CT-BCS command in progress: what the handlers of the terminal commands
// share, and the per-command connection to the reader.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ctapi/pcsc/command.h"
#include "ctapi/pcsc/environment.h"
#include "ctapi/pcsc/trace.h"

namespace k52::ctbridge {

// The response a handler builds. Nothing reaches the caller's buffer until
// the command is finished, and then only what fits its capacity.
class Response {
 public:
  explicit Response(std::uint16_t capacity) : capacity_(capacity) {}

  std::uint16_t capacity() const { return capacity_; }
  const std::optional<std::vector<std::uint8_t>>& bytes() const { return bytes_; }

  void status(std::uint8_t sw1, std::uint8_t sw2) { set({sw1, sw2}); }
  void set(std::vector<std::uint8_t> bytes) {
    bytes_ = std::move(bytes);
    relayed_ = false;
  }
  // Data followed by SW1 SW2; with a capacity other than 0 the data are cut
  // so that both fit.
  void dataAndStatus(std::span<const std::uint8_t> data, std::uint8_t sw1, std::uint8_t sw2);

  // An answer the reader driver passed back as the terminal or the card gave
  // it, rather than one the library made up itself.
  void relay(std::vector<std::uint8_t> bytes) {
    set(std::move(bytes));
    relayed_ = true;
  }
  bool relayed() const { return relayed_; }

 private:
  std::uint16_t capacity_;
  std::optional<std::vector<std::uint8_t>> bytes_;
  bool relayed_ = false;
};

enum class Outcome { Done, Failed };

struct Job {
  const Environment& env;
  Trace& trace;
  pcsc::Context& context;  // the process context; the reader restart replaces it
  std::size_t slot;        // the terminal's index in the terminal table
  std::string readerName;
  const Command& cmd;
  Response& response;
};

struct CardStatus {
  pcsc::Status result = pcsc::kInvalidHandle;
  std::uint32_t state = pcsc::kUnknown;
  std::uint32_t protocol = 0;
  std::array<std::uint8_t, 36> atrBuffer{};
  std::uint32_t atrLen = 0;

  bool ok() const { return result == pcsc::kSuccess; }
  std::span<const std::uint8_t> atr() const { return {atrBuffer.data(), atrLen}; }
};

// A connection to the job's reader. Whatever path a handler takes, the
// connection is released when it goes out of scope.
class Connection {
 public:
  Connection(const Environment& env, Trace& trace, const pcsc::Context& context,
             const std::string& reader)
      : env_(env), trace_(trace), context_(context), reader_(reader) {}
  explicit Connection(Job& job) : Connection(job.env, job.trace, job.context, job.readerName) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  pcsc::Status connect(pcsc::ShareMode mode, std::uint32_t protocols);
  // kInvalidHandle when not connected.
  pcsc::Status release(pcsc::Disposition disposition);

  bool connected() const { return handle_ != 0; }
  pcsc::Handle handle() const { return handle_; }
  std::uint32_t activeProtocol() const { return activeProtocol_; }

  CardStatus query();
  // query() with the usual four traces.
  CardStatus queryTraced();
  // A 4-byte attribute, 0 beforehand.
  pcsc::Status readAttribute32(std::uint32_t attr, std::uint32_t& value);
  pcsc::Status readAttribute(std::uint32_t attr, std::uint8_t* buffer, std::uint32_t& len);

 private:
  const Environment& env_;
  Trace& trace_;
  const pcsc::Context& context_;
  const std::string& reader_;
  pcsc::Handle handle_ = 0;
  std::uint32_t activeProtocol_ = 0;
};

// The user-authentication device attribute with its two traces; a reader that
// does not answer counts as having neither display nor keyboard.
std::uint32_t readAuthDevice(Connection& conn, Trace& trace, pcsc::Status* status = nullptr);

}  // namespace k52::ctbridge
