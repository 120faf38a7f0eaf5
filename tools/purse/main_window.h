// The main window: menus, the purse view, and the version check after it is
// first shown.
#pragma once

#include <wx/frame.h>

#include "tools/purse/ctapi_binding.h"
#include "tools/purse/purse_tool.h"

namespace k52::balview {

class MainWindow : public wxFrame {
 public:
  // Menu commands.
  static constexpr int kCmdAbout = 104;
  static constexpr int kCmdExit = 105;
  static constexpr int kCmdVersion = 32771;

  explicit MainWindow(CtApiBinding& ct);

  // Shows the window, then asks for the versions and opens the version
  // dialog when the terminal reports none, or no driver or firmware.
  void showAndCheckVersions();

 private:
  void onAbout(wxCommandEvent& event);
  void onVersion(wxCommandEvent& event);

  CtApiBinding& ct_;
  PurseTool tool_;
};

}  // namespace k52::balview
