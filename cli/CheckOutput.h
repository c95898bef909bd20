// What `clipwright-cli --check` prints of a recording: a few lines of text, or one JSON object on
// one line (its fields are documented in docs/check-json.md).
#pragma once

#include "repair/RecordingCheck.h"

#include <string>

namespace clipwright::cli {

std::string CheckText(const CheckReport& report);
std::string CheckJson(const CheckReport& report);

// True when a repair of the recording is not needed or would complete: the check exits 0.
bool PassesCheck(const CheckReport& report);

} // namespace clipwright::cli
