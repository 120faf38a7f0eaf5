#include "platform/win32/internal/reg_file.h"

#include <gtest/gtest.h>

namespace k52::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;

const RegValue* valueAt(const Hive& hive, std::string_view key, std::string_view name) {
  const RegKey* found = hive.find(key);
  if (found == nullptr) return nullptr;
  const auto it = found->values.find(foldName(name));
  return it == found->values.end() ? nullptr : &it->second.value;
}

Hive applyAll(std::string_view text, RootKey root) {
  Hive hive(root);
  for (const RegEdit& edit : parseRegText(text, "t.reg")) {
    if (edit.root == root) applyEdit(hive, edit);
  }
  return hive;
}

TEST(Win32RegFile, WritesTheDocumentedLayout) {
  Hive hive(RootKey::CurrentUser);
  hive.setValue("CTAPIDLL.INI\\OPT", "ReaderName1", std::string("Virtual PCD 00 00"));
  hive.setValue("CTAPIDLL.INI\\OPT", "Port", std::uint32_t{1});
  hive.setValue("CTAPIDLL.INI\\OPT", "Blob", Bytes{1, 2});
  hive.setValue("CTAPIDLL.INI\\OPT", "", std::string("C:\\dir \"q\""));
  hive.createKey("Empty");
  EXPECT_EQ(formatRegText(hive, ""),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CURRENT_USER\\CTAPIDLL.INI]\n"
            "\n"
            "[HKEY_CURRENT_USER\\CTAPIDLL.INI\\OPT]\n"
            "@=\"C:\\\\dir \\\"q\\\"\"\n"
            "\"Blob\"=hex:01,02\n"
            "\"Port\"=dword:00000001\n"
            "\"ReaderName1\"=\"Virtual PCD 00 00\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Empty]\n"
            "\n");
}

TEST(Win32RegFile, WrittenTextReadsBackToTheSameHive) {
  Hive hive(RootKey::LocalMachine);
  Bytes large(300);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7);
  const std::string awkward = "two\r\nlines\\ and \"quotes\" \x01\xff ; [x]";
  hive.setValue("Software\\A]B\\C", "big", large);
  hive.setValue("Software\\A]B\\C", "empty", Bytes{});
  hive.setValue("Software\\A]B\\C", "na\"me\\", awkward);
  hive.setValue("Software\\A]B\\C", "lf", std::string("\n"));
  hive.setValue("Software", "@", std::uint32_t{0xdeadbeef});

  const std::string text = formatRegText(hive, "");
  const Hive reread = parseHive(text, RootKey::LocalMachine, "t.reg");
  EXPECT_EQ(formatRegText(reread, ""), text);
  ASSERT_NE(valueAt(reread, "software\\a]b\\c", "BIG"), nullptr);
  EXPECT_EQ(*valueAt(reread, "software\\a]b\\c", "BIG"), RegValue(large));
  EXPECT_EQ(*valueAt(reread, "Software\\A]B\\C", "na\"me\\"), RegValue(awkward));
  EXPECT_EQ(*valueAt(reread, "Software\\A]B\\C", "lf"), RegValue(std::string("\n")));
  EXPECT_EQ(*valueAt(reread, "Software", "@"), RegValue(std::uint32_t{0xdeadbeef}));
  EXPECT_EQ(valueAt(reread, "Software", ""), nullptr);
}

TEST(Win32RegFile, ReadsHandWrittenFiles) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKCU\\Gone]\r\n"
      "\"x\"=\"1\"\r\n"
      "[-hkey_current_user\\gone]\r\n"
      "  [HKEY_CURRENT_USER\\K]  \r\n"
      "\"s\" = \"v\"\r\n"
      "\"d\"=DWORD:1F\r\n"
      "\"h\"=hex:01, 02,\\\r\n"
      "   ff\r\n"
      "\"old\"=\"x\"\r\n"
      "\"old\"=-\r\n"
      "\"t\"=hex(1):61,62,00\r\n"
      "@=hex(3):\r\n";
  const Hive hive = applyAll(text, RootKey::CurrentUser);
  EXPECT_EQ(hive.find("Gone"), nullptr);
  EXPECT_EQ(*valueAt(hive, "K", "s"), RegValue(std::string("v")));
  EXPECT_EQ(*valueAt(hive, "K", "d"), RegValue(std::uint32_t{0x1f}));
  EXPECT_EQ(*valueAt(hive, "K", "h"), RegValue(Bytes{1, 2, 0xff}));
  EXPECT_EQ(valueAt(hive, "K", "old"), nullptr);
  EXPECT_EQ(*valueAt(hive, "K", "t"), RegValue(std::string("ab")));
  EXPECT_EQ(*valueAt(hive, "K", ""), RegValue(Bytes{}));
}

