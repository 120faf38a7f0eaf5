// readerctl: the card server's reader layer from the command line.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "platform/win32/messaging/user.h"
#include "tools/readerctl/readerctl.h"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  auto parsed = k52::readerctl::parseInvocation(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "readerctl: %s\n%s", error->c_str(),
                 k52::readerctl::kReaderctlUsage.data());
    return 2;
  }
  const auto& inv = std::get<k52::readerctl::Invocation>(parsed);
  if (inv.help) {
    std::fputs(k52::readerctl::kReaderctlUsage.data(), stdout);
    return 0;
  }
  std::error_code ignored;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ignored);
  const auto texts = k52::chiphost::ErrorTexts::load(self.parent_path());
  k52::win32::attach(k52::win32::Prefix::resolve(inv.prefix));
  const int result = k52::readerctl::runSteps(inv, texts, std::cout);
  k52::win32::detach();
  return result;
}
