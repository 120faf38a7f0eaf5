// The PIN commands through a fake PC/SC: the request the reader driver gets,
// the answers, the address rule and the dummy block on T=1 cards.
#include "ctapi/pcsc/bridge_fixture.h"

namespace k52::ctbridge {
namespace {

class PinCommandTest : public BridgeTest {
 protected:
  void SetUp() override {
    config["DEBUG"] = "on";
    open();
    insertCardAt(Duration::zero());
    auto& reader = pcsc.reader(kReader);
    reader.attributes[pcsc::kAttrUserAuthInputDevice] = {0x04, 0, 0, 0};
    reader.control = [this](std::uint32_t code, std::span<const std::uint8_t> in) {
      codes.push_back(code);
      requests.emplace_back(in.begin(), in.end());
      return answer;
    };
  }

  // 20 18 01 00 Lc field.
  Reply verify(const Bytes& field, std::uint8_t ins = 0x18, std::uint8_t p2 = 0x00) {
    Bytes command = {0x20, ins, 0x01, p2, static_cast<std::uint8_t>(field.size())};
    command.insert(command.end(), field.begin(), field.end());
    return send(command);
  }
  std::size_t transmits() const {
    return static_cast<std::size_t>(std::count(pcsc.calls.begin(), pcsc.calls.end(), "transmit"));
  }

