// Byte layouts of the client protocol.
#include "chiphost/channel/protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "chiphost/channel/wmc.h"

namespace k52::chiphost {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

TEST(ChannelProtocol, RequestBlockHasTheExactLayout) {
  const Bytes block = encodeRequest({kKindSharedRequest, 0, 0x11223344, 0x55667788}, -1,
                                    bytes("System,Info"), Bytes{0xAA, 0xBB});
  const Bytes expected = {
      0x01, 0x00, 0x00, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,  // header
      0x02, 0x00, 0xD0, 0x07,                                                        // 2000
      0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,                                            // -1
      0x0B, 0x00, 'S',  'y',  's',  't',  'e',  'm',  ',',  'I',  'n',  'f',  'o',   // command
      0x02, 0x00, 0xAA, 0xBB};                                                       // data
  EXPECT_EQ(block, expected);
  const Request r = readRequest(block);
  EXPECT_EQ(r.functionCode, kFunctionCode);
  EXPECT_EQ(r.handle, -1);
  EXPECT_EQ(Bytes(r.command.begin(), r.command.end()), bytes("System,Info"));
  EXPECT_EQ(Bytes(r.data.begin(), r.data.end()), (Bytes{0xAA, 0xBB}));
}

TEST(ChannelProtocol, ReplyBlockCarriesItsLengthAndFourFields) {
  const Bytes block = encodeReply({kKindSharedReply, 0, 7, 9}, {0x1203, 5, bytes("ab")});
  const Bytes expected = {0x03, 0x23, 0x00, 0x00, 0x00, 0x07, 0x00,
                          0x00, 0x00, 0x09, 0x00, 0x00, 0x00,  // header
                          0x04, 0x00, 0x03, 0x12, 0x00, 0x00,  // result
                          0x04, 0x00, 0x05, 0x00, 0x00, 0x00,  // handle
                          0x04, 0x00, 0x02, 0x00, 0x00, 0x00,  // length
                          0x02, 0x00, 'a',  'b'};              // data
  EXPECT_EQ(block, expected);
  EXPECT_EQ(readReply(block), (Reply{0x1203, 5, bytes("ab")}));
  EXPECT_EQ(readReply(Bytes(13, 0)), std::nullopt);  // the bare header of a refused request
}

TEST(ChannelProtocol, ShortAndCutBlocksReadSafely) {
  struct Case {
    const char* what;
    Bytes block;
    std::optional<std::uint16_t> functionCode;
    std::int32_t handle;
    std::size_t commandSize;
  };
  const Bytes head(13, 0);
  auto with = [&](Bytes tail) {
    Bytes b = head;
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  const Case cases[] = {
      {"empty", {}, std::nullopt, 0, 0},
      {"shorter than the header", Bytes(12, 1), std::nullopt, 0, 0},
      {"header only", head, std::nullopt, 0, 0},
      {"function field of one byte", with({1, 0, 0xD0}), std::nullopt, 0, 0},
      {"field running past the end", with({2, 0, 0xD0, 0x07, 9, 0, 1}), 2000, 0, 0},
      {"short handle field reads 0", with({2, 0, 0xD0, 0x07, 1, 0, 5, 1, 0, 'X'}), 2000, 0, 1},
      {"command cut by the end", with({2, 0, 0xD0, 0x07, 4, 0, 1, 0, 0, 0, 5, 0, 'A'}), 2000, 1, 0},
  };
  for (const auto& c : cases) {
    const Request r = readRequest(c.block);
    EXPECT_EQ(r.functionCode, c.functionCode) << c.what;
    EXPECT_EQ(r.handle, c.handle) << c.what;
    EXPECT_EQ(r.command.size(), c.commandSize) << c.what;
  }
  EXPECT_EQ(readHeader(Bytes(12, 1)), BlockHeader{});
}

TEST(ChannelProtocol, NoticeAndNames) {
  const auto notice = encodeNotice(0x12345, 0xABCDEF01, 2);
  EXPECT_EQ(Bytes(notice.begin(), notice.end()),
            (Bytes{0x01, 0x45, 0x23, 0x01, 0x00, 0x01, 0xEF, 0xCD, 0xAB, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(readHeader(notice), (BlockHeader{1, 0x12345, 0xABCDEF01, 2}));

  struct Name {
    std::string got, expected;
  };
  const Name names[] = {
      {sharedMemoryName(0xABCDEF01, 2), "CHIPHOSTMABCDEF0100000002"},
      {replyEventName(1, 0xFFFFFFFF), "SCARDEV00000001FFFFFFFF"},
      {serverMailslotName("CHIPHOST"), "\\\\.\\mailslot\\palvik\\CHIPHOST\\Master"},
      {clientMailslotName("CHIPHOST", 65537), "\\\\.\\mailslot\\palvik\\CHIPHOST\\65537"},
      {serverCommandLine("CHIPHOST", true, 42), "CHIPHO32.EXE 10 42"},
      {serverCommandLine("CHIPHOST", false, 42), "CHIPHOST.EXE 10 42"},
  };
  for (const auto& n : names) EXPECT_EQ(n.got, n.expected);
}

}  // namespace
}  // namespace k52::chiphost
