#include "tools/purse/short_status.h"

#include <gtest/gtest.h>

#include "tools/purse/scripted_ctapi.h"

namespace k52::balview {
namespace {

using testing::Bytes;
using testing::Reply;
using testing::ScriptedCtApi;

const Bytes kRequestIcc{0x20, 0x12, 0x01, 0xF0};

TEST(ShortStatus, RewritesTheStatusObjectOrAsksRequestIcc) {
  const struct {
    const char* what;
    Bytes statusAnswer;
    Reply request;
    Bytes expected;
  } cases[] = {
      {"object", {0x80, 0x01, 0x05, 0x90, 0x00}, {}, {0x05, 0x90, 0x00}},
      {"object, no card", {0x80, 0x01, 0x00, 0x90, 0x00}, {}, {0x00, 0x90, 0x00}},
      {"short already", {0x03, 0x90, 0x00}, {}, {0x03, 0x90, 0x00}},
      {"other object", {0x81, 0x01, 0x01, 0x90, 0x00}, {}, {0x81, 0x01, 0x01, 0x90, 0x00}},
      {"unknown, card found", {0x64, 0x00}, {0, {0x90, 0x01}}, {0x05, 0x90, 0x00}},
      {"unknown, card active", {0x64, 0x00}, {0, {0x62, 0x01}}, {0x05, 0x90, 0x00}},
      {"unknown, no card", {0x64, 0x00}, {0, {0x62, 0x00}}, {0x00, 0x90, 0x00}},
      {"unknown, request fails", {0x64, 0x00}, {-128, {0x90, 0x01}}, {0x64, 0x00}},
      {"unknown, request refused", {0x64, 0x00}, {0, {0x64, 0x00}}, {0x64, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedCtApi api;
    api.on(kRequestIcc, c.request);
    std::uint8_t response[8] = {};
    std::copy(c.statusAnswer.begin(), c.statusAnswer.end(), response);
    auto lenr = static_cast<std::uint16_t>(c.statusAnswer.size());
    EXPECT_EQ(shortenIccStatus(ScriptedCtApi::functions().data, 1, &lenr, response),
              c.expected != c.statusAnswer);
    EXPECT_EQ(Bytes(response, response + lenr), c.expected);
    EXPECT_EQ(api.calls.size(), c.statusAnswer[0] == 0x64 ? 1u : 0u);
  }
}

TEST(ShortStatus, OnlyTheIccStatusToTheTerminalCounts) {
  const std::uint8_t status[] = {0x20, 0x13, 0x00, 0x80, 0x00};
  const std::uint8_t manufacturer[] = {0x20, 0x13, 0x00, 0x46};
  EXPECT_TRUE(asksIccStatus(1, 5, status));
  EXPECT_TRUE(asksIccStatus(1, 4, status));
  EXPECT_FALSE(asksIccStatus(0, 5, status));
  EXPECT_FALSE(asksIccStatus(1, 3, status));
  EXPECT_FALSE(asksIccStatus(1, 4, manufacturer));
}

}  // namespace
}  // namespace k52::balview
