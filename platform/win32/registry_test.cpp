#include "platform/win32/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/win32/test_temp_dir.h"

namespace k52::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr auto HKCU = RootKey::CurrentUser;
constexpr auto HKLM = RootKey::LocalMachine;

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::filesystem::path& file, std::string_view text) {
  std::ofstream(file, std::ios::binary) << text;
}

class Win32Registry : public ::testing::Test {
 protected:
  TempDir dir_;
  Prefix prefix_{dir_.path() / "prefix"};
  Registry registry_{prefix_};
};

TEST_F(Win32Registry, ValuesOfEveryTypeSurviveExportAndImport) {
  const std::pair<std::string, RegValue> values[] = {
      {"ReaderName1", std::string("Virtual PCD 00 00")},
      {"Path", std::string("C:\\dir\\\"quoted\"\\")},
      {"Lines", std::string("a\r\nb\n\x7f\xc3\xa4")},
      {"", std::string("default")},
      {"Port", std::uint32_t{0xffffffff}},
      {"Blob", Bytes{0x00, 0x5c, 0x22, 0xff}},
      {"Nothing", Bytes{}},
  };
  for (const auto& [name, value] : values) registry_.set(HKCU, "CTAPIDLL.INI\\OPT", name, value);
  registry_.set(HKLM, "Software\\Vendor\\Settings", "Level", std::uint32_t{3});

  Registry copy(Prefix(dir_.path() / "copy"));
  const std::string user = registry_.exportText(HKCU, "");
  const std::string system = registry_.exportText(HKLM, "Software");
  copy.import(user);
  copy.import(system);

  for (const auto& [name, value] : values) {
    SCOPED_TRACE(name);
    EXPECT_EQ(registry_.get(HKCU, "CTAPIDLL.INI\\OPT", name), value);
    EXPECT_EQ(copy.get(HKCU, "CTAPIDLL.INI\\OPT", name), value);
  }
  EXPECT_EQ(copy.get(HKLM, "Software\\Vendor\\Settings", "Level"), RegValue(std::uint32_t{3}));
  EXPECT_EQ(copy.exportText(HKCU, ""), user);
  EXPECT_EQ(copy.exportText(HKLM, "software"), system);
  EXPECT_EQ(copy.getString(HKCU, "CTAPIDLL.INI\\OPT", "Port"), "");
  EXPECT_EQ(copy.getString(HKCU, "CTAPIDLL.INI\\OPT", "ReaderName1"), "Virtual PCD 00 00");
}

TEST_F(Win32Registry, NamesMatchInAnyCaseAndKeepTheirFirstSpelling) {
  registry_.set(HKCU, "CtApiDll.ini\\Opt", "ReaderName1", std::string("one"));
  registry_.set(HKCU, "CTAPIDLL.INI\\OPT", "READERNAME1", std::string("two"));
  EXPECT_EQ(registry_.getString(HKCU, "ctapidll.INI\\opt", "readername1"), "two");
  EXPECT_TRUE(registry_.hasKey(HKCU, "CTAPIDLL.ini"));
  EXPECT_EQ(registry_.exportText(HKCU, "ctapidll.ini\\opt"),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\CtApiDll.ini\\Opt]\n\"ReaderName1\"=\"two\"\n\n");
  EXPECT_FALSE(registry_.get(HKLM, "CTAPIDLL.INI\\OPT", "ReaderName1"));
}

TEST_F(Win32Registry, RemovesValuesAndWholeKeys) {
  registry_.set(HKCU, "A\\B\\C", "v", std::string("x"));
  registry_.set(HKCU, "A", "keep", std::string("y"));
  EXPECT_TRUE(registry_.remove(HKCU, "a\\b\\c", "V"));
  EXPECT_FALSE(registry_.remove(HKCU, "a\\b\\c", "V"));
  EXPECT_TRUE(registry_.hasKey(HKCU, "A\\B\\C"));
  EXPECT_TRUE(registry_.removeKey(HKCU, "a\\B"));
  EXPECT_FALSE(registry_.hasKey(HKCU, "A\\B\\C"));
  EXPECT_FALSE(registry_.removeKey(HKCU, "A\\B"));
  EXPECT_EQ(registry_.getString(HKCU, "A", "keep"), "y");
  EXPECT_THROW(registry_.removeKey(HKCU, ""), std::invalid_argument);
}

