// What `clipwright-cli --scan` prints: one summary line for each recording written or not, and
// with --check a few lines of text, or one JSON object a line, for each recording it would write
// (the JSON fields are documented in docs/check-json.md).
#pragma once

#include "repair/RecordingScan.h"

#include <string>

namespace clipwright::cli {

// "FILE: AVI form at byte N to M -> OUT: ..." for one recording found.
std::string ScanSummary(const std::string& path, const ScanItemOutcome& item);

std::string ScanCheckText(const ScanCheck& check);
std::string ScanCheckJson(const ScanCheck& check);
// True when a recording was found and every one would be written whole.
bool PassesScanCheck(const ScanCheck& check);

} // namespace clipwright::cli
