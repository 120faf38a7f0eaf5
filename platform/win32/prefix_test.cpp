#include "platform/win32/prefix.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace k52::win32 {
namespace {

TEST(Win32Prefix, HostPathTranslatesDrivePathsAndRefusesTheRest) {
  const Prefix prefix("/p");
  struct Case {
    std::string_view windows;
    std::optional<std::string> host;
  };
  const Case cases[] = {
      {"C:\\_cc.prt", "/p/drive_c/_cc.prt"},
      {"d:\\logs\\x.txt", "/p/drive_d/logs/x.txt"},
      {"C:/a/b", "/p/drive_c/a/b"},
      {"c:\\Mixed/Seps\\\\dup\\", "/p/drive_c/Mixed/Seps/dup"},
      {"C:\\a\\.\\b\\..\\c", "/p/drive_c/a/c"},
      {"C:\\", "/p/drive_c"},
      {"C:", "/p/drive_c"},
      {"C:\\a\\..\\..\\system.reg", std::nullopt},
      {"C:\\..", std::nullopt},
      {"C:name", std::nullopt},
      {"\\windows\\x", std::nullopt},
      {"\\\\server\\share\\x", std::nullopt},
      {"relative\\x", std::nullopt},
      {"1:\\x", std::nullopt},
      {"", std::nullopt},
      {std::string_view("C:\\a\0b", 6), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.windows));
    const auto host = prefix.hostPath(c.windows);
    if (c.host) {
      ASSERT_TRUE(host.has_value());
      EXPECT_EQ(host->string(), *c.host);
    } else {
      EXPECT_FALSE(host.has_value()) << host->string();
    }
  }
}

class Win32PrefixEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    save("K52_PREFIX", prefix_);
    save("HOME", home_);
  }
  void TearDown() override {
    restore("K52_PREFIX", prefix_);
    restore("HOME", home_);
  }

 private:
  static void save(const char* name, std::optional<std::string>& slot) {
    if (const char* value = std::getenv(name)) slot = value;
  }
  static void restore(const char* name, const std::optional<std::string>& slot) {
    if (slot) {
      ::setenv(name, slot->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::optional<std::string> prefix_, home_;
};

TEST_F(Win32PrefixEnvironment, RootComesFromArgumentThenVariableThenHome) {
  ::setenv("K52_PREFIX", "/from/env", 1);
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(Prefix::resolve(std::string("/from/arg")).root(), "/from/arg");
  EXPECT_EQ(Prefix::resolve(std::nullopt).root(), "/from/env");

  ::setenv("K52_PREFIX", "", 1);
  EXPECT_EQ(Prefix::fromEnvironment().root(), "/home/u/.local/share/k52kit");

  ::unsetenv("K52_PREFIX");
  ::unsetenv("HOME");
  EXPECT_EQ(Prefix::fromEnvironment().root(), "/tmp/.local/share/k52kit");
}

}  // namespace
}  // namespace k52::win32
