// What the engine reports, in the words the program shows. Both front ends and the tests say an
// event the same way.
#pragma once

#include "repair/EngineEvent.h"

#include <string>

namespace clipwright {

// The sentence for `event`, without the file it concerns: hosts name that as they do.
std::string EventText(const EngineEvent& event);

} // namespace clipwright
