// The method dispatchers of the four objects. Each matches the method word
// against its methods in table order and runs it; an unknown word with text
// remaining raises "1200".
#pragma once

#include "chiphost/core/command_context.h"
#include "chiphost/core/environment.h"
#include "chiphost/core/session.h"

namespace k52::chiphost {

struct ObjectCall {
  CommandContext& ctx;
  Session& session;
  ServerEnvironment& env;
};

void runSystem(ObjectCall call);
void runDevice(ObjectCall call);
void runCard(ObjectCall call);
void runApps(ObjectCall call);

// A method of an object: its word and what it does.
struct Method {
  std::string_view word;
  void (*run)(ObjectCall call);
};

// Runs the first method whose word the text begins with; "1200" when none
// matches and text remains.
void dispatch(ObjectCall call, std::span<const Method> methods);

// The access check of a card or reader operation. There is no reader for the
// session yet, so it always raises "1008".
[[noreturn]] void requireReader();

}  // namespace k52::chiphost
