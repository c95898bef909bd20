// Names of the files a repair writes beside the recording, and the file operations that make them.
#pragma once

#include <string>

namespace clipwright {

struct OutputNames {
    std::string directoryPrefix; // up to and including the separator before the file name
    std::string fixName;         // directoryPrefix + "fix_" + fileName
    std::string temporaryName;   // directoryPrefix + "tmp_" + fileName
    std::string companionPath;   // the recording's ".sub" file
    std::string companionCopy;   // directoryPrefix + "fix_" + companion name
};

// Paths are kept whole, however long: a shortened path could name another file.
OutputNames MakeOutputNames(const std::string& path, const std::string& fileName);

// `fileName` less its last four characters (the extension, in normal use), plus ".sub".
std::string CompanionName(const std::string& fileName);

// Copies `from` to `to`, replacing a file of that name. The copy is written under a hidden name
// first and renamed into place, so `to` is never truncated in place: were it a hard or symbolic
// link to the recording, the recording would be lost. Returns 0, or the errno of the failure.
int CopyFileReplacing(const std::string& from, const std::string& to);

// Renames `from` to `to`, replacing what stands there (a link is replaced, never followed).
// Returns 0, or the errno of the failure.
int RenameReplacing(const std::string& from, const std::string& to);

// Renames `from` to `to` only when `to` does not exist. Returns 0, or the errno of the failure.
int MoveFileNoReplace(const std::string& from, const std::string& to);

// Removes a file; the outcome is not needed by callers.
void DeleteFileQuietly(const std::string& path);

// The hidden name a new file is written under before it is renamed to `target`.
std::string PartialName(const std::string& target);

} // namespace clipwright
