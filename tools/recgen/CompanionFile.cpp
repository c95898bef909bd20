#include "CompanionFile.h"

#include "OutputFile.h"

#include <iterator>
#include <string>

namespace clipwright::recgen {

std::filesystem::path CompanionPathFor(const std::filesystem::path& recording) {
    std::filesystem::path companion = recording;
    companion.replace_extension(".sub");
    return companion;
}

std::vector<uint8_t> SampleCompanionBytes(const std::filesystem::path& recording) {
    const std::string text = "QC-7 companion of " + recording.filename().string() + "\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    // A few bytes outside text, so a copy that mangles binary data shows.
    constexpr uint8_t kBinaryTail[] = {0x00, 0xFF, 0x0D, 0x0A, 0x1A};
    bytes.insert(bytes.end(), std::begin(kBinaryTail), std::end(kBinaryTail));
    return bytes;
}

std::filesystem::path WriteCompanionFile(const std::filesystem::path& recording,
                                         std::span<const uint8_t> bytes) {
    const std::filesystem::path companion = CompanionPathFor(recording);
    OutputFile file(companion);
    file.Append(bytes);
    file.Close();
    return companion;
}

} // namespace clipwright::recgen
