#include "chiphost/core/vocabulary.h"

#include <algorithm>
#include <string>

#include "chiphost/core/command_context.h"
#include "chiphost/core/text_rules.h"

namespace k52::chiphost {

// clang-format off
const std::array<std::string_view, 194> kVocabulary = {
    "System*System", "Device*Device", "Card*Card", "Apps*Apps",
    "*System", "Info*SystemInfo", "Comands", "ConvertErrCode", "TaskList", "Create", "Destroy",
    "AddHWndMsg", "DelHWnd", "SetLng", "CryptKey*CryptMode", "GenCryptKey*CryptMode",
    "*CryptMode", "CDES", "DES",
    "*SystemInfo", "VersionCode", "VersionText", "ErrText", "ErrCode", "Lng", "Handle",
    "*Device", "List", "Info*DeviceInfo", "InfoDeviceID*DeviceInfo", "Select", "Remove",
    "SearchComPort", "SetLed", "SetMode",
    "*DeviceInfo", "Status", "Port", "Type", "ShortName", "Serial", "LotNr", "Version",
    "MaxBaudrate", "Baudrate", "Led", "Caps", "Mode", "Index",
    "*Card", "Info*CardInfo", "Reset", "PowerOff", "Lock", "Unlock", "APDU", "ISOAPDU", "T0TX",
    "T0RX", "T1", "TspRxLen", "InitBwtCwt", "InitSadDad", "InitIfsdIfsc", "PTS",
    "MemDisableCache", "MemEnableCache", "MemRead", "MemWrite", "MemVerify", "MemReadPB",
    "MemWritePB", "MemSetPB", "MemVerifyPB", "MemReadStatus", "MemVerifyPin", "MemChangePin",
    "*CardInfo", "Status", "LockedBy", "Apps", "Type", "Protocol", "MemSize", "PinSize", "PinCnt",
    "PageSize", "ErrMem", "ErrMemPB", "AtrBinary", "AtrBinarySize", "AtrHistory",
    "AtrHistorySize", "PtsAuto", "PtsBinary", "PtsBinaryLen", "Baudrate", "SAD", "DAD", "CWT",
    "BWT", "IFSC", "IFSD", "TS", "T0",
    "TA1", "TA2", "TA3", "TA4", "TA5", "TA6", "TA7", "TA8",
    "TB1", "TB2", "TB3", "TB4", "TB5", "TB6", "TB7", "TB8",
    "TC1", "TC2", "TC3", "TC4", "TC5", "TC6", "TC7", "TC8",
    "TD1", "TD2", "TD3", "TD4", "TD5", "TD6", "TD7", "TD8",
    "CardCount",
    "*Apps", "TLV*AppsTLV", "ISO*AppsISO", "ECB*AppsECB", "TRP*AppsTRP", "GSM*AppsGSM",
    "PVK*AppsPVK", "KVK*AppsKVK",
    "*AppsTLV", "List", "ReadTag", "WriteTag",
    "*AppsISO", "APDU", "Select", "ReadRec", "WriteRec", "ReadBin", "WriteBin",
    "*AppsGSM", "APDU", "ReadTel", "WriteTel",
    "*AppsTRP", "SetAppKey", "FileList", "FileRead", "FileWrite", "FileAdmin",
    "*AppsECB", "APDU", "Select",
    "*AppsKVK", "Krankenkasse", "KNummer", "VkNr", "VNummer", "Status", "StatusExt", "Titel",
    "Vorname", "Zusatz", "Name", "GebDatum", "Strasse", "Land", "PLZ", "Ort", "Gultigkeit",
    "*AppsPVK", "Seriennummer", "Hersteller", "Datum", "Orginalwert", "Restwert",
    "*",
};
// clang-format on

void comands(CommandContext& ctx) {
  std::string wanted = ctx.argument().value_or("");
  std::size_t i = 0;
  while (i < kVocabulary.size() && !kVocabulary[i].starts_with('*')) {
    const std::string_view entry = kVocabulary[i];
    const std::size_t star = entry.find('*');
    if (wanted.empty()) {
      ctx.append(entry.substr(0, star));
      ctx.append("\r\n");
      ++i;
    } else if (ansiUpper(entry).starts_with(wanted + "*")) {
      const std::string header = "*" + std::string(entry.substr(star + 1));
      i = static_cast<std::size_t>(std::find(kVocabulary.begin(), kVocabulary.end(), header) -
                                   kVocabulary.begin()) +
          1;
      wanted = ctx.argument().value_or("");
    } else {
      ++i;
    }
  }
}

}  // namespace k52::chiphost
