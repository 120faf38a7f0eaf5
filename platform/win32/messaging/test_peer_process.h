// The peer program of the messaging tests, run as a real process of the
// test's prefix, with bounded waits on everything it is expected to do.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "testing/child_process.h"

namespace k52::win32 {

class PeerProcess : public testing::ChildProcess {
 public:
  PeerProcess(const std::filesystem::path& prefix, std::vector<std::string> args)
      : ChildProcess(withProgram(std::move(args)),
                     {.environment = {"K52_PREFIX=" + prefix.string()}, .cleanEnvironment = true}) {
  }

 private:
  static std::vector<std::string> withProgram(std::vector<std::string> args) {
    args.insert(args.begin(), K52_MESSAGING_PEER);
    return args;
  }
};

}  // namespace k52::win32
