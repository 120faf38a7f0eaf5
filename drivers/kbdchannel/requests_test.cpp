// The request interfaces, start and unload, through the kernel model.
#include <gtest/gtest.h>

#include "drivers/kbdchannel/test_channel_rig.h"

namespace k52::kbdchannel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(ChannelRequests, InternalRequestsCheckTheirBuffers) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  const Bytes send8(8, 0);
  struct Case {
    const char* what;
    nt::ULONG code;
    Bytes in;
    std::size_t out;
    nt::NTSTATUS status;
  };
  const Case cases[] = {
      {"short attach record", IOCTL_VRLPCSC_ATTACH, Bytes(16), 0, nt::STATUS_INVALID_BUFFER_SIZE},
      {"short send request", IOCTL_VRLPCSC_SEND_TERMINAL, Bytes(7), 2,
       nt::STATUS_INVALID_BUFFER_SIZE},
      {"short send result", IOCTL_VRLPCSC_SEND_KEYBOARD, send8, 1, nt::STATUS_INVALID_BUFFER_SIZE},
      {"no buffer", IOCTL_VRLPCSC_SEND_TERMINAL, {}, 0, nt::STATUS_INVALID_BUFFER_SIZE},
      {"short FIFO entry", IOCTL_VRLPCSC_READ_FIFO, {}, 7, nt::STATUS_INVALID_BUFFER_SIZE},
      {"empty FIFO", IOCTL_VRLPCSC_READ_FIFO, {}, 8, nt::STATUS_UNSUCCESSFUL},
      {"unknown code", 0x80032078, {}, 8, nt::STATUS_INVALID_DEVICE_REQUEST},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rig.internal(c.code, c.in, c.out).status, c.status) << c.what;
  }
  // The short attach hooked nothing: a lead-in still reaches the reader.
  rig.pc().keyboard().press(0x64);
  rig.run(20ms);
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x64}));
  EXPECT_TRUE(rig.wiring().hostBytes().bytes().empty());
}

TEST(ChannelRequests, ToolRequestsAnswerWithTheirWords) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  rig.run(1100ms);
  auto tool = rig.openTool(true);
  ASSERT_NE(tool, nullptr);
  const auto ask = [&](nt::ULONG code, Bytes in, std::size_t outSize) {
    Bytes out(outSize, 0xEE);
    const auto result = tool->deviceIoControl(code, in, out);
    EXPECT_EQ(result.status, nt::STATUS_SUCCESS) << std::hex << code;
    out.resize(result.bytesReturned);
    return out;
  };
  EXPECT_EQ(ask(IOCTL_VRL_VERSION, {}, 2), (Bytes{0x01, 0x03}));
  EXPECT_EQ(ask(IOCTL_VRL_VERSION_2, {}, 2), (Bytes{0x01, 0x03}));
  EXPECT_EQ(ask(IOCTL_VRL_VERSION, {}, 1), Bytes{});  // too small: nothing
  EXPECT_EQ(ask(IOCTL_VRL_FILTER_MODE, {}, 2), (Bytes{0x00, 0x00}));
  EXPECT_EQ(ask(IOCTL_VRL_FILTER_EXCHANGE, {0x21, 0x00}, 2), (Bytes{0x00, 0x00}));
  EXPECT_EQ(ask(IOCTL_VRL_FILTER_OFF, {}, 0), Bytes{});
  EXPECT_EQ(ask(IOCTL_VRL_FILTER_MODE, {}, 2), (Bytes{0x20, 0x00}));
  EXPECT_EQ(ask(IOCTL_VRL_FILTER_ON, {}, 0), Bytes{});
  EXPECT_EQ(ask(IOCTL_VRL_FILTER_MODE, {}, 2), (Bytes{0x21, 0x00}));
  EXPECT_EQ(ask(IOCTL_VRL_SEND_HOLD, {}, 4), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(ask(IOCTL_VRL_NOTHING, {}, 0), Bytes{});

  const Bytes tick = ask(IOCTL_VRL_TICK_COUNT, {}, 4);
  ASSERT_EQ(tick.size(), 4u);
  const std::uint32_t ms = tick[0] | tick[1] << 8 | tick[2] << 16 | std::uint32_t{tick[3]} << 24;
  EXPECT_GE(ms, 1100u - 16u);
  EXPECT_LE(ms, 1100u + 16u);

  // Hook and unhook by hand; the first hook answers 1, a second one 0.
  EXPECT_EQ(ask(IOCTL_VRL_HOOK, {}, 2), (Bytes{0x01, 0x00}));
  EXPECT_EQ(ask(IOCTL_VRL_HOOK, {}, 2), (Bytes{0x00, 0x00}));
  rig.pc().keyboard().press(0x64);
  rig.pc().keyboard().release(0x7F);
  for (std::uint8_t code : {0x10, 0x10, 0x10, 0x11, 0x14, 0x12}) rig.pc().keyboard().press(code);
  rig.run(50ms);
  EXPECT_EQ(ask(IOCTL_VRL_FIFO_COUNT, {}, 2), (Bytes{0x03, 0x00}));
  EXPECT_EQ(ask(IOCTL_VRL_FIFO_PEEK, {}, 8).at(0), 0x00);
  EXPECT_EQ(ask(IOCTL_VRL_FIFO_READ, {}, 8).at(0), 0x00);
  EXPECT_EQ(ask(IOCTL_VRL_FIFO_READ, {}, 8).at(0), 0x01);
  EXPECT_EQ(ask(IOCTL_VRL_FIFO_CLEAR, {}, 0), Bytes{});
  EXPECT_EQ(ask(IOCTL_VRL_FIFO_COUNT, {}, 2), (Bytes{0x00, 0x00}));
  Bytes entry(8);
  EXPECT_EQ(tool->deviceIoControl(IOCTL_VRL_FIFO_READ, {}, entry).status, nt::STATUS_UNSUCCESSFUL);
  EXPECT_EQ(ask(IOCTL_VRL_UNHOOK, {}, 0), Bytes{});
  EXPECT_EQ(tool->deviceIoControl(0x80032004, {}, entry).status, nt::STATUS_INVALID_DEVICE_REQUEST);
}

