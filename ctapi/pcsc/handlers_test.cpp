#include "ctapi/pcsc/bridge_fixture.h"

namespace k52::ctbridge {
namespace {

using namespace std::chrono_literals;

Bytes withSw(Bytes data, std::uint8_t sw1, std::uint8_t sw2) {
  data.push_back(sw1);
  data.push_back(sw2);
  return data;
}

const Bytes kHistorical{'K', '5', '2'};

class HandlerTest : public BridgeTest {
 protected:
  void SetUp() override {
    config["DEBUG"] = "on";
    open();
  }
  // Powers the card the way an application's card command does.
  void powerCard() { send({0x00, 0xCA, 0x00, 0x00}, CTAPI_ADDR_ICC1); }
};

TEST_F(HandlerTest, ResetIccAnswersWithWhatP2AsksFor) {
  insertCardAt(0s);
  const struct {
    std::uint8_t p2;
    std::uint16_t capacity;
    Bytes response;
  } cases[] = {
      {0x00, 258, {0x90, 0x01}},
      {0x01, 258, withSw(kAtrT1, 0x90, 0x01)},
      {0x02, 258, withSw(kHistorical, 0x90, 0x01)},
      {0x01, 5, {0x3B, 0x83, 0x81, 0x90, 0x01}},  // cut to the capacity
      {0x03, 258, {0x6A, 0x00}},
  };
  for (const auto& c : cases) {
    const Reply r = send({0x20, 0x11, 0x01, c.p2}, CTAPI_ADDR_CT, c.capacity);
    EXPECT_EQ(r.result, OK) << int(c.p2);
    EXPECT_EQ(r.bytes, c.response) << int(c.p2);
  }
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

TEST_F(HandlerTest, ResetIccWithoutCardOrReader) {
  const Reply noCard = send({0x20, 0x11, 0x01, 0x01});
  EXPECT_EQ(noCard.result, OK);
  EXPECT_EQ(noCard.bytes, (Bytes{0x62, 0x00}));

  pcsc.connectFailure = pcsc::kUnknownReader;
  const Reply refused = send({0x20, 0x11, 0x01, 0x01});
  EXPECT_EQ(refused.result, ERR_HTSI);
  EXPECT_EQ(refused.bytes, (Bytes{0x62, 0x00}));
  EXPECT_TRUE(traced("CT-Cmd: Reset ICC1 not successful - no card"));

  const Reply other = send({0x20, 0x11, 0x02, 0x00});
  EXPECT_EQ(other.result, OK);
  EXPECT_EQ(other.bytes, (Bytes{0x64, 0x00}));
}

TEST_F(HandlerTest, RequestIccWaitsForACardInsertedLater) {
  insertCardAt(3s);
  const auto start = clock.now();
  const Reply r = send({0x20, 0x12, 0x01, 0x01, 0x03, 0x80, 0x01, 0x05});
  const auto waited = clock.now() - start;
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(r.bytes, withSw(kAtrT1, 0x90, 0x01));
  EXPECT_GE(waited, 3s);
  EXPECT_LE(waited, 4s);
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

TEST_F(HandlerTest, RequestIccAnswersAtOnceForAPoweredCard) {
  insertCardAt(0s);
  powerCard();
  const auto start = clock.now();
  const Reply r = send({0x20, 0x12, 0x01, 0x00, 0x01, 0x05});
  EXPECT_EQ(r.bytes, (Bytes{0x62, 0x01}));
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(clock.now(), start);
}

TEST_F(HandlerTest, RequestIccOutcomes) {
  const struct {
    const char* what;
    Bytes command;
    bool cardAtStart;
    Bytes response;
    Duration waited;
  } cases[] = {
      {"no card, no time", {0x20, 0x12, 0x01, 0x00}, false, {0x62, 0x00}, 1s},
      {"no card, 2 s", {0x20, 0x12, 0x01, 0x00, 0x01, 0x02}, false, {0x62, 0x00}, 2s},
      {"new card, historical bytes",
       {0x20, 0x12, 0x01, 0xF2},
       true,
       withSw(kHistorical, 0x90, 0x01),
       1s},
      {"timer object too long",
       {0x20, 0x12, 0x01, 0x00, 0x04, 0x80, 0x02, 0x00, 0x05},
       true,
       {0x67, 0x00},
       0s},
      {"object runs past the field",
       {0x20, 0x12, 0x01, 0x00, 0x02, 0x50, 0x05},
       true,
       {0x67, 0x00},
       0s},
      {"unknown object", {0x20, 0x12, 0x01, 0x00, 0x03, 0x81, 0x01, 0x00}, true, {0x69, 0x00}, 0s},
      {"wrong unit", {0x20, 0x12, 0x02, 0x00}, true, {0x6A, 0x00}, 0s},
  };
  for (const auto& c : cases) {
    auto& reader = pcsc.reader(kReader);
    reader.removeAt(clock.now());
    if (c.cardAtStart) insertCardAt(clock.now());
    const auto start = clock.now();
    const Reply r = send(c.command);
    EXPECT_EQ(r.result, OK) << c.what;
    EXPECT_EQ(r.bytes, c.response) << c.what;
    EXPECT_EQ(clock.now() - start, c.waited) << c.what;
    EXPECT_EQ(pcsc.liveHandles(), 0u) << c.what;
  }
}

TEST_F(HandlerTest, RequestIccOnAReaderWithoutCardChangeFlagGoesByTheCardState) {
  pcsc.reader(kReader).tracksCardChange = false;
  const struct {
    const char* what;
    std::optional<Duration> cardAt;  // from the start of the command
    bool powered;
    Bytes response;
    Duration waited;
  } cases[] = {
      {"no card", std::nullopt, false, {0x62, 0x00}, 2s},
      {"card inserted during the wait", 1500ms, false, withSw(kAtrT1, 0x90, 0x01), 2s},
      {"card in, not powered", 0s, false, withSw(kAtrT1, 0x90, 0x01), 1s},
      {"card powered", 0s, true, {0x62, 0x01}, 0s},
  };
  for (const auto& c : cases) {
    pcsc.reader(kReader).removeAt(clock.now());
    if (c.cardAt) insertCardAt(clock.now() + *c.cardAt);
    if (c.powered) powerCard();
    const auto start = clock.now();
    const Reply r = send({0x20, 0x12, 0x01, 0x01, 0x01, 0x02});
    EXPECT_EQ(r.result, OK) << c.what;
    EXPECT_EQ(r.bytes, c.response) << c.what;
    EXPECT_EQ(clock.now() - start, c.waited) << c.what;
    EXPECT_EQ(pcsc.liveHandles(), 0u) << c.what;
  }
}

TEST_F(HandlerTest, EjectIccOutcomes) {
  const struct {
    const char* what;
    Bytes command;
    bool cardStays;
    Bytes response;
  } cases[] = {
      {"one-byte time, card left in", {0x20, 0x15, 0x01, 0x00, 0x01, 0x02}, true, {0x90, 0x00}},
      {"timer object, card left in",
       {0x20, 0x15, 0x01, 0x00, 0x03, 0x80, 0x01, 0x02},
       true,
       {0x62, 0x00}},
      {"timer object, keep", {0x20, 0x15, 0x01, 0x04, 0x03, 0x80, 0x01, 0x02}, true, {0x90, 0x00}},
      {"timer object, card taken",
       {0x20, 0x15, 0x01, 0x00, 0x03, 0x80, 0x01, 0x05},
       false,
       {0x90, 0x01}},
      {"wrong unit", {0x20, 0x15, 0x00, 0x00}, true, {0x6A, 0x00}},
  };
  for (const auto& c : cases) {
    insertCardAt(clock.now());
    if (!c.cardStays) pcsc.reader(kReader).removeAt(clock.now() + 2s);
    const Reply r = send(c.command);
    EXPECT_EQ(r.result, OK) << c.what;
    EXPECT_EQ(r.bytes, c.response) << c.what;
  }
  // With no card at all there is nothing to wait for.
  pcsc.reader(kReader).removeAt(clock.now());
  const auto start = clock.now();
  EXPECT_EQ(send({0x20, 0x15, 0x01, 0x00, 0x01, 0x05}).bytes, (Bytes{0x90, 0x00}));
  EXPECT_EQ(clock.now(), start);
  EXPECT_TRUE(traced("EjectICC: card ejected"));
}

TEST_F(HandlerTest, GetStatusManufacturerObject) {
  config["ReaderName1"] = "Reader 0123";  // 11 characters
  auto& reader = pcsc.addReader("Reader 0123");
  reader.attributes[pcsc::kAttrVendorIfdType] = {'K', '5', '2', 0};
  reader.attributes[pcsc::kAttrVendorIfdSerialNo] = {'1', '2', '3', '4', '5',
                                                     '6', '7', '8', '9', 0};
  const Reply r = send({0x20, 0x13, 0x00, 0x46});
  Bytes expected{0x46, 0x1A};
  for (char c : std::string("DEQRXPC/SC56789Reader 0123")) expected.push_back(c);
  expected.insert(expected.end(), {0x90, 0x00});
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(r.bytes, expected);
  EXPECT_EQ(r.lenr, 30);

  reader.attributes[pcsc::kAttrVendorIfdSerialNo] = {'1', '2', 0};
  const Reply shortSerial = send({0x20, 0x13, 0x00, 0x46});
  EXPECT_EQ(Bytes(shortSerial.bytes.begin() + 12, shortSerial.bytes.begin() + 17), Bytes(5, ' '));
}

TEST_F(HandlerTest, GetStatusCardStateAndUnits) {
  auto& reader = pcsc.reader(kReader);
  reader.attributes[pcsc::kAttrVendorIfdType] = {'K', '5', '2', 0};
  const Bytes status80{0x20, 0x13, 0x00, 0x80};
  EXPECT_EQ(send(status80).bytes, (Bytes{0x80, 0x01, 0x00, 0x90, 0x00}));
  insertCardAt(clock.now());
  EXPECT_EQ(send(status80).bytes, (Bytes{0x80, 0x01, 0x03, 0x90, 0x00}));
  powerCard();
  EXPECT_EQ(send(status80).bytes, (Bytes{0x80, 0x01, 0x05, 0x90, 0x00}));

  EXPECT_EQ(send({0x20, 0x13, 0x00, 0x81}).bytes, (Bytes{0x81, 0x01, 0x01, 0x90, 0x00}))
      << "an unsupported auth attribute counts as neither display nor keyboard";
  reader.attributes[pcsc::kAttrUserAuthInputDevice] = {0x84, 0, 0, 0};
  EXPECT_EQ(send({0x20, 0x13, 0x00, 0x81}).bytes,
            (Bytes{0x81, 0x03, 0x01, 0x40, 0x50, 0x90, 0x00}));
  EXPECT_EQ(send({0x20, 0x13, 0x00, 0x47}).bytes, (Bytes{0x6A, 0x00}));
  const std::string keyboardType = "K52-3100 Keyboard-Reader B";
  reader.attributes[pcsc::kAttrVendorIfdType] = Bytes(keyboardType.begin(), keyboardType.end());
  EXPECT_EQ(send(status80).bytes, (Bytes{0x80, 0x01, 0x05, 0x90, 0x00}))
      << "a reader type longer than 20 characters";
  EXPECT_TRUE(traced(keyboardType));

  reader.attributeFailures[pcsc::kAttrUserAuthInputDevice] = pcsc::kCommError;
  EXPECT_EQ(send(status80).bytes, (Bytes{0x64, 0x00}));
  reader.attributes.erase(pcsc::kAttrVendorIfdType);
  reader.attributeFailures.clear();
  EXPECT_EQ(send(status80).bytes, (Bytes{0x64, 0x00})) << "no reader type";

  pcsc.connectFailure = pcsc::kUnknownReader;
  const Reply refused = send(status80);
  EXPECT_EQ(refused.result, ERR_HTSI);
  EXPECT_EQ(refused.bytes, (Bytes{0x64, 0x00}));
}

TEST_F(HandlerTest, ReaderRestartRenewsTheContext) {
  insertCardAt(0s);
  const pcsc::Context before = bridge().context();
  const auto start = clock.now();
  const Reply r = send({0x20, 0xFF, 0x01, 0x00});
  EXPECT_EQ(r.result, OK);
  EXPECT_EQ(r.lenr, 0);
  EXPECT_EQ(clock.now() - start, 4s);
  EXPECT_NE(bridge().context(), before);
  EXPECT_EQ(pcsc.liveContexts(), 1u);
  EXPECT_EQ(pcsc.liveHandles(), 0u);
}

TEST_F(HandlerTest, FailedReleaseFailsTheCommand) {
  insertCardAt(0s);
  pcsc.disconnectFailure = pcsc::kCommError;
  const Reply r = send({0x20, 0x11, 0x01, 0x00});
  EXPECT_EQ(r.result, ERR_HTSI);
  EXPECT_EQ(r.bytes, (Bytes{0x90, 0x01}));
}

}  // namespace
}  // namespace k52::ctbridge
