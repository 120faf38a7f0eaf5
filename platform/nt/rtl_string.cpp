#include <cwchar>
#include <cwctype>

#include "platform/nt/io.h"
#include "platform/nt/rtl.h"

namespace k52::nt {

void RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source) {
  const std::size_t length = Source ? std::wcslen(Source) * sizeof(WCHAR) : 0;
  Destination->Buffer = const_cast<PWSTR>(Source);
  Destination->Length = static_cast<USHORT>(length);
  Destination->MaximumLength = static_cast<USHORT>(Source ? length + sizeof(WCHAR) : 0);
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                             BOOLEAN CaseInSensitive) {
  const std::size_t n1 = String1->Length / sizeof(WCHAR);
  const std::size_t n2 = String2->Length / sizeof(WCHAR);
  for (std::size_t i = 0; i < n1 && i < n2; ++i) {
    wint_t a = String1->Buffer[i];
    wint_t b = String2->Buffer[i];
    if (CaseInSensitive) {
      a = std::towupper(a);
      b = std::towupper(b);
    }
    if (a != b) return a < b ? -1 : 1;
  }
  return n1 == n2 ? 0 : (n1 < n2 ? -1 : 1);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                              BOOLEAN CaseInSensitive) {
  return RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0 ? TRUE : FALSE;
}

void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
  ExFreePool(UnicodeString->Buffer);
  *UnicodeString = {};
}

}  // namespace k52::nt
