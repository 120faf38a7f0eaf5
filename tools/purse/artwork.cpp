#include "tools/purse/artwork.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/icon.h>

#include <memory>

#include "tools/purse/wx_text.h"

namespace k52::balview {

namespace {

const wxColour kCardDark(22, 64, 122);
const wxColour kCardLight(70, 128, 190);
const wxColour kChipDark(176, 136, 48);
const wxColour kChipLight(240, 206, 120);

// A purse card filling `x, y, w, h` (ISO proportions are the caller's
// business). `detail` adds the lettering, which small sizes cannot carry.
void drawCard(wxGraphicsContext& gc, double x, double y, double w, double h, bool detail) {
  const double r = h * 0.08;
  if (detail) {
    gc.SetPen(*wxTRANSPARENT_PEN);
    gc.SetBrush(gc.CreateBrush(wxBrush(wxColour(0, 0, 0, 40))));
    gc.DrawRoundedRectangle(x + 3, y + 4, w, h, r);
  }
  gc.SetBrush(gc.CreateLinearGradientBrush(x, y, x + w, y + h, kCardLight, kCardDark));
  gc.SetPen(gc.CreatePen(wxGraphicsPenInfo(wxColour(14, 44, 90)).Width(h > 40 ? 1.0 : 0.6)));
  gc.DrawRoundedRectangle(x, y, w, h, r);

  // A light band across the card, the way printed cards carry their design.
  wxGraphicsPath band = gc.CreatePath();
  band.MoveToPoint(x + w * 0.45, y + h);
  band.AddCurveToPoint(x + w * 0.65, y + h * 0.55, x + w * 0.8, y + h * 0.35, x + w, y + h * 0.3);
  band.AddLineToPoint(x + w, y + h * 0.55);
  band.AddCurveToPoint(x + w * 0.85, y + h * 0.6, x + w * 0.72, y + h * 0.75, x + w * 0.62, y + h);
  band.CloseSubpath();
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(gc.CreateBrush(wxBrush(wxColour(255, 255, 255, 46))));
  gc.DrawPath(band);

  // The chip with its contact fields.
  const double cw = w * 0.17, ch = h * 0.21;
  const double cx = x + w * 0.1, cy = y + h * 0.36;
  gc.SetBrush(gc.CreateLinearGradientBrush(cx, cy, cx + cw, cy + ch, kChipLight, kChipDark));
  gc.SetPen(gc.CreatePen(wxGraphicsPenInfo(wxColour(120, 90, 30)).Width(h > 40 ? 1.0 : 0.5)));
  gc.DrawRoundedRectangle(cx, cy, cw, ch, ch * 0.18);
  if (h > 20) {
    wxGraphicsPath lines = gc.CreatePath();
    lines.MoveToPoint(cx + cw * 0.5, cy);
    lines.AddLineToPoint(cx + cw * 0.5, cy + ch);
    for (const double f : {0.33, 0.66}) {
      lines.MoveToPoint(cx, cy + ch * f);
      lines.AddLineToPoint(cx + cw, cy + ch * f);
    }
    gc.StrokePath(lines);
  }
  if (!detail) return;

  wxFont title(wxFontInfo(wxSize(0, static_cast<int>(h * 0.14))).Family(wxFONTFAMILY_SWISS).Bold());
  gc.SetFont(title, *wxWHITE);
  gc.DrawText("Geldkarte", x + w * 0.1, y + h * 0.1);

  wxFont small(wxFontInfo(wxSize(0, static_cast<int>(h * 0.075))).Family(wxFONTFAMILY_SWISS));
  gc.SetFont(small, wxColour(220, 232, 248));
  gc.DrawText(wxText("elektronische Geldbörse"), x + w * 0.1, y + h * 0.26);

  // The card number, as dots.
  gc.SetPen(*wxTRANSPARENT_PEN);
  gc.SetBrush(gc.CreateBrush(wxBrush(wxColour(230, 238, 250, 200))));
  const double dot = h * 0.022, row = y + h * 0.72, step = dot * 3.2;
  for (int group = 0; group < 4; ++group) {
    for (int i = 0; i < 4; ++i) {
      gc.DrawEllipse(x + w * 0.1 + group * (4 * step + dot * 3) + i * step, row, dot * 2, dot * 2);
    }
  }
  gc.SetFont(small, wxColour(220, 232, 248));
  gc.DrawText(wxText("gültig bis 12/99"), x + w * 0.1, y + h * 0.84);
}

std::unique_ptr<wxGraphicsContext> contextFor(wxMemoryDC& dc) {
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
  gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
  return gc;
}

wxIcon iconOfSize(int size) {
  wxBitmap bitmap(size, size, 32);
  bitmap.UseAlpha();
  {
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxTRANSPARENT_BRUSH);
    dc.Clear();
    auto gc = contextFor(dc);
    gc->SetCompositionMode(wxCOMPOSITION_SOURCE);
    gc->SetBrush(gc->CreateBrush(wxBrush(wxColour(0, 0, 0, 0))));
    gc->DrawRectangle(0, 0, size, size);
    gc->SetCompositionMode(wxCOMPOSITION_OVER);
    const double w = size - 1.0, h = w / 1.586;
    drawCard(*gc, 0.5, (size - h) / 2, w, h, false);
  }
  wxIcon icon;
  icon.CopyFromBitmap(bitmap);
  return icon;
}

}  // namespace

wxBitmap backgroundPicture() {
  const int width = 398, height = 241;
  wxBitmap bitmap(width, height, 24);
  wxMemoryDC dc(bitmap);
  auto gc = contextFor(dc);

  gc->SetPen(*wxTRANSPARENT_PEN);
  gc->SetBrush(gc->CreateLinearGradientBrush(0, 0, 0, height, wxColour(255, 255, 255),
                                             wxColour(226, 234, 244)));
  gc->DrawRectangle(0, 0, width, height);

  drawCard(*gc, 104, 14, 218, 137, true);

  // The display field behind the text rectangle.
  gc->SetBrush(gc->CreateLinearGradientBrush(0, 168, 0, 238, wxColour(244, 248, 240),
                                             wxColour(228, 236, 222)));
  gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(wxColour(150, 164, 176)).Width(1.0)));
  gc->DrawRoundedRectangle(112.5, 168.5, 270, 70, 6);
  gc->SetPen(gc->CreatePen(wxGraphicsPenInfo(wxColour(255, 255, 255)).Width(1.0)));
  gc->StrokeLine(118, 237.5, 377, 237.5);
  return bitmap;
}

wxIconBundle programIcons() {
  wxIconBundle icons;
  for (const int size : {16, 32, 48}) icons.AddIcon(iconOfSize(size));
  return icons;
}

}  // namespace k52::balview
