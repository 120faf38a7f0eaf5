#include "ctapi/pcsc/trace.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace k52::ctbridge {
namespace {

// The trace file name "<dir>_cc.prt" stays within 255 characters.
constexpr std::size_t kMaxDirectory = 247;

std::string format(const char* pattern, va_list args) {
  char text[Trace::kMaxMessage + 1];
  std::vsnprintf(text, sizeof text, pattern, args);
  return text;
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace

void Trace::configure() {
  const std::string value = upper(env_.readConfig("DEBUG"));
  if (value.starts_with("ON") && mode_ == TraceMode::Off) mode_ = TraceMode::Sink;
  if (value == "ONN") mode_ = TraceMode::SinkAndFile;
  if (!value.starts_with("ON")) return;

  sink_ = env_.loadTraceSink ? env_.loadTraceSink() : nullptr;
  const std::string debugDir = env_.readConfig("DEBUGDIR");
  dir_ = debugDir.empty() ? "C:\\" : debugDir.substr(0, kMaxDirectory - 1);
  if (dir_.back() != '\\') dir_.push_back('\\');
}

void Trace::line(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  const std::string text = format(pattern, args);
  va_end(args);
  emitSink(text);
  emitFile(text);
}

void Trace::traceLine(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  emitSink(format(pattern, args));
  va_end(args);
}

void Trace::traceFile(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  emitFile(format(pattern, args));
  va_end(args);
}

void Trace::bytes(const char* prefix, const char* itemFormat, std::span<const std::uint8_t> data) {
  if (!on()) return;
  std::string text = prefix;
  char item[8];
  for (std::uint8_t byte : data) {
    if (text.size() >= kMaxMessage) break;
    std::snprintf(item, sizeof item, itemFormat, byte);
    text += item;
  }
  text.resize(std::min(text.size(), kMaxMessage));
  emitSink(text);
  emitFile(text);
}

void Trace::emitSink(const std::string& text) {
  if (sink_) sink_->print(text.c_str());
}

void Trace::emitFile(const std::string& text) {
  if (mode_ != TraceMode::SinkAndFile || !env_.hostPath) return;
  const auto path = env_.hostPath(dir_ + "_cc.prt");
  if (!path) return;
  std::ofstream file(*path, std::ios::app | std::ios::binary);
  if (!file) return;  // an unwritable trace file drops the message
  file << text;
  if (text.empty() || text.back() != '\n') file << '\n';
}

}  // namespace k52::ctbridge
