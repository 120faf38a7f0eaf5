// A server around the interpreter for tests: the shipped error text file, a
// session list the test fills, and a record of what the interpreter asked.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "chiphost/core/environment.h"
#include "chiphost/core/excpt.h"

namespace k52::chiphost {

class FakeEnvironment : public ServerEnvironment {
 public:
  FakeEnvironment() : texts_(ErrorTexts::load(K52_CHIPHOST_CORE_DIR)) {}

  const ErrorTexts& errorTexts() override { return texts_; }
  std::vector<const Session*> sessions() override {
    return {sessionList.begin(), sessionList.end()};
  }
  std::string title(const Session& s) override {
    const auto t = titles.find(s.handle);
    return t == titles.end() ? "-" : t->second;
  }
  std::optional<ReaderLabel> reader(const Session& s) override {
    const auto r = readers.find(s.handle);
    return r == readers.end() ? std::nullopt : std::optional(r->second);
  }
  void destroySession(Session& s) override { destroyed.push_back(s.handle); }
  void loadReaderList() override { ++readerListLoads; }
  void searchComPort(Session&, std::optional<int> port, bool fast, bool select) override {
    searches.push_back({port, fast, select});
    // A port without a reader leaves its new reader object in state error.
    if (port) throw Excpt("1008");
  }
  void showMessage(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + "|" + std::string(text));
  }
  void setScreenSaverRunning(std::int32_t n) override { screenSaver.push_back(n); }

  struct Search {
    std::optional<int> port;
    bool fast, select;
    bool operator==(const Search&) const = default;
  };

  std::vector<Session*> sessionList;
  std::map<std::int32_t, std::string> titles;
  std::map<std::int32_t, ReaderLabel> readers;
  std::vector<std::int32_t> destroyed;
  int readerListLoads = 0;
  std::vector<Search> searches;
  std::vector<std::string> messages;
  std::vector<std::int32_t> screenSaver;

 private:
  ErrorTexts texts_;
};

}  // namespace k52::chiphost
