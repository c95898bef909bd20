// The '.sub' file a camera leaves beside a recording: NAME.avi -> NAME.sub.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace clipwright::recgen {

std::filesystem::path CompanionPathFor(const std::filesystem::path& recording);

// A few recognisable bytes, different for every recording name.
std::vector<uint8_t> SampleCompanionBytes(const std::filesystem::path& recording);

// Writes the companion beside the recording and returns its path.
std::filesystem::path WriteCompanionFile(const std::filesystem::path& recording,
                                         std::span<const uint8_t> bytes);

} // namespace clipwright::recgen
