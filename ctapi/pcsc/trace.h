// The library's trace: every message goes to the outside trace sink (when
// loaded) and, in file mode, is appended to "<traceDir>_cc.prt". The file is
// opened and closed for every message so that nothing is lost when the
// application dies.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "ctapi/pcsc/environment.h"

namespace k52::ctbridge {

enum class TraceMode { Off = 0, Sink = 1, SinkAndFile = 2 };

class Trace {
 public:
  explicit Trace(const Environment& env) : env_(env) {}

  // Reads the "DEBUG" setting; the mode only ever rises. When it switches
  // the trace on, loads the sink library and reads "DEBUGDIR".
  void configure();
  void unloadSink() { sink_.reset(); }

  TraceMode mode() const { return mode_; }
  bool on() const { return mode_ != TraceMode::Off; }
  const std::string& directory() const { return dir_; }

  // A message to both sinks: what traceLine and traceFile do, in one call.
  void line(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A message to the outside trace sink only, when it is loaded.
  void traceLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A message to the trace file only, in file mode.
  void traceFile(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // `prefix` followed by every byte in `itemFormat` ("%02x " or "%02X,").
  void bytes(const char* prefix, const char* itemFormat, std::span<const std::uint8_t> data);

  // The longest message; longer ones are cut.
  static constexpr std::size_t kMaxMessage = 299;

 private:
  void emitSink(const std::string& text);
  void emitFile(const std::string& text);

  const Environment& env_;
  TraceMode mode_ = TraceMode::Off;
  std::string dir_ = "C:\\";
  std::unique_ptr<TraceSink> sink_;
};

}  // namespace k52::ctbridge
