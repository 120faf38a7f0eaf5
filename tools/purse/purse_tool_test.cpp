#include "tools/purse/purse_tool.h"

#include <gtest/gtest.h>

#include "tools/purse/scripted_ctapi.h"
#include "tools/purse/version_info.h"

namespace k52::balview {
namespace {

using testing::Bytes;
using testing::Reply;
using testing::ScriptedCtApi;

const Reply kActive{0, {0x05, 0x90, 0x00}};
const Reply kPresent{0, {0x03, 0x90, 0x00}};
const Reply kNoCard{0, {0x00, 0x90, 0x00}};
const Reply kResetOk{0, {0x90, 0x01}};
const Reply kOk{0, {0x90, 0x00}};

Reply record(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
  return {0, {b0, b1, b2, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x90, 0x00}};
}

class PurseToolTest : public ::testing::Test {
 protected:
  // An active card whose purse answers `balanceRecord`.
  void scriptPurse(const Reply& balanceRecord) {
    api_.on(testing::kCardStatus, kActive);
    api_.on(testing::kCardReset, kResetOk);
    api_.on(testing::kSelectPurse, kOk);
    api_.on(testing::kReadBalanceRecord, balanceRecord);
  }

  // Presses Test and keeps what each repaint showed.
  std::vector<std::string> pressTest(PurseTool& tool) {
    std::vector<std::string> shown;
    tool.test([&] { shown.push_back(tool.displayText()); });
    return shown;
  }

