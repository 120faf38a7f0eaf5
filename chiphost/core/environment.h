// What the interpreter needs from the server around it. The server loop
// implements this; tests use a double.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chiphost/core/error_texts.h"
#include "chiphost/core/session.h"

namespace k52::chiphost {

// The reader a session uses, as TaskList names it.
struct ReaderLabel {
  std::string typeName;
  int port = 0;
};

class ServerEnvironment {
 public:
  virtual ~ServerEnvironment() = default;

  // The texts of "SCARD.ERR" in the program's directory.
  virtual const ErrorTexts& errorTexts() = 0;

  // The session list in creation order.
  virtual std::vector<const Session*> sessions() = 0;
  // The session's title: the text of its client's first visible, unowned
  // top-level window, "-" when there is none.
  virtual std::string title(const Session& session) = 0;
  // The reader the session uses, if any.
  virtual std::optional<ReaderLabel> reader(const Session& session) = 0;
  // Ends the session (System Destroy): lists, locks, registrations, 310.
  virtual void destroySession(Session& session) = 0;

  // Loads the stored reader list; called before every Device, Card and Apps
  // command, the server does the work once per run.
  virtual void loadReaderList() = 0;
  // Device SearchComPort: `port` 1..15, or nullopt for the scan of all ports.
  // Raises the errors of the search ("1008" when the reader is in error).
  virtual void searchComPort(Session& session, std::optional<int> port, bool fast, bool select) = 0;

  // A modal message box (the one for an unknown command word).
  virtual void showMessage(std::string_view caption, std::string_view text) = 0;
  // System XECO: SystemParametersInfoA(97, n, ...), the screen-saver-running
  // flag.
  virtual void setScreenSaverRunning(std::int32_t n) = 0;
};

}  // namespace k52::chiphost
