// The CT-API library the tool reads the card through, bound at run time.
//
// The library is found by the file name the installation configured (see
// library_setting.h) with the Windows module search rule of
// platform/win32/library.h, and CT_init, CT_data and CT_close are looked up by
// name. Any of them may be missing, and so may the library: a call through a
// missing entry point does nothing and counts as result 0 (with no answer).
//
// The binding opens terminal 1 on port 1 when it is made and closes it when
// it goes; everything in between is sent with sad = 1 and a response
// capacity of 256 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/win32/library.h"

namespace k52::balview {

using CtInitFn = std::int8_t (*)(std::uint16_t ctn, std::uint16_t pn);
using CtDataFn = std::int8_t (*)(std::uint16_t ctn, std::uint8_t* dad, std::uint8_t* sad,
                                 std::uint16_t lenc, const std::uint8_t* command,
                                 std::uint16_t* lenr, std::uint8_t* response);
using CtCloseFn = std::int8_t (*)(std::uint16_t ctn);

// The three entry points; nullptr where one is missing.
struct CtApiFunctions {
  CtInitFn init = nullptr;
  CtDataFn data = nullptr;
  CtCloseFn close = nullptr;
};

// What one CT_data call gave back.
struct Answer {
  int result = 0;
  std::vector<std::uint8_t> bytes;  // the response, lenr bytes
};

class CtApiBinding {
 public:
  static constexpr std::uint16_t kTerminal = 1;
  static constexpr std::uint16_t kPort = 1;
  static constexpr std::uint8_t kSourceAddress = 1;
  static constexpr std::uint16_t kResponseCapacity = 256;

  // Calls CT_init(1, 1); its result does not matter to the tool.
  explicit CtApiBinding(CtApiFunctions functions,
                        std::unique_ptr<win32::Library> library = nullptr);
  // Calls CT_close(1), then unloads the library.
  ~CtApiBinding();
  CtApiBinding(const CtApiBinding&) = delete;
  CtApiBinding& operator=(const CtApiBinding&) = delete;

  // Loads the library named `libraryName` and binds it; a library that cannot
  // be loaded gives a binding without entry points.
  static std::unique_ptr<CtApiBinding> load(std::string_view libraryName,
                                            const win32::Prefix& prefix);

  // Sends one command to `dad`.
  Answer send(std::uint8_t dad, std::span<const std::uint8_t> command);

  // The loaded library, or nullptr.
  const win32::Library* library() const { return library_.get(); }
  bool complete() const { return functions_.init && functions_.data && functions_.close; }

 private:
  std::unique_ptr<win32::Library> library_;
  CtApiFunctions functions_;
};

}  // namespace k52::balview
