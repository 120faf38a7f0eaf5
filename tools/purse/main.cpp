// balview: reads the balance of a Geldkarte through the CT-API library the
// installation names, in a window or (--text) on the terminal.
#include <cstdlib>
#include <iostream>

#include <wx/app.h>
#include <wx/init.h>

#include "platform/win32/registry.h"
#include "tools/purse/command_line.h"
#include "tools/purse/ctapi_binding.h"
#include "tools/purse/library_setting.h"
#include "tools/purse/main_window.h"
#include "tools/purse/strings.h"
#include "tools/purse/text_mode.h"
#include "tools/purse/wx_text.h"

namespace {

using namespace k52::balview;

class BalviewApp : public wxApp {
 public:
  explicit BalviewApp(CtApiBinding& ct) : ct_(ct) {}

  bool OnInit() override {
    SetAppName(wxText(loadString(kIdsTitle)));
    SetClassName(wxText(loadString(kIdsClassName)));
    auto* window = new MainWindow(ct_);
    window->showAndCheckVersions();
    return true;
  }

 private:
  CtApiBinding& ct_;
};

int runWindow(CtApiBinding& ct, char* program) {
  wxApp::SetInstance(new BalviewApp(ct));
  // The toolkit gets no options of its own: the command line is ours.
  int argc = 1;
  char* argv[] = {program, nullptr};
  return wxEntry(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  try {
    line = parseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::cerr << "balview: " << e.what() << "\nTry 'balview --help'.\n";
    return 2;
  }
  if (line.help) {
    std::cout << kUsage;
    return 0;
  }
  try {
    const auto prefix = k52::win32::Prefix::resolve(line.prefix);
    // The CT-API library finds its own settings in the same prefix.
    ::setenv("K52_PREFIX", prefix.root().c_str(), 1);
    const std::string library = configuredLibrary(k52::win32::Registry(prefix));
    const auto ct = CtApiBinding::load(library, prefix);
    if (!line.text) return runWindow(*ct, argv[0]);

    const int status =
        line.versionInfo ? printVersionInfo(*ct, std::cout) : printBalance(*ct, std::cout);
    if (!std::cout.flush()) {
      std::cerr << "balview: cannot write the output\n";
      return 1;
    }
    return status;
  } catch (const std::exception& e) {
    std::cerr << "balview: " << e.what() << '\n';
    return 1;
  }
}
