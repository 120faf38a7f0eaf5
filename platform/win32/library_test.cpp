#include "platform/win32/library.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win32/test_temp_dir.h"

namespace k52::win32 {
namespace {

using DebugPrintFn = int (*)(const char*);

class Win32Library : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv("K52_LIBRARY_PATH"); }
  void TearDown() override { ::unsetenv("K52_LIBRARY_PATH"); }

  // A copy of the test module under `dir`/`file`.
  std::filesystem::path install(const std::filesystem::path& dir, const std::string& file) {
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(K52_TEST_MODULE, dir / file);
    return dir / file;
  }

  static void expectCallable(const Library& library) {
    const auto debugPrint = reinterpret_cast<DebugPrintFn>(library.entry("DebugPrint"));
    ASSERT_NE(debugPrint, nullptr);
    EXPECT_EQ(debugPrint("hello"), 5);
    EXPECT_EQ(library.entry("NoSuchEntry"), nullptr);
  }

  TempDir dir_;
  Prefix prefix_{dir_.path() / "prefix"};
};

TEST_F(Win32Library, LibraryPathFindsTheLowerCaseFileAndComesFirst) {
  const auto first = install(dir_.path() / "libs", "libtesthook.so");
  install(prefix_.root() / "drive_c/windows/system32", "libTestHook.so");
  const std::string path = "/nonexistent:" + (dir_.path() / "libs").string();
  ::setenv("K52_LIBRARY_PATH", path.c_str(), 1);

  const auto library = Library::load("TestHook.DLL", prefix_);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->path(), first.string());
  expectCallable(*library);
}

TEST_F(Win32Library, PrefixSystemDirectoryHoldsModulesWithoutTheLibPrefix) {
  const auto file = install(prefix_.root() / "drive_c/windows/system32", "TRCTEST.so");
  const auto library = Library::load("TRCTEST", prefix_);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->path(), file.string());
  expectCallable(*library);
}

TEST_F(Win32Library, WindowsPathLoadsThatFile) {
  const auto file = install(prefix_.root() / "drive_c/tools", "hook.so");
  const auto library = Library::load("C:\\tools\\hook.so", prefix_);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->path(), file.string());
}

TEST_F(Win32Library, MissingModuleGivesNull) {
  install(prefix_.root() / "drive_c/windows", "libother.so");
  ::setenv("K52_LIBRARY_PATH", (dir_.path() / "empty").c_str(), 1);
  for (const char* name : {"K52_NO_SUCH_MODULE", "K52_NO_SUCH_MODULE.DLL", "", "C:\\missing.so"}) {
    EXPECT_EQ(Library::load(name, prefix_), nullptr) << name;
  }
}

}  // namespace
}  // namespace k52::win32
