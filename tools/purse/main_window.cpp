#include "tools/purse/main_window.h"

#include <wx/display.h>
#include <wx/menu.h>

#include "tools/purse/artwork.h"
#include "tools/purse/dialogs.h"
#include "tools/purse/purse_view.h"
#include "tools/purse/strings.h"
#include "tools/purse/version_info.h"
#include "tools/purse/wx_text.h"

namespace k52::balview {

namespace {

// The window's size on the system it was made for: 404 x 284 with caption
// and menu, which left this client area for the picture and the text.
constexpr int kClientWidth = 398;
constexpr int kClientHeight = 241;

// The toolkit takes menu ids below 0x8000 only; the Version command 32771
// (0x8003) is the one above, and goes to the menu without its top bit.
constexpr int menuId(int command) {
  return command & 0x7FFF;
}

}  // namespace

MainWindow::MainWindow(CtApiBinding& ct)
    : wxFrame(nullptr, wxID_ANY, wxText(loadString(kIdsTitle)), wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX, wxText(loadString(kIdsClassName))),
      ct_(ct),
      tool_(ct) {
  SetIcons(programIcons());
  SetBackgroundColour(*wxWHITE);

  auto* file = new wxMenu;
  file->Append(kCmdExit, "&Beenden");
  auto* help = new wxMenu;
  help->Append(kCmdAbout, wxText("Über..."));
  help->Append(menuId(kCmdVersion), "Version...");
  auto* bar = new wxMenuBar;
  bar->Append(file, "&Datei");
  bar->Append(help, "&Hilfe");
  SetMenuBar(bar);

  new PurseView(this, tool_);
  SetClientSize(kClientWidth, kClientHeight);

  const wxRect desktop = wxDisplay(0u).GetGeometry();
  Move(desktop.width / 2 - 202, desktop.height / 2 - 142);

  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, kCmdExit);
  Bind(wxEVT_MENU, &MainWindow::onAbout, this, kCmdAbout);
  Bind(wxEVT_MENU, &MainWindow::onVersion, this, menuId(kCmdVersion));
}

void MainWindow::showAndCheckVersions() {
  Show();
  // After the window has come up and painted, as the user sees it.
  CallAfter([this] {
    Update();
    if (versionIncomplete(ct_)) {
      wxCommandEvent open;
      onVersion(open);
    }
  });
}

void MainWindow::onAbout(wxCommandEvent&) {
  AboutDialog(this).ShowModal();
}

void MainWindow::onVersion(wxCommandEvent&) {
  VersionDialog(this, ct_).ShowModal();
}

}  // namespace k52::balview
