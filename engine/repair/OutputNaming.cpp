#include "repair/OutputNaming.h"

#include "platform/SourceFile.h"

namespace clipwright {

namespace {

constexpr const char* kFixPrefix = "fix_";
constexpr const char* kTemporaryPrefix = "tmp_";
constexpr const char* kCompanionExtension = ".sub";

std::string DirectoryPrefix(const std::string& path) {
    size_t separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

} // namespace

OutputNames MakeOutputNames(const std::string& path, const std::string& fileName,
                            const std::string& outputFolder) {
    OutputNames names;
    names.directoryPrefix = DirectoryPrefix(path);
    names.outputPrefix = outputFolder.empty()          ? names.directoryPrefix
                         : outputFolder.ends_with('/') ? outputFolder
                                                       : outputFolder + "/";
    names.fixName = names.outputPrefix + kFixPrefix + fileName;
    names.temporaryName = names.directoryPrefix + kTemporaryPrefix + fileName;
    std::string companion = CompanionName(fileName);
    names.companionPath = names.directoryPrefix + companion;
    names.companionCopy = names.outputPrefix + kFixPrefix + companion;
    return names;
}

bool CopyCompanionFile(const OutputNames& names) {
    SourceFile companion;
    FileError notShown;
    // Only a companion that nobody else holds open, and that may be written, is copied.
    if (!companion.Open(names.companionPath, ShareMode::Exclusive, notShown))
        return false;
    // Its close cannot lose anything: the companion was not written.
    companion.Abandon();
    return CopyFileReplacing(names.companionPath, names.companionCopy) == 0;
}

std::string CompanionName(const std::string& fileName) {
    std::string stem = fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    return stem + kCompanionExtension;
}

} // namespace clipwright
