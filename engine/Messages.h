// What the engine tells the user, other than the fixed file-error sentences.
#pragma once

#include <string>

namespace clipwright::messages {

std::string RecordingTooLarge();
std::string CopyToFixNameFailed(const std::string& fixName, int systemError);
std::string MoveToTemporaryNameFailed(const std::string& temporaryName, int systemError);
std::string OutputNotCreated(const std::string& outputPath);
std::string NoRecordingData();
std::string NoRecordingDataInPlace();
std::string CopyStopped(const std::string& reason, uint64_t offset, bool recordingRestored);
std::string OutOfMemory();
std::string ReplacingThroughLink();

} // namespace clipwright::messages
