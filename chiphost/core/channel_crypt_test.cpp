#include "chiphost/core/channel_crypt.h"

#include <gtest/gtest.h>

#include "chiphost/core/excpt.h"
#include "chiphost/core/fake_environment.h"
#include "chiphost/core/interpreter.h"

namespace k52::chiphost {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// FIPS 81, appendix B, ECB mode: "Now is the time for all " under
// 0123456789ABCDEF.
TEST(ChannelCrypt, DesKnownAnswer) {
  const DesKey key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  Bytes text = bytesOf("Now is the time for all ");
  desEncrypt(text, key);
  EXPECT_EQ(text, (Bytes{0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15, 0x6A, 0x27, 0x17, 0x87,
                         0xAB, 0x88, 0x83, 0xF9, 0x89, 0x3D, 0x51, 0xEC, 0x4B, 0x56, 0x3B, 0x53}));
  desDecrypt(text, key);
  EXPECT_EQ(text, bytesOf("Now is the time for all "));
}

TEST(ChannelCrypt, WrappedKeysUnwrapToThePlainKey) {
  for (CryptMode mode : {CryptMode::Des, CryptMode::Cdes}) {
    Bytes plain(keyLength(mode));
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(0x31 * i);
    const Bytes wrapped = wrapKey(mode, plain);
    EXPECT_NE(wrapped, plain);
    EXPECT_EQ(unwrapKey(mode, wrapped), plain);
  }
  EXPECT_THROW(wrapKey(CryptMode::Des, Bytes(16)), Excpt);
  EXPECT_THROW(unwrapKey(CryptMode::Cdes, Bytes(8)), Excpt);
}

TEST(ChannelCrypt, ReplyIsLengthThenPaddedBlocks) {
  Session s;
  s.cryptMode = CryptMode::Des;
  s.desKey = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes reply = encryptReply(s, bytesOf("0209"));
  ASSERT_EQ(reply.size(), 2u + 8u);
  EXPECT_EQ(reply[0], 4);
  EXPECT_EQ(reply[1], 0);
  Bytes body(reply.begin() + 2, reply.end());
  desDecrypt(body, s.desKey);
  EXPECT_EQ(body, (Bytes{'0', '2', '0', '9', 0x80, 0, 0, 0}));
  EXPECT_EQ(encryptReply(s, Bytes(8, 'x')).size(), 2u + 8u);  // whole blocks get no padding
  EXPECT_TRUE(encryptReply(s, {}).empty());
}

TEST(ChannelCrypt, MalformedCiphertextIsAChannelError) {
  Session s;
  s.cryptMode = CryptMode::Cdes;
  EXPECT_THROW(decryptCommand(s, Bytes(7)), ChannelError);
  EXPECT_THROW(decryptData(s, Bytes(9)), ChannelError);
  Bytes tooLong = {0xFF, 0x00, 0, 0, 0, 0, 0, 0};  // claims 255 bytes in a block of 8
  Cdes8(tooLong, s.cdesKey);
  EXPECT_THROW(decryptData(s, tooLong), ChannelError);
  EXPECT_TRUE(decryptData(s, {}).empty());
}

// A client switches its session to encryption and talks to the server.
class EncryptedSession : public ::testing::TestWithParam<CryptMode> {
 protected:
  Bytes command(std::string_view text) { return bytesOf(text); }

  FakeEnvironment env;
  Interpreter interpreter{env};
  Session session;
};

TEST_P(EncryptedSession, RequestsAndRepliesRoundTrip) {
  const CryptMode mode = GetParam();
  const std::string word = mode == CryptMode::Des ? "DES" : "CDES";
  Bytes plainKey(keyLength(mode));
  for (std::size_t i = 0; i < plainKey.size(); ++i)
    plainKey[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));

  const CommandResult gen =
      interpreter.serve(session, command("System,GenCryptKey," + word), plainKey);
  ASSERT_EQ(gen.result, 0);
  const CommandResult install =
      interpreter.serve(session, command("System,CryptKey," + word), gen.reply);
  ASSERT_EQ(install.result, 0);
  ASSERT_EQ(session.cryptMode, mode);

  Session client;  // the client's view of the same keys
  installKey(client, mode, plainKey);

  const CommandResult version = interpreter.serve(
      session, encryptCommand(client, "System,Info,VersionText"), encryptData(client, {}));
  EXPECT_EQ(version.result, 0);
  EXPECT_EQ(decryptReply(client, version.reply), bytesOf("Chipwarden V2.09"));

  // The data block reaches the command in plain: a wrapped key of the wrong
  // length is refused, and the failure's reply is empty.
  const CommandResult refused = interpreter.serve(
      session, encryptCommand(client, "System,GenCryptKey," + word), encryptData(client, Bytes(3)));
  EXPECT_EQ(refused.result, 0x1203);
  EXPECT_TRUE(refused.reply.empty());

  // Plain text from the client is garbage now; ciphertext cut short fails
  // the request as a whole.
  const CommandResult garbled = interpreter.serve(session, command("System,Info"), {});
  EXPECT_EQ(garbled.result, kRequestFailure);
  EXPECT_EQ(session.cryptMode, mode);
}

INSTANTIATE_TEST_SUITE_P(Modes, EncryptedSession,
                         ::testing::Values(CryptMode::Des, CryptMode::Cdes));

TEST(ChannelCryptSwitch, WrongKeyLengthLeavesTheSessionPlain) {
  FakeEnvironment env;
  Interpreter interpreter(env);
  Session session;
  const Bytes sixteen(16, 0x42);
  const std::string_view cmd = "System,CryptKey,DES";
  const CommandResult r = interpreter.execute(session, cmd, sixteen);
  EXPECT_EQ(r.result, 0x1203);
  EXPECT_EQ(session.cryptMode, CryptMode::None);
}

}  // namespace
}  // namespace k52::chiphost
