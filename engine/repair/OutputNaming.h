// Names of the files a repair writes beside the recording.
#pragma once

#include "platform/FileOperations.h"

#include <string>

namespace clipwright {

struct OutputNames {
    std::string directoryPrefix; // up to and including the separator before the file name
    std::string fixName;         // the output folder + "fix_" + fileName
    std::string temporaryName;   // directoryPrefix + "tmp_" + fileName
    std::string companionPath;   // the recording's ".sub" file
    std::string companionCopy;   // the output folder + "fix_" + companion name
    std::string outputPrefix;    // the output folder, up to and including its last separator
};

// Paths are kept whole, however long: a shortened path could name another file. New files go into
// `outputFolder` when one is given; the temporary name always stands beside the recording.
OutputNames MakeOutputNames(const std::string& path, const std::string& fileName,
                            const std::string& outputFolder = {});

// Copies the recording's companion file to its fix_ name, when there is one that nobody else holds
// open. True when it was copied.
bool CopyCompanionFile(const OutputNames& names);

// `fileName` less its last four characters (the extension, in normal use), plus ".sub".
std::string CompanionName(const std::string& fileName);

} // namespace clipwright
