// Object Apps: the card applications. Every command first needs a usable
// card, as for Card Lock; without a reader none gets further.
#include "chiphost/core/objects.h"

namespace k52::chiphost {

void runApps(ObjectCall call) {
  call.env.loadReaderList();
  requireReader();
}

}  // namespace k52::chiphost
