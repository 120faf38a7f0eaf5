// The program's string table: the texts the window, the dialogs and the text
// mode show, by their string numbers.
#pragma once

#include <string_view>

namespace k52::balview {

enum StringId : int {
  kIdsNone = 0,  // nothing shown yet
  kIdsTitle = 103,
  kIdsClassName = 109,
  kIdsNoCard = 110,
  kIdsNotActivated = 111,
  kIdsUnknownStatus = 113,
  kIdsInterfaceFailed = 114,
  kIdsPleaseWait = 115,
  kIdsNotPurse = 116,
  kIdsNoDriver = 117,
  kIdsNoReader = 118,
  kIdsBadAmount = 119,
};

// The text of a string number (UTF-8); empty for a number the table lacks.
std::string_view loadString(int id);

}  // namespace k52::balview
