#include "tools/purse/purse_view.h"

#include <wx/button.h>
#include <wx/dcbuffer.h>
#include <wx/fontenum.h>
#include <wx/settings.h>

#include "tools/purse/artwork.h"
#include "tools/purse/word_wrap.h"
#include "tools/purse/wx_text.h"

namespace k52::balview {

namespace {

const wxRect kTextRect(wxPoint(120, 175), wxPoint(375 - 1, 240 - 1));
const wxColour kBalanceColour(64, 64, 64);

// "Terminal" of height 34, normal weight. Where the platform has no font of
// that name the fixed-pitch family stands in for it.
wxFont balanceFont() {
  wxFontInfo info(wxSize(0, 34));
  if (wxFontEnumerator::IsValidFacename("Terminal")) {
    info.FaceName("Terminal");
  } else {
    info.Family(wxFONTFAMILY_TELETYPE);
  }
  return wxFont(info.Weight(wxFONTWEIGHT_NORMAL));
}

}  // namespace

PurseView::PurseView(wxWindow* parent, PurseTool& tool)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
              wxTAB_TRAVERSAL | wxFULL_REPAINT_ON_RESIZE),
      tool_(tool),
      background_(backgroundPicture()) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetBackgroundColour(*wxWHITE);
  SetCursor(*wxSTANDARD_CURSOR);
  auto* test = new wxButton(this, kTestButton, "Test", wxPoint(26, 188), wxSize(72, 24));
  test->SetFocus();
  Bind(wxEVT_PAINT, &PurseView::onPaint, this);
  Bind(wxEVT_BUTTON, &PurseView::onTest, this, kTestButton);
}

void PurseView::onPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  dc.DrawBitmap(background_, 0, 0);

  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  wxDCClipper clip(dc, kTextRect);
  const std::string text = tool_.displayText();
  if (tool_.showsBalance()) {
    dc.SetFont(balanceFont());
    dc.SetTextForeground(kBalanceColour);
    const wxString line = wxText(text);
    const wxSize size = dc.GetTextExtent(line);
    dc.DrawText(line, kTextRect.x + (kTextRect.width - size.x) / 2,
                kTextRect.y + (kTextRect.height - size.y) / 2);
    return;
  }
  dc.SetFont(wxSystemSettings::GetFont(wxSYS_ANSI_VAR_FONT));
  dc.SetTextForeground(*wxBLACK);
  const auto measure = [&dc](std::string_view piece) { return dc.GetTextExtent(wxText(piece)).x; };
  int y = kTextRect.y;
  for (const std::string& line : wrapText(text, kTextRect.width, measure)) {
    dc.DrawText(wxText(line), kTextRect.x, y);
    y += dc.GetCharHeight();
  }
}

void PurseView::onTest(wxCommandEvent&) {
  tool_.test([this] { repaintNow(); });
}

void PurseView::repaintNow() {
  Refresh();
  Update();
}

}  // namespace k52::balview
