// The exported entry points of libctbridge.so, wired to the machine: pcsc-lite,
// the real clock, the prefix registry and the optional TRCHOOK trace sink.
#include "ctapi/pcsc/ctbridge.h"

#include <filesystem>
#include <memory>

#include "ctapi/pcsc/bridge.h"
#include "ctapi/pcsc/entry_guard.h"
#include "platform/diag/debug_log.h"
#include "platform/pcsc/pcsclite_api.h"
#include "platform/win32/library.h"
#include "platform/win32/registry.h"

namespace k52::ctbridge {
namespace {

constexpr char kConfigKey[] = "CTAPIDLL.INI\\OPT";
// Values are read through a buffer of this many bytes, terminator included.
constexpr std::size_t kConfigBuffer = 1024;

class LibraryTraceSink final : public TraceSink {
 public:
  using DebugPrint = void (*)(const char*);
  LibraryTraceSink(std::unique_ptr<win32::Library> library, DebugPrint print)
      : library_(std::move(library)), print_(print) {}
  void print(const char* text) override { print_(text); }

 private:
  std::unique_ptr<win32::Library> library_;
  DebugPrint print_;
};

struct Process {
  pcsc::PcscLiteApi pcsc;
  win32::Prefix prefix = win32::Prefix::fromEnvironment();
  Bridge bridge{Environment{
      pcsc,
      RealClock::instance(),
      [this](const std::string& name) {
        try {
          std::string value =
              win32::Registry(prefix).getString(win32::RootKey::CurrentUser, kConfigKey, name);
          if (value.size() >= kConfigBuffer) value.resize(kConfigBuffer - 1);
          return value;
        } catch (const std::exception& e) {
          // An unreadable store reads as empty.
          diag::debugLog("ctbridge configuration", name + ": " + e.what());
          return std::string();
        }
      },
      [this]() -> std::unique_ptr<TraceSink> {
        auto library = win32::Library::load("TRCHOOK", prefix);
        if (!library) return nullptr;
        auto print = reinterpret_cast<LibraryTraceSink::DebugPrint>(library->entry("DebugPrint"));
        if (!print) return nullptr;
        return std::make_unique<LibraryTraceSink>(std::move(library), print);
      },
      [this](const std::string& windowsPath) {
        // C:\ is always there on the machines this library was made for.
        std::error_code ignored;
        std::filesystem::create_directories(prefix.root() / "drive_c", ignored);
        return prefix.hostPath(windowsPath);
      },
  }};
};

Bridge& bridge() {
  static Process process;
  return process.bridge;
}

}  // namespace
}  // namespace k52::ctbridge

using k52::ctbridge::bridge;
using k52::ctbridge::guarded;

extern "C" {

__attribute__((visibility("default"))) int8_t CT_init(uint16_t ctn, uint16_t pn) {
  return guarded<int8_t>("ctbridge CT_init", ERR_HTSI, [&] { return bridge().init(ctn, pn); });
}

__attribute__((visibility("default"))) int8_t CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad,
                                                      uint16_t lenc, const uint8_t* command,
                                                      uint16_t* lenr, uint8_t* response) {
  return guarded<int8_t>("ctbridge CT_data", ERR_HTSI, [&] {
    return bridge().data(ctn, dad, sad, lenc, command, lenr, response);
  });
}

__attribute__((visibility("default"))) int8_t CT_close(uint16_t ctn) {
  return guarded<int8_t>("ctbridge CT_close", ERR_HTSI, [&] { return bridge().close(ctn); });
}

__attribute__((visibility("default"))) int32_t CT_getrd(char* buffer, uint32_t* length) {
  return guarded<int32_t>("ctbridge CT_getrd",
                          static_cast<int32_t>(0x80100001),  // SCARD_F_INTERNAL_ERROR
                          [&] { return bridge().getReaders(buffer, length); });
}
}
