// The channel driver's interface to its clients: the internal requests the
// reader driver sends to "\Device\vrlPCSC", the control requests user-mode
// tools send through "\DosDevices\vrlPCSC", and the records they carry.
//
// Every request is METHOD_BUFFERED on device type 0x8003, so a code is
// 0x80030000 + 4 x function. Buffers belong to the caller; nothing is
// allocated across the boundary.
#pragma once

#include <cstddef>
#include <cstdint>

namespace k52::kbdchannel {

inline constexpr std::uint32_t kDeviceType = 0x8003;
constexpr std::uint32_t vrlCode(std::uint32_t function) {
  return (kDeviceType << 16) | (function << 2);
}

// Internal requests (IRP_MJ_INTERNAL_DEVICE_CONTROL), the reader driver's.
inline constexpr std::uint32_t IOCTL_VRLPCSC_ATTACH = vrlCode(0x819);         // 0x80032064
inline constexpr std::uint32_t IOCTL_VRLPCSC_DETACH = vrlCode(0x81A);         // 0x80032068
inline constexpr std::uint32_t IOCTL_VRLPCSC_SEND_KEYBOARD = vrlCode(0x81B);  // 0x8003206C
inline constexpr std::uint32_t IOCTL_VRLPCSC_SEND_TERMINAL = vrlCode(0x81C);  // 0x80032070
inline constexpr std::uint32_t IOCTL_VRLPCSC_READ_FIFO = vrlCode(0x81D);      // 0x80032074

// Control requests (IRP_MJ_DEVICE_CONTROL), for tools.
inline constexpr std::uint32_t IOCTL_VRL_VERSION = vrlCode(0x802);            // 0x80032008
inline constexpr std::uint32_t IOCTL_VRL_VERSION_2 = vrlCode(0x803);          // 0x8003200C
inline constexpr std::uint32_t IOCTL_VRL_HOOK = vrlCode(0x804);               // 0x80032010
inline constexpr std::uint32_t IOCTL_VRL_UNHOOK = vrlCode(0x805);             // 0x80032014
inline constexpr std::uint32_t IOCTL_VRL_FIFO_COUNT = vrlCode(0x806);         // 0x80032018
inline constexpr std::uint32_t IOCTL_VRL_FIFO_READ = vrlCode(0x807);          // 0x8003201C
inline constexpr std::uint32_t IOCTL_VRL_FIFO_CLEAR = vrlCode(0x808);         // 0x80032020
inline constexpr std::uint32_t IOCTL_VRL_PORT_WRITE = vrlCode(0x809);         // 0x80032024
inline constexpr std::uint32_t IOCTL_VRL_PORT_READ_DISCARD = vrlCode(0x80A);  // 0x80032028
inline constexpr std::uint32_t IOCTL_VRL_PORT_READ = vrlCode(0x80B);          // 0x8003202C
inline constexpr std::uint32_t IOCTL_VRL_FIFO_PEEK = vrlCode(0x80C);          // 0x80032030
inline constexpr std::uint32_t IOCTL_VRL_TICK_COUNT = vrlCode(0x80D);         // 0x80032034
inline constexpr std::uint32_t IOCTL_VRL_ENABLE_KB_INT = vrlCode(0x80E);      // 0x80032038
inline constexpr std::uint32_t IOCTL_VRL_DISABLE_KB_INT = vrlCode(0x80F);     // 0x8003203C
inline constexpr std::uint32_t IOCTL_VRL_FILTER_ON = vrlCode(0x810);          // 0x80032040
inline constexpr std::uint32_t IOCTL_VRL_FILTER_OFF = vrlCode(0x811);         // 0x80032044
inline constexpr std::uint32_t IOCTL_VRL_FILTER_MODE = vrlCode(0x812);        // 0x80032048
inline constexpr std::uint32_t IOCTL_VRL_FILTER_EXCHANGE = vrlCode(0x813);    // 0x8003204C
inline constexpr std::uint32_t IOCTL_VRL_CMD_BYTE_READ = vrlCode(0x814);      // 0x80032050
inline constexpr std::uint32_t IOCTL_VRL_CMD_BYTE_WRITE = vrlCode(0x815);     // 0x80032054
inline constexpr std::uint32_t IOCTL_VRL_NOTHING = vrlCode(0x816);            // 0x80032058
inline constexpr std::uint32_t IOCTL_VRL_AWAITING_ACK = vrlCode(0x817);       // 0x8003205C
inline constexpr std::uint32_t IOCTL_VRL_SEND_HOLD = vrlCode(0x818);          // 0x80032060

inline constexpr std::uint16_t kInterfaceVersion = 0x0301;

// One received byte, as the FIFO requests return it.
struct FifoEntry {
  std::uint16_t value;  // the received byte, 0..255
  std::uint8_t port;    // 0x60
  std::uint8_t kind;    // 1
  std::uint32_t time;   // millisecond clock at reception
};
static_assert(sizeof(FifoEntry) == 8);
static_assert(offsetof(FifoEntry, time) == 4);

using UnloadCallback = void (*)(void* context);
using DataCallback = void (*)(void* context, std::uint16_t fifoCount);

// Input of IOCTL_VRLPCSC_ATTACH. The fields keep their order; pointers are
// native kernel addresses, so the record is wider on a 64-bit host.
struct AttachRecord {
  UnloadCallback unloadCallback;  // called once when the channel driver unloads
  void* context;                  // handed back to both callbacks
  DataCallback dataCallback;      // called after each received byte
  std::uint64_t unused;
};

// Input of the two send requests.
struct SendRequest {
  std::uint16_t length;  // number of data bytes
  std::uint16_t unused;
  const std::uint8_t* data;
};

// Output of the two send requests.
inline constexpr std::uint16_t kSendOk = 0;
inline constexpr std::uint16_t kSendFailed = 0xFFFF;

}  // namespace k52::kbdchannel
