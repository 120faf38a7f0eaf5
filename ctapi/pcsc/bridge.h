// The PC/SC library's process-wide state and its four entry points.
//
// One Bridge per process; the exported C functions forward to it. Terminal
// numbers map to PC/SC readers through the per-user configuration value
// "ReaderName<ctn>"; one resource-manager context serves all terminals from
// the first CT_init to the last balancing CT_close.
#pragma once

#include <cstdint>
#include <span>

#include "ctapi/pcsc/environment.h"
#include "ctapi/pcsc/job.h"
#include "ctapi/pcsc/terminal_table.h"
#include "ctapi/pcsc/trace.h"

namespace k52::ctbridge {

class Bridge {
 public:
  explicit Bridge(Environment env) : env_(std::move(env)), trace_(env_) {}

  std::int8_t init(std::uint16_t ctn, std::uint16_t pn);
  std::int8_t close(std::uint16_t ctn);
  std::int8_t data(std::uint16_t ctn, std::uint8_t* dad, std::uint8_t* sad, std::uint16_t lenc,
                   const std::uint8_t* command, std::uint16_t* lenr, std::uint8_t* response);
  std::int32_t getReaders(char* buffer, std::uint32_t* length);

  pcsc::Context context() const { return context_; }
  const Trace& trace() const { return trace_; }

 private:
  std::int8_t dispatch(std::uint16_t ctn, std::uint8_t& dad, std::uint8_t sad,
                       std::span<const std::uint8_t> command, std::uint16_t& lenr,
                       std::uint8_t* response);
  // An open terminal and the reader configured for it ("" when none).
  struct Terminal {
    std::size_t slot;
    std::string valueName;
    std::string reader;
  };
  std::int8_t terminalCommand(const Command& cmd, const Terminal& terminal, std::uint8_t& dad,
                              std::uint16_t& lenr, std::uint8_t* response);
  std::int8_t cardCommand(const Terminal& terminal, std::uint8_t& dad,
                          std::span<const std::uint8_t> command, std::uint16_t& lenr,
                          std::uint8_t* response);
  void traceResponse(std::span<const std::uint8_t> bytes, bool failed);

  Environment env_;
  Trace trace_;
  pcsc::Context context_ = 0;
  pcsc::Status lastPcscResult_ = 0;
  bool firstUse_ = true;
  std::int32_t openCount_ = 0;
  TerminalTable terminals_;
};

}  // namespace k52::ctbridge