TEST(ChannelRequests, PortRequestsNeedAPrivilegedCaller) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  const nt::ULONG portRequests[] = {IOCTL_VRL_PORT_WRITE,     IOCTL_VRL_PORT_READ_DISCARD,
                                    IOCTL_VRL_PORT_READ,      IOCTL_VRL_ENABLE_KB_INT,
                                    IOCTL_VRL_DISABLE_KB_INT, IOCTL_VRL_CMD_BYTE_READ,
                                    IOCTL_VRL_CMD_BYTE_WRITE};
  {
    auto user = rig.openTool(false);
    Bytes buffer = {0x64, 0x00};
    for (nt::ULONG code : portRequests) {
      EXPECT_EQ(user->deviceIoControl(code, buffer, buffer).status, nt::STATUS_ACCESS_DENIED);
    }
    EXPECT_EQ(rig.wiring().pic().readPort(0x21) & 0x02, 0);  // nothing touched
  }
  auto admin = rig.openTool(true);
  Bytes out(1);
  // Read the command byte with the keyboard interrupt masked, so that the
  // keyboard's interrupt routine does not take the answer.
  ASSERT_EQ(admin->deviceIoControl(IOCTL_VRL_DISABLE_KB_INT, {}, {}).status, nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.wiring().pic().readPort(0x21) & 0x02, 0x02);
  ASSERT_EQ(admin->deviceIoControl(IOCTL_VRL_CMD_BYTE_READ, {}, out).bytesReturned, 1u);
  EXPECT_EQ(out[0], 0x47);
  // The write leaves the interfaces as the written value says.
  ASSERT_EQ(admin->deviceIoControl(IOCTL_VRL_CMD_BYTE_WRITE, Bytes{0x65}, {}).status,
            nt::STATUS_SUCCESS);
  rig.run(5ms);
  EXPECT_EQ(rig.wiring().controller().commandByte(), 0x65);
  ASSERT_EQ(admin->deviceIoControl(IOCTL_VRL_ENABLE_KB_INT, {}, {}).status, nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.wiring().pic().readPort(0x21) & 0x02, 0);
  Bytes port = {0x64};
  ASSERT_EQ(admin->deviceIoControl(IOCTL_VRL_PORT_READ, port, port).bytesReturned, 1u);
  EXPECT_EQ(port[0] & 0x02, 0);  // input buffer empty
  // Port writes reach the controller only for its two ports.
  ASSERT_EQ(admin->deviceIoControl(IOCTL_VRL_PORT_WRITE, Bytes{0x21, 0xFF}, {}).status,
            nt::STATUS_SUCCESS);
  EXPECT_EQ(rig.wiring().pic().readPort(0x21) & 0x02, 0);
}

TEST(ChannelRequests, CommandByteReadGivesUpWhenTheControllerIsGone) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  auto admin = rig.openTool(true);
  rig.pc().kernel().bus().unmap(0x60);
  Bytes out(1, 0xEE);
  const Duration start = rig.scheduler().now();
  const auto result = admin->deviceIoControl(IOCTL_VRL_CMD_BYTE_READ, {}, out);
  EXPECT_EQ(result.status, nt::STATUS_IO_TIMEOUT);
  EXPECT_EQ(result.bytesReturned, 0u);
  EXPECT_GE(rig.scheduler().now() - start, 60s);
}

TEST(ChannelRequests, TheNamedDeviceIsExclusive) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  auto first = rig.openTool(false);
  ASSERT_NE(first, nullptr);
  nt::NTSTATUS status = nt::STATUS_SUCCESS;
  EXPECT_EQ(rig.pc().kernel().openDevice(L"\\\\.\\vrlPCSC", &status), nullptr);
  EXPECT_EQ(status, nt::STATUS_SHARING_VIOLATION);
}

TEST(ChannelLifecycle, UnloadTellsTheClientAndRestoresTheKeyboard) {
  sim::EchoFirmware echo;
  ChannelRig rig(echo);
  ASSERT_EQ(rig.attach(), nt::STATUS_SUCCESS);
  rig.unload();
  EXPECT_EQ(rig.unloadCallbacks(), 1);
  EXPECT_EQ(rig.pc().kernel().findDevice(L"\\DosDevices\\vrlPCSC"), nullptr);
  rig.pc().keyboard().press(0x64);
  rig.run(20ms);
  EXPECT_EQ(rig.pc().reader().codes(), (Bytes{0x64}));
}

TEST(ChannelLifecycle, StartFailsWhenAPortCannotBeTranslated) {
  for (std::uint16_t port : {0x60, 0x64, 0x21}) {
    sim::EchoFirmware echo;
    ChannelRig rig(echo, RigOptions{.refusedPort = port});
    EXPECT_EQ(rig.loadStatus(), nt::STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_EQ(rig.pc().kernel().findDevice(L"\\Device\\vrlPCSC"), nullptr);
    EXPECT_EQ(rig.pc().kernel().findDevice(L"\\DosDevices\\vrlPCSC"), nullptr);
  }
}

}  // namespace
}  // namespace k52::kbdchannel
