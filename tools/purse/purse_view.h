// The client area of the main window: the background picture, the balance
// or the current message in the text rectangle, and the Test button.
#pragma once

#include <wx/bitmap.h>
#include <wx/panel.h>

#include "tools/purse/purse_tool.h"

namespace k52::balview {

class PurseView : public wxPanel {
 public:
  static constexpr int kTestButton = 1;

  PurseView(wxWindow* parent, PurseTool& tool);

 private:
  void onPaint(wxPaintEvent& event);
  void onTest(wxCommandEvent& event);
  // Paints now, not when the event loop next gets to it: the card is read
  // while the loop waits.
  void repaintNow();

  PurseTool& tool_;
  wxBitmap background_;
};

}  // namespace k52::balview
