// What the engine reports, in the words the program shows. Both front ends and the tests say an
// event the same way.
#pragma once

#include "repair/EngineEvent.h"

#include <string>

namespace clipwright {

// The sentence for `event`, without the file it concerns: hosts name that as they do.
std::string EventText(const EngineEvent& event);
// The same without the "ERROR: " the desktop program's file-error sentences begin with: a command
// line names its program instead.
std::string PlainEventText(const EngineEvent& event);
// A name for the code that stays the same from one version to the next, for scripts.
const char* EventCodeName(EventCode code);

} // namespace clipwright
