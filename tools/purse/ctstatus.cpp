// libctstatus.so: a CT-API library in front of another one, for programs made
// for the keyboard terminal library's answers (balview).
//
// Everything passes through unchanged, except the answer to GET STATUS of the
// ICC status object, which comes back in the keyboard terminal library's
// short form (see short_status.h).
//
// The library behind is $K52_CTSTATUS_LIBRARY, else "ctbridge", found by the
// Windows module rule of platform/win32/library.h in the prefix of
// $K52_PREFIX. Without it every call returns ERR_HTSI.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ctapi/include/ctapi.h"
#include "platform/win32/library.h"
#include "tools/purse/short_status.h"

namespace {

using k52::balview::CtApiFunctions;

struct Behind {
  std::unique_ptr<k52::win32::Library> library;
  CtApiFunctions functions;
};

// Loaded on first use and kept for the life of the process: the library
// behind may hold terminals open across CT_close of one of them.
const Behind& behind() {
  static const Behind loaded = [] {
    Behind b;
    const char* name = std::getenv("K52_CTSTATUS_LIBRARY");
    b.library = k52::win32::Library::load(name && *name ? name : "ctbridge",
                                          k52::win32::Prefix::fromEnvironment());
    if (b.library) {
      using namespace k52::balview;
      b.functions.init = reinterpret_cast<CtInitFn>(b.library->entry("CT_init"));
      b.functions.data = reinterpret_cast<CtDataFn>(b.library->entry("CT_data"));
      b.functions.close = reinterpret_cast<CtCloseFn>(b.library->entry("CT_close"));
    }
    return b;
  }();
  return loaded;
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT std::int8_t CT_init(std::uint16_t ctn, std::uint16_t pn) {
  const auto init = behind().functions.init;
  return init ? init(ctn, pn) : std::int8_t{ERR_HTSI};
}

EXPORT std::int8_t CT_data(std::uint16_t ctn, std::uint8_t* dad, std::uint8_t* sad,
                           std::uint16_t lenc, const std::uint8_t* command, std::uint16_t* lenr,
                           std::uint8_t* response) {
  const auto data = behind().functions.data;
  if (!data) return ERR_HTSI;
  // Missing arguments are the library behind's to refuse; only a complete
  // call can be a status request whose answer is rewritten.
  const bool complete = dad && sad && lenr && response && command;
  const bool status = complete && k52::balview::asksIccStatus(*dad, lenc, command);
  const std::uint16_t capacity = complete ? *lenr : 0;
  const std::int8_t result = data(ctn, dad, sad, lenc, command, lenr, response);
  if (result == OK && status && capacity >= 5) {
    k52::balview::shortenIccStatus(data, ctn, lenr, response);
  }
  return result;
}

EXPORT std::int8_t CT_close(std::uint16_t ctn) {
  const auto close = behind().functions.close;
  return close ? close(ctn) : std::int8_t{ERR_HTSI};
}
