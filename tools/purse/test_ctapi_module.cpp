// A CT-API library for the loader tests: it answers the way the keyboard
// terminal library does with an active purse card holding 12.34 DM, and
// refuses missing arguments with ERR_INVALID. Built a
// second time without CT_close (K52_WITHOUT_CLOSE) to see a missing entry.
#include <cstdint>
#include <cstring>

namespace {

struct Reply {
  std::uint8_t command[14];
  std::uint16_t commandLength;
  std::uint8_t answer[11];
  std::uint16_t answerLength;
};

constexpr Reply kReplies[] = {
    {{0x20, 0x13, 0x00, 0x80, 0x00}, 5, {0x05, 0x90, 0x00}, 3},
    {{0x20, 0x11, 0x01, 0x00, 0x00}, 5, {0x90, 0x01}, 2},
    {{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76, 0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00},
     14,
     {0x90, 0x00},
     2},
    {{0x00, 0xB2, 0x01, 0xC4, 0x09},
     5,
     {0x00, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0x00},
     11},
    {{0x20, 0x13, 0x00, 0x47}, 4, {0x12, 0x34, 0x56}, 3},
};

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT std::int8_t CT_init(std::uint16_t, std::uint16_t) {
  return 0;
}

EXPORT std::int8_t CT_data(std::uint16_t ctn, std::uint8_t* dad, std::uint8_t* sad,
                           std::uint16_t lenc, const std::uint8_t* command, std::uint16_t* lenr,
                           std::uint8_t* response) {
  if (!dad || !sad || !lenr || !response || (lenc != 0 && !command)) return -1;
  const std::uint8_t requester = *sad;
  *sad = *dad;
  *dad = requester;
  if (ctn != 1) return -1;
  for (const Reply& reply : kReplies) {
    if (reply.commandLength != lenc || std::memcmp(reply.command, command, lenc) != 0) continue;
    if (*lenr < reply.answerLength) return -11;
    std::memcpy(response, reply.answer, reply.answerLength);
    *lenr = reply.answerLength;
    return 0;
  }
  return -1;
}

#ifndef K52_WITHOUT_CLOSE
EXPORT std::int8_t CT_close(std::uint16_t) {
  return 0;
}
#endif