  ScriptedCtApi api_;
};

TEST_F(PurseToolTest, ReadsTheBalanceWithTheCommandsInOrder) {
  scriptPurse(record(0x00, 0x12, 0x34));
  CtApiBinding ct(ScriptedCtApi::functions());
  PurseTool tool(ct);
  EXPECT_EQ(tool.displayText(), "");

  EXPECT_EQ(pressTest(tool), (std::vector<std::string>{"Bitte warten...", " 12.34 DM"}));
  EXPECT_EQ(tool.balance(), 1234);

  const std::vector<std::pair<std::uint8_t, Bytes>> expected{
      {1, testing::kCardStatus},  {1, testing::kCardReset},         {1, testing::kCardStatus},
      {0, testing::kSelectPurse}, {0, testing::kReadBalanceRecord},
  };
  ASSERT_EQ(api_.calls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(api_.calls[i].ctn, 1);
    EXPECT_EQ(api_.calls[i].dad, expected[i].first);
    EXPECT_EQ(api_.calls[i].sad, 1);
    EXPECT_EQ(api_.calls[i].lenr, 256);
    EXPECT_EQ(api_.calls[i].command, expected[i].second);
  }
}

TEST_F(PurseToolTest, BalanceRecordDigits) {
  const struct {
    Reply record;
    std::int32_t balance;
    const char* shown;
  } cases[] = {
      {record(0x00, 0x12, 0x34), 1234, " 12.34 DM"},
      {record(0x01, 0x00, 0x00), 10000, "100.00 DM"},
      {record(0x00, 0x00, 0x05), 5, "  0.05 DM"},
      {record(0x99, 0x99, 0x99), 999999, "9999.99 DM"},
      {record(0x00, 0x1A, 0x00), kNoBalance,
       "Der Betrag auf der Karte ist ungültig. "
       "Möglicherweise ist die Karte defekt."},
      {record(0xF0, 0x00, 0x00), kNoBalance,
       "Der Betrag auf der Karte ist ungültig. "
       "Möglicherweise ist die Karte defekt."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    ScriptedCtApi api;
    api.on(testing::kCardStatus, kActive);
    api.on(testing::kCardReset, kResetOk);
    api.on(testing::kSelectPurse, kOk);
    api.on(testing::kReadBalanceRecord, c.record);
    CtApiBinding ct(ScriptedCtApi::functions());
    PurseTool tool(ct);
    tool.test([] {});
    EXPECT_EQ(tool.balance(), c.balance);
    EXPECT_EQ(tool.displayText(), c.shown);
  }
}

// Every way through the Test button that ends with a message.
TEST_F(PurseToolTest, MessagePaths) {
  const Reply kFailed{-8, {}};
  const Reply kStandardActive{0, {0x80, 0x01, 0x05, 0x90, 0x00}};
  const struct {
    const char* what;
    std::vector<Reply> status;
    Reply reset, select, read;
    int message;
  } cases[] = {
      {"no card", {kNoCard}, kResetOk, kOk, record(0, 0, 1), kIdsNoCard},
      {"status call fails, reset fails",
       {kFailed},
       {-10, {}},
       kOk,
       record(0, 0, 1),
       kIdsInterfaceFailed},
      {"reset refused", {kPresent}, {0, {0x64, 0x00}}, kOk, record(0, 0, 1), kIdsInterfaceFailed},
      {"reset answers 90 00", {kActive}, kOk, kOk, record(0, 0, 1), kIdsInterfaceFailed},
      {"card gone after the reset",
       {kPresent, kNoCard},
       kResetOk,
       kOk,
       record(0, 0, 1),
       kIdsNoCard},
      {"not activated by the reset",
       {kPresent, kPresent},
       kResetOk,
       kOk,
       record(0, 0, 1),
       kIdsNotActivated},
      {"unknown status byte after the reset",
       {kActive, {0, {0x01, 0x90, 0x00}}},
       kResetOk,
       kOk,
       record(0, 0, 1),
       kIdsUnknownStatus},
      {"status object with tag and length",
       {kStandardActive},
       kResetOk,
       kOk,
       record(0, 0, 1),
       kIdsUnknownStatus},
      {"status object with tag and length, reset refused",
       {kStandardActive},
       {0, {0x64, 0x00}},
       kOk,
       record(0, 0, 1),
       kIdsInterfaceFailed},
      {"status 05 90 01",
       {{0, {0x05, 0x90, 0x01}}},
       kResetOk,
       kOk,
       record(0, 0, 1),
       kIdsUnknownStatus},
      {"status too short", {{0, {0x05, 0x90}}}, kResetOk, kOk, record(0, 0, 1), kIdsUnknownStatus},
      {"no purse application",
       {kActive},
       kResetOk,
       {0, {0x6A, 0x82}},
       record(0, 0, 1),
       kIdsNotPurse},
      {"select fails", {kActive}, kResetOk, {-10, {0x90, 0x00}}, record(0, 0, 1), kIdsNotPurse},
      {"record not found", {kActive}, kResetOk, kOk, {0, {0x6A, 0x83}}, kIdsNotPurse},
      {"record read fails", {kActive}, kResetOk, kOk, {-10, {}}, kIdsNotPurse},
      {"record not OK despite 90 00",
       {kActive},
       kResetOk,
       kOk,
       {-11, {0x00, 0x12, 0x34, 0x90, 0x00}},
       kIdsNotPurse},
      {"record too short for the amount",
       {kActive},
       kResetOk,
       kOk,
       {0, {0x12, 0x90, 0x00}},
       kIdsNotPurse},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedCtApi api;
    for (const Reply& status : c.status) api.on(testing::kCardStatus, status);
    api.on(testing::kCardReset, c.reset);
    api.on(testing::kSelectPurse, c.select);
    api.on(testing::kReadBalanceRecord, c.read);
    CtApiBinding ct(ScriptedCtApi::functions());
    PurseTool tool(ct);
    const auto shown = pressTest(tool);
    EXPECT_EQ(tool.currentMessage(), c.message);
    EXPECT_EQ(tool.balance(), kNoBalance);
    EXPECT_EQ(shown,
              (std::vector<std::string>{"Bitte warten...", std::string(loadString(c.message))}));
  }
}

TEST_F(PurseToolTest, ASecondTestDoesNotShowTheOldBalanceWhileReading) {
  scriptPurse(record(0x00, 0x12, 0x34));
  CtApiBinding ct(ScriptedCtApi::functions());
  PurseTool tool(ct);
  tool.test([] {});
  ASSERT_EQ(tool.balance(), 1234);

  api_.clear();
  api_.on(testing::kCardStatus, kNoCard);
  EXPECT_EQ(pressTest(tool), (std::vector<std::string>{
                                 "Bitte warten...", "Es ist keine gültige Geldkarte eingelegt!"}));
}

TEST_F(PurseToolTest, WithoutALibraryEveryCallCountsAsZeroWithoutAnswer) {
  CtApiBinding ct(CtApiFunctions{});
  EXPECT_FALSE(ct.complete());
  const Answer answer = ct.send(1, testing::kCardStatus);
  EXPECT_EQ(answer.result, 0);
  EXPECT_TRUE(answer.bytes.empty());

  PurseTool tool(ct);
  tool.test([] {});
  EXPECT_EQ(tool.currentMessage(), kIdsInterfaceFailed);
  EXPECT_TRUE(versionIncomplete(ct));
}

TEST_F(PurseToolTest, BindingOpensAndClosesTerminalOneAndBelievesLenrOnlyUpToItsBuffer) {
  api_.on(testing::kVersionQuery, {0, {0x12, 0x34, 0x56}});
  {
    CtApiBinding ct(ScriptedCtApi::functions());
    EXPECT_EQ(api_.inits, (std::vector<std::uint16_t>{0x0101}));
    EXPECT_TRUE(api_.closes.empty());
    api_.claimedLength = 4000;
    EXPECT_EQ(ct.send(1, testing::kVersionQuery).bytes.size(), 256u);
  }
  EXPECT_EQ(api_.closes, (std::vector<std::uint16_t>{1}));
}

TEST_F(PurseToolTest, VersionTexts) {
  const std::string noDriver(loadString(kIdsNoDriver));
  const std::string noReader(loadString(kIdsNoReader));
  const struct {
    Reply reply;
    bool incomplete;
    VersionTexts texts;
  } cases[] = {
      {{0, {0x12, 0x00, 0x10}}, true, {true, "Version 1.2", noDriver, "Version 1.0"}},
      {{0, {0x12, 0x34, 0xF0}}, false, {true, "Version 1.2", "Version 3.4", "Version 15.0"}},
      {{0, {0x00, 0x21, 0x00}}, true, {true, "Version 0.0", "Version 2.1", noReader}},
      {{0, {0x6A, 0x00}}, true, {}},
      {{0, {0x12, 0x34, 0x56, 0x90}}, true, {}},
      {{-128, {0x12, 0x34, 0x56}}, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.texts.interface + " " + c.texts.driver);
    ScriptedCtApi api;
    api.on(testing::kVersionQuery, c.reply);
    CtApiBinding ct(ScriptedCtApi::functions());
    EXPECT_EQ(versionIncomplete(ct), c.incomplete);
    const VersionTexts texts = queryVersionTexts(ct);
    EXPECT_EQ(texts.answered, c.texts.answered);
    EXPECT_EQ(texts.interface, c.texts.interface);
    EXPECT_EQ(texts.driver, c.texts.driver);
    EXPECT_EQ(texts.firmware, c.texts.firmware);
    EXPECT_EQ(api.calls.back().dad, 1);
  }
}

}  // namespace
}  // namespace k52::balview
