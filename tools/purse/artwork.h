// The program's pictures, drawn by the program itself so that it needs no
// file beside it: the background of the main window (bitmap 129) and the
// icon, both a purse card.
#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

namespace k52::balview {

// The background picture, 398 x 241 pixels: the client area the window had
// on the system it was made for. The text rectangle (120, 175)-(375, 240)
// lies on a plain display field of the picture.
wxBitmap backgroundPicture();

// The program's icon in 16, 32 and 48 pixels.
wxIconBundle programIcons();

}  // namespace k52::balview
