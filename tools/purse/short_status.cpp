#include "tools/purse/short_status.h"

#include <cstring>

#include "ctapi/include/ctapi.h"

namespace k52::balview {

namespace {

// The card state REQUEST ICC found: 05 for a card it activated or found
// active, 00 for none, -1 when it could not tell.
int requestedState(CtDataFn data, std::uint16_t ctn) {
  static constexpr std::uint8_t kRequestIcc[] = {CTBCS_CLA, CTBCS_INS_REQUEST, 0x01, 0xF0};
  std::uint8_t dad = CTAPI_ADDR_CT, sad = CTAPI_ADDR_HOST;
  std::uint8_t answer[2];
  std::uint16_t length = sizeof answer;
  if (data(ctn, &dad, &sad, sizeof kRequestIcc, kRequestIcc, &length, answer) != OK ||
      length != 2) {
    return -1;
  }
  if ((answer[0] == 0x90 || answer[0] == 0x62) && answer[1] == 0x01) return 0x05;
  if (answer[0] == 0x62 && answer[1] == 0x00) return 0x00;
  return -1;
}

}  // namespace

bool shortenIccStatus(CtDataFn data, std::uint16_t ctn, std::uint16_t* lenr,
                      std::uint8_t* response) {
  if (*lenr == 5 && response[0] == 0x80 && response[1] == 0x01) {
    std::memmove(response, response + 2, 3);
    *lenr = 3;
    return true;
  }
  if (*lenr != 2 || response[0] != 0x64 || response[1] != 0x00) return false;
  const int state = requestedState(data, ctn);
  if (state < 0) return false;
  response[0] = static_cast<std::uint8_t>(state);
  response[1] = 0x90;
  response[2] = 0x00;
  *lenr = 3;
  return true;
}

bool asksIccStatus(std::uint8_t dad, std::uint16_t lenc, const std::uint8_t* command) {
  return dad == CTAPI_ADDR_CT && lenc >= 4 && command[0] == CTBCS_CLA &&
         command[1] == CTBCS_INS_STATUS && command[2] == 0x00 && command[3] == 0x80;
}

}  // namespace k52::balview