TEST(Win32RegFile, FaultsNameTheSourceAndLine) {
  struct Case {
    std::string text;
    std::string expected;  // a part of the message
  };
  const std::string ok = "REGEDIT4\n\n[HKCU\\K]\n";
  const Case cases[] = {
      {"", "t.reg: line 1: not a registry file"},
      {"REGEDIT5\n", "line 1: not a registry file"},
      {"\xFF\xFER\0E\0", "line 1: UTF-16"},
      {"REGEDIT4\n\"v\"=\"x\"\n", "line 2: a value must follow a [KEY]"},
      {ok + "[HKCR\\X]\n", "line 4: [HKCR\\X] does not name a key"},
      {ok + "[HKCU\\X\n", "line 4: a key line must end with ]"},
      {ok + "[HKCU\\a\\\\b]\n", "line 4: invalid key name"},
      {ok + "[HKCU\\]\n", "line 4: [HKCU\\] does not name a key"},
      {ok + "[-HKCU]\n", "line 4: a root key cannot be deleted"},
      {ok + "[-HKCU\\K]\n\"v\"=\"x\"\n", "line 5: a value must follow"},
      {ok + "\"v\"=\"unterminated\n", "line 4: unterminated string"},
      {ok + "\"v\"=\"a\\nb\"\n", "line 4: unknown escape"},
      {ok + "\"v\"=\"a\"b\n", "line 4: unexpected text"},
      {ok + std::string("\"v\"=\"a\0b\"\n", 11), "line 4: strings cannot hold NUL"},
      {ok + std::string("\"a\0b\"=\"x\"\n", 11), "line 4: value names cannot hold NUL"},
      {ok + "\"v\" \"x\"\n", "line 4: expected ="},
      {ok + "\"v\"=dword:123456789\n", "line 4: dword:"},
      {ok + "\"v\"=dword:\n", "line 4: dword:"},
      {ok + "\"v\"=hex:1,2x\n", "line 4: malformed hex"},
      {ok + "\"v\"=hex:01,\n", "line 4: malformed hex"},
      {ok + "\"v\"=hex:01,\\\n02,\\\nzz\n", "line 6: malformed hex"},
      {ok + "\"v\"=hex:01,\\\n", "line 4: hex data continues past the end"},
      {ok + "\"v\"=hex(2):41,00\n", "line 4: unsupported value type"},
      {ok + "\"v\"=hex(1):41,00,42,00\n", "line 4: strings cannot hold NUL"},
      {ok + "\"v\"=hex(1:41\n", "line 4: hex( needs a closing )"},
      {ok + "\"v\"=str:x\n", "line 4: unknown value type"},
      {ok + "junk\n", "line 4: expected a [KEY] line"},
      {ok + "[HK" + std::string(300, 'x') + "]\n", "does not name a key"},
      {ok + "[HKCU\\" + std::string(256, 'x') + "]\n", "line 4: invalid key name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      parseRegText(c.text, "t.reg");
      ADD_FAILURE() << "accepted";
    } catch (const RegistryError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

TEST(Win32RegFile, HiveFileRefusesKeysOfTheOtherRoot) {
  EXPECT_THROW(
      {
        try {
          parseHive("REGEDIT4\n\n[HKLM\\X]\n", RootKey::CurrentUser, "/p/user.reg");
        } catch (const RegistryError& e) {
          EXPECT_STREQ(e.what(),
                       "/p/user.reg: line 3: a key below HKEY_LOCAL_MACHINE does not belong in "
                       "this hive");
          throw;
        }
      },
      RegistryError);
}

}  // namespace
}  // namespace k52::win32