  Bytes answer = {0x90, 0x00};
  std::vector<std::uint32_t> codes;
  std::vector<Bytes> requests;
};

const Bytes kCommandFirst = {0x52, 0x08, 0xC1, 0x05, 0x00, 0x20, 0x00, 0x81, 0x08, 0x00};

TEST_F(PinCommandTest, TheCommandObjectInFrontGetsItsSecondByteTwice) {
  const struct {
    const char* what;
    Bytes field;
    Bytes request;
  } cases[] = {
      {"command first",
       kCommandFirst,
       {0x6D, 0x52, 0x09, 0xC1, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81, 0x08, 0x00}},
      {"behind a timer",
       {0x80, 0x01, 0x1E, 0x52, 0x06, 0x21, 0x05, 0x00, 0x20, 0x00, 0x81},
       {0x6D, 0x80, 0x01, 0x1E, 0x52, 0x07, 0x21, 0x05, 0x05, 0x00, 0x20, 0x00, 0x81}},
      {"behind a display text",
       {0x50, 0x03, 'P', 'I', 'N', 0x52, 0x06, 0x21, 0x05, 0x00, 0x20, 0x00, 0x81},
       {0x6D, 0x50, 0x03, 'P', 'I', 'N', 0x52, 0x06, 0x21, 0x05, 0x00, 0x20, 0x00, 0x81}},
  };
  for (const auto& c : cases) {
    requests.clear();
    const Reply r = verify(c.field);
    EXPECT_EQ(r.result, OK) << c.what;
    ASSERT_EQ(requests.size(), 1u) << c.what;
    EXPECT_EQ(requests[0], c.request) << c.what;
  }
  EXPECT_EQ(codes.front(), 0x330000u);
  verify(kCommandFirst, 0x19);
  EXPECT_EQ(requests.back().front(), 0x6E);
  EXPECT_TRUE(traced("CT-Cmd: CT_ModifyVerify"));
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

TEST_F(PinCommandTest, TheCardsAnswerIsFromTheCardAndT1CardsGetTheDummyBlock) {
  send({0x00, 0xCA, 0x00, 0x00}, CTAPI_ADDR_ICC1);  // an application powered the card: T=1
  const std::size_t before = transmits();
  const Reply card = verify(kCommandFirst);
  EXPECT_EQ(card.bytes, (Bytes{0x90, 0x00}));
  EXPECT_EQ(card.sad, CTAPI_ADDR_ICC1);
  EXPECT_EQ(transmits(), before + 1);
  EXPECT_TRUE(traced("Transmit dummy:  lResult=0"));
  EXPECT_TRUE(traced("PerformVerification:  lenr=2"));

  answer = {0x64, 0x01};  // cancelled on the keypad
  const Reply cancelled = verify(kCommandFirst);
  EXPECT_EQ(cancelled.bytes, (Bytes{0x64, 0x01}));
  EXPECT_EQ(cancelled.sad, CTAPI_ADDR_CT);
  EXPECT_EQ(transmits(), before + 1);
}

TEST_F(PinCommandTest, RefusalsAndTheirResults) {
  const struct {
    const char* what;
    Bytes field;
    std::uint8_t p2;
    std::int8_t result;
    Bytes response;
  } cases[] = {
      {"wrong P2", kCommandFirst, 0x01, OK, {0x6A, 0x00}},
      {"field of two bytes", {0x52, 0x00}, 0x00, ERR_HTSI, {0x6A, 0x00}},
      {"timer of two bytes", {0x80, 0x02, 0x00, 0x1E}, 0x00, OK, {0x67, 0x00}},
      {"unknown tag", {0x51, 0x01, 0x00}, 0x00, OK, {0x69, 0x00}},
      {"no command object", {0x80, 0x01, 0x1E}, 0x00, ERR_HTSI, {0x6A, 0x00}},
      {"command too short",
       {0x52, 0x05, 0xC1, 0x05, 0x00, 0x20, 0x00},
       0x00,
       ERR_HTSI,
       {0x6A, 0x00}},
  };
  for (const auto& c : cases) {
    const Reply r = verify(c.field, 0x18, c.p2);
    EXPECT_EQ(r.result, c.result) << c.what;
    EXPECT_EQ(r.bytes, c.response) << c.what;
    EXPECT_EQ(r.sad, CTAPI_ADDR_CT) << c.what << ": the library's own answer";
  }
  EXPECT_TRUE(requests.empty());

  pcsc.reader(kReader).attributes[pcsc::kAttrUserAuthInputDevice] = {0x84, 0, 0, 0};
  const Reply display = verify(kCommandFirst);
  EXPECT_EQ(display.bytes, (Bytes{0x69, 0x00}));
  EXPECT_EQ(display.sad, CTAPI_ADDR_CT);
  EXPECT_TRUE(traced("command not allowed - reader has no display and keyboard"));
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

TEST_F(PinCommandTest, AFailedFinalReleaseLeavesTheCommandDone) {
  pcsc.disconnectFailure = pcsc::kCommError;
  const struct {
    const char* what;
    Bytes field;
    Bytes response;
  } cases[] = {
      {"answer passed on", kCommandFirst, {0x90, 0x00}},
      {"timer of two bytes", {0x80, 0x02, 0x00, 0x1E}, {0x67, 0x00}},
      {"unknown tag", {0x51, 0x01, 0x00}, {0x69, 0x00}},
  };
  for (const auto& c : cases) {
    const Reply r = verify(c.field);
    EXPECT_EQ(r.result, OK) << c.what;
    EXPECT_EQ(r.bytes, c.response) << c.what;
  }
}

TEST_F(PinCommandTest, ACommandObjectWithNoRoomForTheRepeatedByteIsRefused) {
  Bytes object = {0x52, 0xFF, 0xC1, 0x05, 0x00, 0x20, 0x00, 0x81};
  object.resize(2 + 255, 0xFF);
  Bytes behindTimer = {0x80, 0x01, 0x1E};
  behindTimer.insert(behindTimer.end(), object.begin(), object.end());
  for (const Bytes& field : {object, behindTimer}) {
    // Extended length: 00 Lc-high Lc-low.
    Bytes command = {0x20,
                     0x18,
                     0x01,
                     0x00,
                     0x00,
                     static_cast<std::uint8_t>(field.size() >> 8),
                     static_cast<std::uint8_t>(field.size())};
    command.insert(command.end(), field.begin(), field.end());
    const Reply r = send(command);
    EXPECT_EQ(r.result, OK) << field.size();
    EXPECT_EQ(r.bytes, (Bytes{0x67, 0x00})) << field.size();
  }
  EXPECT_TRUE(requests.empty()) << "no request with a length byte wrapped to 0";
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

TEST_F(PinCommandTest, AFailedControlRequestReportsNoAnswer) {
  pcsc.reader(kReader).control = nullptr;  // the driver does not take it
  const Reply r = verify(kCommandFirst);
  EXPECT_EQ(r.result, ERR_HTSI);
  EXPECT_EQ(r.bytes, (Bytes{0x6F, 0x00}));
  EXPECT_EQ(r.sad, CTAPI_ADDR_CT) << "no answer came back to pass on";
  EXPECT_EQ(transmits(), 0u);
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

}  // namespace
}  // namespace k52::ctbridge
