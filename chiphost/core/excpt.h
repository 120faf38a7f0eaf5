// The card server's error value: a code text of four digits read as
// hexadecimal ("1203" is 0x1203), optionally followed by comma-separated
// arguments ("1009,Editor"). Raised anywhere below the interpreter and caught
// once, in the interpreter.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace k52::chiphost {

class Excpt : public std::runtime_error {
 public:
  explicit Excpt(const std::string& text) : std::runtime_error(text) {}
  std::string text() const { return what(); }
};

}  // namespace k52::chiphost
