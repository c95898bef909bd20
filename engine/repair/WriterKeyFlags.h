// The key flags a recorder's own indexes gave the chunks they list: its idx1 and the standard
// indexes ('ix##') of its OpenDML parts, where the walk passed them, whole or as far as the file
// holds them. For a codec whose frames do not say which are key frames, these are all that is known.
#pragma once

#include "avi/AviStructure.h"
#include "platform/SourceFile.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace clipwright {

class WriterKeyFlags {
public:
    // `indexes`: where each index chunk stands; `wanted`: by stream number, whose chunks to keep.
    WriterKeyFlags(ByteSource& file, uint64_t fileSize, const AviStructure& structure,
                   const std::vector<uint64_t>& indexes, const std::vector<bool>& wanted);

    // The flag the writer gave the chunk whose header stands at `position`, when it listed it.
    std::optional<bool> KeyAt(uint64_t position) const;

private:
    void ReadIdx1(ByteSource& file, uint64_t position, uint64_t entriesEnd, uint64_t moviType,
                  const std::vector<bool>& wanted);
    void ReadStandardIndex(ByteSource& file, uint64_t position, uint64_t payloadEnd,
                           const std::vector<bool>& wanted);

    std::vector<std::pair<uint64_t, bool>> flags_; // by chunk position
};

} // namespace clipwright
