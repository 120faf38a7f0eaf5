#include "sim/kbd8042/command_assembler.h"

#include <gtest/gtest.h>

namespace k52::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Case {
  const char* name;
  Bytes codes;
  std::vector<Bytes> commands;
  std::size_t nibblesLeft;
};

class AssemblesCommands : public ::testing::TestWithParam<Case> {};

TEST_P(AssemblesCommands, FromNibbleCodes) {
  CommandAssembler assembler;
  std::vector<Bytes> commands;
  for (const std::uint8_t code : GetParam().codes) {
    if (auto command = assembler.feed(code)) commands.push_back(*command);
  }
  EXPECT_EQ(commands, GetParam().commands);
  EXPECT_EQ(assembler.nibblesPending(), GetParam().nibblesLeft);
}

INSTANTIATE_TEST_SUITE_P(
    CommandAssembler, AssemblesCommands,
    ::testing::Values(Case{"ThreeBytes",
                           {0xB0, 0xB0, 0xB0, 0xB3, 0xB1, 0xB2, 0xB3, 0xB4, 0xBA, 0xBB},
                           {{0x12, 0x34, 0xAB}},
                           0},
                      Case{"EmptyCommand", {0xB0, 0xB0, 0xB0, 0xB0}, {{}}, 0},
                      Case{"TwoInARow",
                           {0xB0, 0xB0, 0xB0, 0xB1, 0xBF, 0xBE, 0xB0, 0xB0, 0xB0, 0xB1, 0xB0, 0xB1},
                           {{0xFE}, {0x01}},
                           0},
                      Case{"LengthUsesAllFourNibbles", {0xB0, 0xB1, 0xB0, 0xB0, 0xB1, 0xB2}, {}, 6},
                      Case{"OtherBytesDoNotCount",
                           {0xB0, 0x12, 0xB0, 0xC0, 0xB0, 0xB1, 0xFE, 0xB5, 0xB5},
                           {{0x55}},
                           0},
                      Case{"Incomplete", {0xB0, 0xB0, 0xB0, 0xB2, 0xB1}, {}, 5}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace k52::sim
