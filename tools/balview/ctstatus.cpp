// libctstatus.so: a CT-API library in front of another one, for programs made
// for the keyboard terminal library's answers.
//
// Everything passes through unchanged, except GET STATUS of the ICC status
// object (20 13 00 80). A CT-BCS library answers it with the whole data
// object, 80 01 S 90 00; the keyboard terminal library, and so balview, use
// the short form S 90 00. A library that cannot report the status (64 00,
// as libctbridge.so on a reader that does not tell its type) is asked REQUEST
// ICC without prompt instead: a card it finds or finds activated (90 01,
// 62 01) is 05 "present and active", none (62 00) is 00 "no card".
//
// The library behind is $K52_CTSTATUS_LIBRARY, else "ctbridge", found by the
// Windows module rule of platform/win32/library.h in the prefix of
// $K52_PREFIX. Without it every call returns ERR_HTSI.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ctapi/include/ctapi.h"
#include "platform/win32/library.h"
#include "tools/balview/ctapi_binding.h"

namespace {

using k52::balview::CtApiFunctions;
using k52::balview::CtCloseFn;
using k52::balview::CtDataFn;
using k52::balview::CtInitFn;

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
      b.functions.init = reinterpret_cast<CtInitFn>(b.library->entry("CT_init"));
      b.functions.data = reinterpret_cast<CtDataFn>(b.library->entry("CT_data"));
      b.functions.close = reinterpret_cast<CtCloseFn>(b.library->entry("CT_close"));
    }
    return b;
  }();
  return loaded;
}

// The short form of the ICC status from the answer `data` gave to GET STATUS;
// the response buffer holds at least five bytes.
bool shortenIccStatus(CtDataFn data, std::uint16_t ctn, std::uint16_t* lenr,
                      std::uint8_t* response) {
  if (*lenr == 5 && response[0] == 0x80 && response[1] == 0x01) {
    std::memmove(response, response + 2, 3);
    *lenr = 3;
    return true;
  }
  if (*lenr != 2 || response[0] != 0x64 || response[1] != 0x00) return false;
  static constexpr std::uint8_t kRequestIcc[] = {CTBCS_CLA, CTBCS_INS_REQUEST, 0x01, 0xF0};
  std::uint8_t dad = CTAPI_ADDR_CT, sad = CTAPI_ADDR_HOST;
  std::uint8_t answer[2];
  std::uint16_t length = sizeof answer;
  if (data(ctn, &dad, &sad, sizeof kRequestIcc, kRequestIcc, &length, answer) != OK ||
      length != 2) {
    return false;
  }
  std::uint8_t state;
  if ((answer[0] == 0x90 && answer[1] == 0x01) || (answer[0] == 0x62 && answer[1] == 0x01)) {
    state = 0x05;
  } else if (answer[0] == 0x62 && answer[1] == 0x00) {
    state = 0x00;
  } else {
    return false;
  }
  response[0] = state;
  response[1] = 0x90;
  response[2] = 0x00;
  *lenr = 3;
  return true;
}

bool asksIccStatus(std::uint8_t dad, std::uint16_t lenc, const std::uint8_t* command) {
  return dad == CTAPI_ADDR_CT && lenc >= 4 && command[0] == CTBCS_CLA &&
         command[1] == CTBCS_INS_STATUS && command[2] == 0x00 && command[3] == 0x80;
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
  const bool status = asksIccStatus(*dad, lenc, command);
  const std::uint16_t capacity = *lenr;
  const std::int8_t result = data(ctn, dad, sad, lenc, command, lenr, response);
  if (result == OK && status && capacity >= 5) shortenIccStatus(data, ctn, lenr, response);
  return result;
}

EXPORT std::int8_t CT_close(std::uint16_t ctn) {
  const auto close = behind().functions.close;
  return close ? close(ctn) : std::int8_t{ERR_HTSI};
}
