// A Bridge on a fake resource manager and a virtual clock, with its
// configuration in a map and its trace captured.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ctapi/include/ctapi.h"
#include "ctapi/pcsc/bridge.h"
#include "platform/pcsc/fake_pcsc.h"

namespace k52::ctbridge {

using Bytes = std::vector<std::uint8_t>;

inline constexpr char kReader[] = "Fake Reader 00";
// A T=1 card: TD1 -> TD2 -> TA3 TB3, historical bytes "K52", TCK.
inline const Bytes kAtrT1{0x3B, 0x83, 0x81, 0x31, 0xFE, 0x45, 'K', '5', '2', 0xC4};

class BridgeTest : public ::testing::Test {
 protected:
  struct Reply {
    std::int8_t result;
    Bytes bytes;
    std::uint8_t dad, sad;
    std::uint16_t lenr;
  };

  BridgeTest() {
    auto& reader = pcsc.addReader(kReader);
    reader.tracksCardChange = true;
    config["ReaderName1"] = kReader;
  }

  ~BridgeTest() override { std::filesystem::remove_all(driveC_.parent_path()); }

  Bridge& bridge() {
    if (!bridge_) {
      bridge_ = std::make_unique<Bridge>(Environment{
          pcsc,
          clock,
          [this](const std::string& name) {
            auto it = config.find(name);
            return it == config.end() ? std::string() : it->second;
          },
          [this]() -> std::unique_ptr<TraceSink> {
            ++sinkLoads;
            return std::make_unique<CapturingSink>(sinkLines);
          },
          [this](const std::string& path) -> std::optional<std::filesystem::path> {
            filePaths.push_back(path);
            return driveC_ / "_cc.prt";
          },
      });
    }
    return *bridge_;
  }

  // CT_init(1) with the reader configured, and the PC/SC call log cleared.
  void open(std::uint16_t ctn = 1) {
    ASSERT_EQ(bridge().init(ctn, 1), OK);
    pcsc.calls.clear();
  }

  Reply send(Bytes command, std::uint8_t dad = CTAPI_ADDR_CT, std::uint16_t capacity = 258,
             std::uint16_t ctn = 1) {
    // One guard byte past the capacity catches writes beyond it.
    Bytes buffer(capacity + 1u, 0xEE);
    std::uint8_t d = dad, s = CTAPI_ADDR_HOST;
    std::uint16_t lenr = capacity;
    const auto rc = bridge().data(ctn, &d, &s, static_cast<std::uint16_t>(command.size()),
                                  command.data(), &lenr, buffer.data());
    EXPECT_EQ(buffer[capacity], 0xEE) << "written past the response buffer";
    buffer.resize(std::min<std::size_t>(lenr, capacity));
    return {rc, buffer, d, s, lenr};
  }

  void insertCardAt(Duration at, Bytes atr = kAtrT1) {
    pcsc.reader(kReader).insertAt(at, {atr, pcsc::kProtocolT1, {}});
  }

  std::string fileTrace() const {
    std::ifstream in(driveC_ / "_cc.prt");
    return {std::istreambuf_iterator<char>(in), {}};
  }

  bool traced(const std::string& line) const {
    return std::find(sinkLines.begin(), sinkLines.end(), line) != sinkLines.end();
  }

  VirtualClock clock;
  pcsc::FakePcsc pcsc{clock};
  std::map<std::string, std::string> config;
  std::vector<std::string> sinkLines;
  std::vector<std::string> filePaths;
  int sinkLoads = 0;

 private:
  class CapturingSink : public TraceSink {
   public:
    explicit CapturingSink(std::vector<std::string>& lines) : lines_(lines) {}
    void print(const char* text) override { lines_.emplace_back(text); }

   private:
    std::vector<std::string>& lines_;
  };

  std::filesystem::path driveC_ = [] {
    std::string dir = (std::filesystem::temp_directory_path() / "k52-bridge-XXXXXX").string();
    if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp");
    std::filesystem::create_directory(std::filesystem::path(dir) / "drive_c");
    return std::filesystem::path(dir) / "drive_c";
  }();
  std::unique_ptr<Bridge> bridge_;
};

}  // namespace k52::ctbridge