TEST_F(Win32Registry, MissingPrefixReadsAsEmptyAndIsCreatedOnlyByAWrite) {
  EXPECT_FALSE(registry_.get(HKCU, "K", "v"));
  EXPECT_EQ(registry_.exportText(HKLM, ""), "REGEDIT4\n\n");
  EXPECT_FALSE(registry_.remove(HKCU, "K", "v"));
  EXPECT_FALSE(registry_.removeKey(HKCU, "K"));
  EXPECT_THROW(registry_.set(HKCU, "K\\\\Empty", "v", std::string("x")), std::invalid_argument);
  EXPECT_THROW(registry_.set(HKCU, "K", "v", std::string("a\0b", 3)), std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(prefix_.root()));

  registry_.set(HKCU, "K", "v", std::string("x"));
  EXPECT_EQ(readFile(prefix_.userHive()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=\"x\"\n\n");
}

TEST_F(Win32Registry, FaultyImportNamesTheLineAndWritesNothing) {
  registry_.set(HKCU, "K", "v", std::string("before"));
  registry_.set(HKLM, "K", "v", std::string("before"));
  const std::string user = readFile(prefix_.userHive());
  const std::string system = readFile(prefix_.systemHive());

  const std::string text =
      "REGEDIT4\n\n[HKLM\\K]\n\"v\"=\"after\"\n[HKCU\\K]\n\"v\"=\"after\"\n\"w\"=dword:xyz\n";
  try {
    registry_.import(text);
    FAIL() << "import accepted a faulty text";
  } catch (const RegistryError& e) {
    EXPECT_NE(std::string(e.what()).find("line 7"), std::string::npos) << e.what();
  }
  EXPECT_EQ(readFile(prefix_.userHive()), user);
  EXPECT_EQ(readFile(prefix_.systemHive()), system);
}

TEST_F(Win32Registry, MalformedHiveIsReportedAndNeverOverwritten) {
  std::filesystem::create_directories(prefix_.root());
  const std::string broken = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=\"x\"\n\"w\"=wat\n";
  writeFile(prefix_.userHive(), broken);
  const std::string where = prefix_.userHive().string() + ": line 5";
  for (const auto& attempt : std::initializer_list<std::function<void()>>{
           [&] { registry_.get(HKCU, "K", "v"); },
           [&] { registry_.set(HKCU, "K", "v", std::string("y")); },
           [&] { registry_.import("REGEDIT4\n[HKCU\\K]\n\"v\"=-\n"); },
       }) {
    try {
      attempt();
      ADD_FAILURE() << "a malformed hive was accepted";
    } catch (const RegistryError& e) {
      EXPECT_NE(std::string(e.what()).find(where), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(readFile(prefix_.userHive()), broken);
  EXPECT_NO_THROW(registry_.set(HKLM, "K", "v", std::string("other hive")));
}

TEST_F(Win32Registry, ConcurrentWritersInSeparateProcessesLoseNothing) {
  constexpr int kWrites = 40;
  const auto writer = [&](const char* name) {
    for (int i = 0; i < kWrites; ++i) {
      registry_.set(HKCU, "Shared", std::string(name) + std::to_string(i), std::uint32_t(i));
    }
  };
  pid_t children[2];
  const char* names[2] = {"first", "second"};
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      try {
        writer(names[c]);
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (const char* name : names) {
    for (int i = 0; i < kWrites; ++i) {
      EXPECT_EQ(registry_.get(HKCU, "Shared", std::string(name) + std::to_string(i)),
                RegValue(std::uint32_t(i)))
          << name << i;
    }
  }
}

TEST(Win32RegistryKeyName, SplitsRootAndPath) {
  using Split = std::optional<std::pair<RootKey, std::string>>;
  const std::pair<std::string_view, Split> cases[] = {
      {"HKCU\\CTAPIDLL.INI\\OPT", Split({HKCU, "CTAPIDLL.INI\\OPT"})},
      {"hkey_local_machine\\Software\\Example\\Settings",
       Split({HKLM, "Software\\Example\\Settings"})},
      {"HKLM", Split({HKLM, ""})},
      {"HKCU\\", std::nullopt},
      {"HKCR\\x", std::nullopt},
      {"HKCUX\\x", std::nullopt},
      {"\\HKCU\\x", std::nullopt},
  };
  for (const auto& [full, expected] : cases) {
    EXPECT_EQ(Registry::splitKeyName(full), expected) << full;
  }
}

}  // namespace
}  // namespace k52::win32
