#include "Messages.h"

#include <system_error>

namespace clipwright::messages {

namespace {

std::string Quoted(const std::string& path) {
    size_t separator = path.rfind('/');
    return "\"" + (separator == std::string::npos ? path : path.substr(separator + 1)) + "\"";
}

std::string Reason(int systemError) {
    return std::error_code(systemError, std::generic_category()).message();
}

} // namespace

std::string RecordingTooLarge() {
    return "This recording is 2 GB or larger. Clipwright repairs recordings smaller than 2 GB only, so the "
           "recording was left as it was.";
}

std::string CopyToFixNameFailed(const std::string& fixName, int systemError) {
    return "The recording could not be copied to " + Quoted(fixName) + " (" + Reason(systemError) +
           "). Nothing was repaired, and the recording was left as it was.";
}

std::string MoveToTemporaryNameFailed(const std::string& temporaryName, int systemError) {
    return "The recording could not be renamed to " + Quoted(temporaryName) + " for the repair (" +
           Reason(systemError) +
           "). The recording was left as it was. If an earlier repair left that file behind, move it away "
           "and try again, or choose \"Make new file\".";
}

std::string OutputNotCreated(const std::string& outputPath) {
    return "The repaired file " + Quoted(outputPath) +
           " could not be created. The recording was left as it was.";
}

std::string NoRecordingData() {
    return "No recording data was found in this file. Nothing was written.";
}

std::string NoRecordingDataInPlace() {
    return "No recording data was found in this file.";
}

std::string CopyStopped(const std::string& reason, uint64_t offset, bool recordingRestored) {
    std::string text = "The repair stopped at offset " + std::to_string(offset) + ": " + reason + ".";
    if (recordingRestored)
        return text + " The recording was left as it was.";
    return text + " The new file holds what was copied before that point.";
}

std::string ReplacingThroughLink() {
    return "This recording is a symbolic link to a file in another place. \"Replace original file\" would "
           "change that file, so nothing was changed. Choose \"Make new file\" to repair it.";
}

std::string OutOfMemory() {
    return "There was not enough memory to repair this recording. The recording was left as it was.";
}

} // namespace clipwright::messages
