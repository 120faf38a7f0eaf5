// libctstatus.so in front of a CT-API library, loaded the way a program
// loads it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/win32/library.h"
#include "platform/win32/prefix.h"
#include "tools/purse/ctapi_binding.h"

namespace k52::balview {
namespace {

TEST(CtStatusLibrary, LeavesMissingArgumentsToTheLibraryBehindToRefuse) {
  ::setenv("K52_CTSTATUS_LIBRARY", K52_TEST_CTAPI, 1);
  const auto library = win32::Library::load(K52_TEST_CTSTATUS, win32::Prefix("/nonexistent"));
  ASSERT_NE(library, nullptr);
  const auto data = reinterpret_cast<CtDataFn>(library->entry("CT_data"));
  ASSERT_NE(data, nullptr);

  std::uint8_t command[] = {0x20, 0x13, 0x00, 0x80, 0x00};  // GET STATUS, ICC status
  std::uint8_t response[8];
  std::uint8_t dad = 1, sad = 2;
  std::uint16_t lenr = sizeof response;
  const struct {
    const char* missing;
    std::uint8_t* dad;
    std::uint8_t* sad;
    const std::uint8_t* command;
    std::uint16_t* lenr;
    std::uint8_t* response;
  } cases[] = {
      {"dad", nullptr, &sad, command, &lenr, response},
      {"sad", &dad, nullptr, command, &lenr, response},
      {"command", &dad, &sad, nullptr, &lenr, response},
      {"lenr", &dad, &sad, command, nullptr, response},
      {"response", &dad, &sad, command, &lenr, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(data(1, c.dad, c.sad, sizeof command, c.command, c.lenr, c.response), -1)
        << c.missing;
  }

  dad = 1;
  sad = 2;
  lenr = sizeof response;
  ASSERT_EQ(data(1, &dad, &sad, sizeof command, command, &lenr, response), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(response, response + lenr),
            (std::vector<std::uint8_t>{0x05, 0x90, 0x00}));
}

}  // namespace
}  // namespace k52::balview
