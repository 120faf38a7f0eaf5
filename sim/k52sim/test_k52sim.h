// k52sim run as a real process by the tests, with bounded waits on all it
// is expected to do.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testing/child_process.h"

namespace k52::sim::test {

// `k52sim --prefix PREFIX ARGS...`, its standard output and error on the pipe.
class K52simProcess : public testing::ChildProcess {
 public:
  K52simProcess(const std::filesystem::path& prefix, std::vector<std::string> args)
      : ChildProcess(withProgram(prefix, std::move(args)), {.captureStderr = true}) {}

 private:
  static std::vector<std::string> withProgram(const std::filesystem::path& prefix,
                                              std::vector<std::string> args) {
    args.insert(args.begin(), {K52SIM_PATH, "--prefix", prefix.string()});
    return args;
  }
};

struct K52simRun {
  std::optional<int> status;  // nullopt when it did not end within 10 s
  std::string output;         // stdout and stderr
};

// Runs a k52sim command to its end.
inline K52simRun runK52sim(const std::filesystem::path& prefix, std::vector<std::string> args) {
  K52simProcess process(prefix, std::move(args));
  K52simRun run;
  while (auto line = process.readLine()) run.output += *line + "\n";
  run.status = process.wait();
  return run;
}

}  // namespace k52::sim::test
