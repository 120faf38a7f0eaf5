// The about dialog and the version dialog of the Hilfe menu.
#pragma once

#include <wx/dialog.h>

#include "tools/purse/ctapi_binding.h"

namespace k52::balview {

// "Über...": the program's icon, "balview Version 1.0" and OK.
class AboutDialog : public wxDialog {
 public:
  explicit AboutDialog(wxWindow* parent);
};

// "Versionsinformationen...": interface, driver and firmware versions as the
// terminal reports them, asked when the dialog opens.
class VersionDialog : public wxDialog {
 public:
  VersionDialog(wxWindow* parent, CtApiBinding& ct);
};

}  // namespace k52::balview
