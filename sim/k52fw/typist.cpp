#include "sim/k52fw/typist.h"

namespace k52::sim {

void typeKeys(Timeline& timeline, const std::vector<KeypadKey>& keys,
              const std::function<void(KeypadKey)>& press) {
  Duration delay = kKeyGap;
  for (const auto key : keys) {
    timeline.schedule(delay, [press, key] { press(key); });
    delay += kKeyGap;
  }
}

}  // namespace k52::sim
