#include "repair/OutputNaming.h"

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

OutputNames MakeOutputNames(const std::string& path, const std::string& fileName) {
    OutputNames names;
    names.directoryPrefix = DirectoryPrefix(path);
    names.fixName = names.directoryPrefix + kFixPrefix + fileName;
    names.temporaryName = names.directoryPrefix + kTemporaryPrefix + fileName;
    std::string companion = CompanionName(fileName);
    names.companionPath = names.directoryPrefix + companion;
    names.companionCopy = names.directoryPrefix + kFixPrefix + companion;
    return names;
}

std::string CompanionName(const std::string& fileName) {
    std::string stem = fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
    return stem + kCompanionExtension;
}

} // namespace clipwright
