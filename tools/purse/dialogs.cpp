#include "tools/purse/dialogs.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "tools/purse/artwork.h"
#include "tools/purse/strings.h"
#include "tools/purse/version_info.h"
#include "tools/purse/wx_text.h"

namespace k52::balview {

AboutDialog::AboutDialog(wxWindow* parent) : wxDialog(parent, wxID_ANY, wxText("Über...")) {
  auto* line = new wxBoxSizer(wxHORIZONTAL);
  const wxIcon icon = programIcons().GetIcon(32);
  line->Add(new wxStaticBitmap(this, wxID_ANY, icon), 0, wxALIGN_CENTER_VERTICAL | wxALL, 12);
  line->Add(new wxStaticText(this, wxID_ANY, "balview Version 1.0"), 1,
            wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM | wxRIGHT, 12);
  line->AddSpacer(24);

  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(line, 0, wxEXPAND);
  auto* ok = new wxButton(this, wxID_OK, "OK");
  ok->SetDefault();
  column->Add(ok, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  SetSizerAndFit(column);
  CentreOnParent();
}

VersionDialog::VersionDialog(wxWindow* parent, CtApiBinding& ct)
    : wxDialog(parent, wxID_ANY, "Versionsinformationen...") {
  const wxFont labelFont(wxFontInfo(wxSize(0, 14)).FaceName("Arial").Underlined());
  auto* column = new wxBoxSizer(wxVERTICAL);
  const auto addField = [&](const char* label) {
    auto* title = new wxStaticText(this, wxID_ANY, label);
    title->SetFont(labelFont);
    column->Add(title, 0, wxLEFT | wxRIGHT | wxTOP, 14);
    auto* value = new wxStaticText(this, wxID_ANY, kVersionUnknown);
    column->AddSpacer(4);
    column->Add(value, 0, wxLEFT | wxRIGHT, 24);
    // Wide enough for the longest text the field can get.
    value->SetMinSize(wxSize(value->GetTextExtent(wxText(loadString(kIdsNoReader))).x, -1));
    return value;
  };
  wxStaticText* interface = addField(kInterfaceLabel);
  wxStaticText* driver = addField(kDriverLabel);
  wxStaticText* firmware = addField(kFirmwareLabel);

  auto* ok = new wxButton(this, wxID_OK, "OK");
  ok->SetDefault();
  column->AddSpacer(8);
  column->Add(ok, 0, wxALIGN_RIGHT | wxALL, 14);
  SetSizerAndFit(column);

  const VersionTexts texts = queryVersionTexts(ct);
  interface->SetLabel(wxText(texts.interface));
  driver->SetLabel(wxText(texts.driver));
  firmware->SetLabel(wxText(texts.firmware));
  CentreOnParent();
}

}  // namespace k52::balview
