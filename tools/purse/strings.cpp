#include "tools/purse/strings.h"

namespace k52::balview {

std::string_view loadString(int id) {
  switch (id) {
    case kIdsTitle:
      return "balview";
    case kIdsClassName:
      return "BALVIEW";
    case kIdsNoCard:
      return "Es ist keine gültige Geldkarte eingelegt!";
    case kIdsNotActivated:
      return "Die Geldkarte konnte nicht initialisiert werden!";
    case kIdsUnknownStatus:
      // The two blanks before "ist" are part of the text as it has always been.
      return "Unbekannter Status!\nDer Kartenleser ist entweder nicht korrekt angeschlossen, "
             "oder die Programminstallation  ist fehlerhaft.";
    case kIdsInterfaceFailed:
      return "Die Inititialisierung der Schnittstelle zur Geldkarte ist fehlgeschlagen. "
             "Bitte prüfen Sie, ob die Karte korrekt eingelegt ist.";
    case kIdsPleaseWait:
      return "Bitte warten...";
    case kIdsNotPurse:
      return "Der Betrag konnte nicht gelesen werden. "
             "Es handelt sich nicht um eine gültige Geldkarte.";
    case kIdsNoDriver:
      return "Der Treiber zum Geldkartenleser ist nicht korrekt eingerichtet.";
    case kIdsNoReader:
      return "Es ist kein Leser installiert, oder der Zugriff ist nicht möglich.";
    case kIdsBadAmount:
      return "Der Betrag auf der Karte ist ungültig. Möglicherweise ist die Karte defekt.";
    default:
      return {};
  }
}

}  // namespace k52::balview
