#include "chiphost/core/interpreter.h"

#include <gtest/gtest.h>

#include "chiphost/core/fake_environment.h"

namespace k52::chiphost {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string textOf(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class InterpreterTest : public ::testing::Test {
 protected:
  InterpreterTest() {
    session.handle = 7;
    env.sessionList.push_back(&session);
  }

  CommandResult run(std::string_view line, const Bytes& data = {}) {
    return interpreter.execute(session, line, data);
  }

  FakeEnvironment env;
  Interpreter interpreter{env};
  Session session;
};

struct Case {
  const char* line;
  std::int32_t result;
  const char* reply;
};

// Commands of a fresh session, each answered alone.
TEST_F(InterpreterTest, CommandLinesAndReplies) {
  const Case cases[] = {
      {"", 0, ""},
      {"   \t ", 0, ""},
      {"system,info,versiontext", 0, "Chipwarden V2.09"},
      {"System;Info=VersionText", 0, "Chipwarden V2.09"},
      {"  SYSTEM\r\n\r\nINFO::VERSIONCODE  ", 0, "0209"},
      {"System,Info,VersionCodeXYZ", 0, "0209"},  // property names are a prefix test
      {"System,Info,Lng", 0, "GERMAN"},
      {"System,Info,ErrCode", 0, "0000"},
      {"System,Info,ErrText", 0, "SmartCard Error: "},
      {"System,Info,Handle", 0, "7"},
      {"System,Info,Nothing", 0,
       "Handle=7\r\nLng=GERMAN\r\nVersionCode=0209\r\nVersionText=Chipwarden V2.09\r\n"
       "ErrCode=0000\r\nErrText=SmartCard Error: \r\n"},
      {"System", 0, ""},
      {"System,Infos", 0x1200, ""},  // a keyword needs a separator behind it
      {"System, Info", 0x1200, ""},  // blanks are no separators
      {"Foo", 0x1200, ""},
      {"System,Foo", 0x1200, ""},
      {"System,Create", 0, "Handle=7\r\n"},
      {"System,Comands", 0, "System\r\nDevice\r\nCard\r\nApps\r\n"},
      {"System,Comands,System,GenCryptKey", 0, "CDES\r\nDES\r\n"},
      {"System,Comands,Device,InfoDeviceID", 0,
       "Status\r\nPort\r\nType\r\nShortName\r\nSerial\r\nLotNr\r\nVersion\r\nMaxBaudrate\r\n"
       "Baudrate\r\nLed\r\nCaps\r\nMode\r\nIndex\r\n"},
      {"System,Comands,Apps,PVK", 0,
       "Seriennummer\r\nHersteller\r\nDatum\r\nOrginalwert\r\nRestwert\r\n"},
      {"System,Comands,'Apps\",Nix", 0, ""},
      {"System,Comands,Nix", 0, ""},
      {"System,ConvertErrCode,4000", 0, "Keine Karte im Kartenleser."},
      {"System,ConvertErrCode", 0x1203, ""},
      {"System,SetLng,FRENCH", 0x1203, ""},
      {"System,SetLng", 0x1203, ""},
      {"System,AddHWndMsg,12", 0x1203, ""},
      {"System,AddHWndMsg,12,X", 0x1203, ""},
      {"System,DelHWnd", 0x1203, ""},
      {"System,CryptKey,AES", 0x1203, ""},
      {"System,GenCryptKey,DES", 0x1203, ""},
      {"System,XECO", 0x1203, ""},
      {"System,TaskList", 0, "Editor,\r\n"},
      {"Device", 0, ""},
      {"Device,Info", 0, "Status=error\r\n"},
      {"Device,Info,Status", 0, "error"},
      {"Device,List", 0, ""},
      {"Device,InfoDeviceID,0", 0x1203, ""},
      {"Device,InfoDeviceID", 0x1203, ""},
      {"Device,Remove", 0x1008, ""},
      {"Device,Remove,0", 0x1203, ""},
      {"Device,Select,-1", 0, ""},
      {"Device,Select,0", 0x1203, ""},
      {"Device,Select,COM12", 0x1203, ""},
      {"Device,Select", 0x1203, ""},
      {"Device,SetMode,TURBO", 0x1203, ""},
      {"Device,SetLed,AUTO", 0x1008, ""},
      {"Device,SearchComPort,16", 0x1203, ""},
      {"Device,SearchComPort,0", 0x1203, ""},
      {"Device,SearchComPort,2", 0x1008, ""},
      {"Device,SearchComPort", 0, ""},
      {"Device,Bogus", 0x1200, ""},
      {"Card", 0, ""},
      {"Card,Info", 0, "Status=error\r\n"},
      {"Card,Info,Status", 0, "error"},
      {"Card,Unlock", 0, ""},
      {"Card,Lock", 0x1008, ""},
      {"Card,PTS,AUTO,0", 0x1008, ""},
      {"Card,MemRead,0,16", 0x1008, ""},
      {"Card,ISOAPDU,00A40000", 0x1008, ""},
      {"Card,Bogus", 0x1200, ""},
      {"Apps", 0x1008, ""},
      {"Apps,KVK", 0x1008, ""},
  };
  env.titles[7] = "Editor";
  for (const Case& c : cases) {
    const CommandResult r = run(c.line);
    EXPECT_EQ(r.result, c.result) << c.line;
    EXPECT_EQ(textOf(r.reply), c.reply) << c.line;
  }
}

TEST_F(InterpreterTest, EveryMethodOfTheVocabularyIsRecognised) {
  // Walking the table itself: no method word of System, Device or Card is
  // answered with "unknown word".
  for (const char* object : {"System", "Device", "Card"}) {
    const std::string methods = textOf(run(std::string("System,Comands,") + object).reply);
    std::size_t at = 0;
    while (at < methods.size()) {
      const std::size_t end = methods.find("\r\n", at);
      const std::string method = methods.substr(at, end - at);
      at = end + 2;
      if (method == "Destroy") continue;
      EXPECT_NE(run(std::string(object) + "," + method).result, 0x1200) << object << " " << method;
    }
  }
}

TEST_F(InterpreterTest, ErrorTextStaysUntilTheNextFailure) {
  session.errorText = "1009,Editor";
  EXPECT_EQ(textOf(run("System,Info,ErrText").reply),
            "Die Karte wird von einer anderen Anwendung benutzt: Editor");
  EXPECT_EQ(textOf(run("System,Info,ErrCode").reply), "1009");
  // ConvertErrCode fills its code's placeholders from the last error.
  EXPECT_EQ(textOf(run("System,ConvertErrCode,1009").reply),
            "Die Karte wird von einer anderen Anwendung benutzt: Editor");
  EXPECT_EQ(run("Device,Remove").result, 0x1008);
  EXPECT_EQ(session.errorText, "1008");
  EXPECT_EQ(run("System,Info,VersionCode").result, 0);
  EXPECT_EQ(textOf(run("System,Info,ErrCode").reply), "1008");
}

TEST_F(InterpreterTest, LanguageSelection) {
  EXPECT_EQ(run("System,SetLng,english").result, 0);
  EXPECT_EQ(session.language, "ENGLISH");
  EXPECT_EQ(textOf(run("System,ConvertErrCode,4000").reply), "No card in the card reader.");
  EXPECT_EQ(run("System,SetLng,KLINGON").result, 0x1203);
  EXPECT_EQ(session.language, "ENGLISH");
}

TEST_F(InterpreterTest, UnknownWordsShowTheRemainingText) {
  EXPECT_EQ(run("Foo,bar").result, 0x1200);
  EXPECT_EQ(run("system,info;frob").result, 0);
  EXPECT_EQ(run("System,frob,x").result, 0x1200);
  EXPECT_EQ(env.messages,
            (std::vector<std::string>{"Invalid comand|FOO,BAR", "Invalid comand|FROB,X"}));
  EXPECT_EQ(session.errorText, "1200");
}

TEST_F(InterpreterTest, LongLinesAreCutTo250) {
  const std::string head = "System,Info" + std::string(250 - 11 - 6, ',');
  EXPECT_EQ(textOf(run(head + "Handle").reply), "7");
  // Two characters more push the property name across the cut: what is left
  // of it names nothing, and the whole listing answers.
  const std::string cut = textOf(run(head + ",,Handle" + std::string(42, 'x')).reply);
  EXPECT_TRUE(cut.starts_with("Handle=7\r\nLng=GERMAN\r\n")) << cut;
}

TEST_F(InterpreterTest, NotificationTargets) {
  EXPECT_EQ(run("System,AddHWndMsg,100,1025").result, 0);
  EXPECT_EQ(run("System,AddHWndMsg,200,1026").result, 0);
  EXPECT_EQ(run("System,AddHWndMsg,100,1030").result, 0);
  EXPECT_EQ(session.registrations, (std::vector<TTaskWnd>{{100, 1030}, {200, 1026}}));
  EXPECT_EQ(run("System,DelHWnd,100").result, 0);
  EXPECT_EQ(session.registrations, (std::vector<TTaskWnd>{{200, 1026}}));
}

TEST_F(InterpreterTest, ServerServices) {
  Session other;
  other.handle = 9;
  env.sessionList.push_back(&other);
  env.readers[9] = {"CardMan", 2};
  EXPECT_EQ(textOf(run("System,TaskList").reply), "-,\r\n-,'CardMan' an COM2\r\n");
  EXPECT_EQ(run("System,XECO,1").result, 0);
  EXPECT_EQ(run("System,Destroy").result, 0);
  EXPECT_EQ(env.screenSaver, std::vector<std::int32_t>{1});
  EXPECT_EQ(env.destroyed, std::vector<std::int32_t>{7});

  EXPECT_EQ(run("Device,SearchComPort,3,FAST,SELECT").result, 0x1008);
  EXPECT_EQ(run("Device,SearchComPort").result, 0);
  EXPECT_EQ(env.searches,
            (std::vector<FakeEnvironment::Search>{{3, true, true}, {std::nullopt, false, false}}));
  EXPECT_EQ(env.readerListLoads, 2);
  EXPECT_EQ(run("System,Info").result, 0);
  EXPECT_EQ(env.readerListLoads, 2);  // System never needs the readers
}

TEST_F(InterpreterTest, ReaderWishesAndSelection) {
  session.explicitSelect = true;
  EXPECT_EQ(run("Device,Select,-1").result, 0);
  EXPECT_FALSE(session.explicitSelect);
  EXPECT_EQ(run("Device,SetMode,NOSYNC").result, 0);
  EXPECT_EQ(run("Device,SetMode,NOASYNC").result, 0);
  EXPECT_TRUE(session.noSync && session.noAsync);
  EXPECT_EQ(run("Device,SetMode,SYNC").result, 0);
  EXPECT_EQ(run("Device,SetMode,FOO").result, 0x1203);
  EXPECT_FALSE(session.noSync);
  EXPECT_TRUE(session.noAsync);
  EXPECT_EQ(run("Device,SetMode,ASYNC").result, 0);
  EXPECT_FALSE(session.noAsync);
}

}  // namespace
}  // namespace k52::chiphost
