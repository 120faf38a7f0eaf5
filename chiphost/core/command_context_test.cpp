#include "chiphost/core/command_context.h"

#include <gtest/gtest.h>

namespace k52::chiphost {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(CommandContext, KeywordsAndArguments) {
  CommandContext ctx(" card;;info\r\n'abc\",\"x''=:-12,,=q\"'z ", {});
  EXPECT_FALSE(ctx.keyword("Car"));  // needs a separator behind it
  EXPECT_TRUE(ctx.keyword("Card"));
  EXPECT_TRUE(ctx.keyword("Info"));
  EXPECT_EQ(ctx.argument(), "ABC");  // one quote off each end
  EXPECT_EQ(ctx.argument(), "X'");   // only one of the two
  EXPECT_EQ(ctx.decimalArgument(), -12);
  EXPECT_EQ(ctx.argument(), "Q\"'Z");  // quotes inside stay
  EXPECT_EQ(ctx.argument(), std::nullopt);
  EXPECT_TRUE(ctx.done());
}

TEST(CommandContext, ReplyNeverOutgrowsTheDataBlock) {
  CommandContext ctx("", {});
  ctx.append(std::string(kDataBlockSize - 1, 'a'));
  ctx.append("bc");
  EXPECT_EQ(ctx.reply().size(), kDataBlockSize);
  EXPECT_EQ(ctx.reply().back(), 'b');
}

Bytes reply(std::string_view rest) {
  CommandContext ctx(rest, {});
  PropertyReply props(ctx);
  const Bytes pts = {0xFF, 0x10, 0x11};
  props.text("PtsAuto", "011");
  props.text("PinCnt", "");
  props.text("PtsBinaryLen", "3");
  props.bytes("PtsBinary", pts);
  props.finish();
  return ctx.reply();
}

TEST(PropertyReply, ListingOrSingleValue) {
  auto text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
  // Empty values are left out of the listing; byte strings are hex text.
  EXPECT_EQ(text(reply("")), "PtsAuto=011\r\nPtsBinaryLen=3\r\nPtsBinary=FF 10 11 \r\n");
  EXPECT_EQ(text(reply("PTSAUTO")), "011");
  // A byte string alone is raw bytes.
  EXPECT_EQ(reply("PTSBINARY"), (Bytes{0xFF, 0x10, 0x11}));
  // "PtsBinaryLen" also begins with "PtsBinary", which comes later and wins.
  EXPECT_EQ(reply("PTSBINARYLEN"), (Bytes{0xFF, 0x10, 0x11}));
  EXPECT_EQ(text(reply("PINCNT")), "");
}

}  // namespace
}  // namespace k52::chiphost
