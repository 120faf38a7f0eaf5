// The tool with a CT-API library loaded from a file, its setting, its text
// mode and command line, and the display's line breaking.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/win32/registry.h"
#include "platform/win32/test_temp_dir.h"
#include "tools/purse/command_line.h"
#include "tools/purse/ctapi_binding.h"
#include "tools/purse/library_setting.h"
#include "tools/purse/text_mode.h"
#include "tools/purse/word_wrap.h"

namespace k52::balview {
namespace {

namespace fs = std::filesystem;

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv("K52_LIBRARY_PATH"); }
  void TearDown() override { ::unsetenv("K52_LIBRARY_PATH"); }

  // Puts `module` into the prefix's system directory as `file`.
  void install(const char* module, const std::string& file) {
    const fs::path dir = prefix_.root() / "drive_c/windows/system32";
    fs::create_directories(dir);
    fs::copy_file(module, dir / file, fs::copy_options::overwrite_existing);
  }

  std::unique_ptr<CtApiBinding> bindConfigured() {
    return CtApiBinding::load(configuredLibrary(registry_), prefix_);
  }

  win32::TempDir dir_;
  win32::Prefix prefix_{dir_.path() / "prefix"};
  win32::Registry registry_{prefix_};
};

TEST_F(LoadedLibrary, DefaultNameFindsTheLibraryTheWindowsWay) {
  install(K52_TEST_CTAPI, "libctqts32.so");
  const auto ct = bindConfigured();
  ASSERT_NE(ct->library(), nullptr);
  EXPECT_TRUE(ct->complete());

  std::ostringstream out;
  EXPECT_EQ(printBalance(*ct, out), 0);
  EXPECT_EQ(out.str(), " 12.34 DM\n");
  std::ostringstream versions;
  EXPECT_EQ(printVersionInfo(*ct, versions), 0);
  EXPECT_EQ(versions.str(),
            "Schnittstelle: Version 1.2\nTreiber: Version 3.4\nFirmware: Version 5.6\n");
}

TEST_F(LoadedLibrary, ConfiguredNameAndFullPath) {
  install(K52_TEST_CTAPI, "libKBDAPI.so");
  registry_.set(win32::RootKey::LocalMachine, kSettingsKey, kLibraryValue, "KBDAPI.DLL");
  EXPECT_TRUE(bindConfigured()->complete());

  registry_.set(win32::RootKey::LocalMachine, kSettingsKey, kLibraryValue,
                std::string(K52_TEST_CTAPI));
  const auto ct = bindConfigured();
  ASSERT_NE(ct->library(), nullptr);
  EXPECT_EQ(fs::canonical(ct->library()->path()), fs::canonical(K52_TEST_CTAPI));
}

TEST_F(LoadedLibrary, MissingLibraryOrEntryLeavesTheCallsEmpty) {
  auto ct = bindConfigured();
  EXPECT_EQ(ct->library(), nullptr);
  std::ostringstream out;
  EXPECT_EQ(printBalance(*ct, out), 1);
  EXPECT_EQ(out.str(),
            "Die Inititialisierung der Schnittstelle zur Geldkarte ist fehlgeschlagen. Bitte "
            "prüfen Sie, ob die Karte korrekt eingelegt ist.\n");
  std::ostringstream versions;
  EXPECT_EQ(printVersionInfo(*ct, versions), 1);
  EXPECT_EQ(versions.str(),
            "Schnittstelle: Konnte nicht ermittelt werden...\n"
            "Treiber: Konnte nicht ermittelt werden...\n"
            "Firmware: Konnte nicht ermittelt werden...\n");

  install(K52_TEST_CTAPI_NO_CLOSE, "libctqts32.so");
  ct = bindConfigured();
  ASSERT_NE(ct->library(), nullptr);
  EXPECT_FALSE(ct->complete());
  std::ostringstream stillReads;
  EXPECT_EQ(printBalance(*ct, stillReads), 0);
  EXPECT_EQ(stillReads.str(), " 12.34 DM\n");
}

TEST(LibrarySetting, EmptyOrMissingMeansTheDefaultAndLongNamesAreCut) {
  win32::TempDir dir;
  win32::Registry registry{win32::Prefix(dir.path())};
  EXPECT_EQ(configuredLibrary(registry), "ctqts32.dll");
  registry.set(win32::RootKey::LocalMachine, kSettingsKey, kLibraryValue, "");
  EXPECT_EQ(configuredLibrary(registry), "ctqts32.dll");
  registry.set(win32::RootKey::LocalMachine, kSettingsKey, kLibraryValue, std::uint32_t{7});
  EXPECT_EQ(configuredLibrary(registry), "ctqts32.dll");
  registry.set(win32::RootKey::LocalMachine, kSettingsKey, kLibraryValue, std::string(300, 'x'));
  EXPECT_EQ(configuredLibrary(registry), std::string(255, 'x'));
}

TEST(BalviewCommandLine, OptionsAndMistakes) {
  const auto line = parseCommandLine({"--prefix", "/p", "--text", "--version-info"});
  EXPECT_TRUE(line.text);
  EXPECT_TRUE(line.versionInfo);
  EXPECT_EQ(line.prefix, "/p");
  EXPECT_FALSE(parseCommandLine({}).text);
  EXPECT_TRUE(parseCommandLine({"-h"}).help);
  EXPECT_EQ(parseCommandLine({"--prefix=/q"}).prefix, "/q");
  for (const auto& bad : std::vector<std::vector<std::string_view>>{
           {"--prefix"}, {"--prefix="}, {"--version-info"}, {"--txt"}, {"file"}}) {
    EXPECT_THROW(parseCommandLine(bad), UsageError) << bad[0];
  }
}

TEST(WordWrap, BreaksAtBlanksAndLineFeedsAndKeepsInnerBlanks) {
  const MeasureText chars = [](std::string_view s) { return static_cast<int>(s.size()); };
  EXPECT_EQ(wrapText("", 10, chars), std::vector<std::string>{});
  EXPECT_EQ(wrapText("ab  cd ef", 6, chars), (std::vector<std::string>{"ab  cd", "ef"}));
  EXPECT_EQ(wrapText("ab cd  ef", 5, chars), (std::vector<std::string>{"ab cd", "ef"}));
  EXPECT_EQ(wrapText("Status!\nDer Leser", 20, chars),
            (std::vector<std::string>{"Status!", "Der Leser"}));
  EXPECT_EQ(wrapText("a\n\nb", 20, chars), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(wrapText("x Schnittstelle y", 4, chars),
            (std::vector<std::string>{"x", "Schnittstelle", "y"}));
}

}  // namespace
}  // namespace k52::balview
