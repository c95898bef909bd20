// What a generated recording looks like: its header block going in, and its state when it is closed.
#pragma once

#include "avi/FourCC.h"

#include <cstdint>

namespace clipwright::recgen {

enum class HeaderLayout {
    Standard,   // movi LIST at 2048, 'movi' at 2056, first chunk at 2060
    Shifted,    // movi LIST at 2036, first chunk at 2048
    HeaderLost, // no header block: filler up to the data start, then chunks
    OtherList,  // LIST at 2048 whose list type is not 'movi'
};

enum class AudioHeaderPlace {
    At488,      // audio strh fccType 'auds' at 488, its dwLength at 520
    ShiftedBy8, // the audio stream list begins 8 bytes later: no 'auds' at 488, dwLength at 528
};

enum class LostHeaderFill {
    Zeros,
    Garbage, // pseudo-random bytes, neither 'RIFF' nor any '0' byte, so no '0','0','d' run
};

struct HeaderOptions {
    HeaderLayout layout = HeaderLayout::Standard;
    uint32_t width = 640;       // avih dwWidth, strh rcFrame, strf biWidth
    uint32_t height = 480;      // avih dwHeight, strh rcFrame, strf biHeight
    uint32_t videoScale = 1000; // video strh dwScale
    uint32_t videoRate = 15000; // video strh dwRate
    AudioHeaderPlace audioHeader = AudioHeaderPlace::At488;
    FourCC otherListType = FourCC("rec "); // OtherList only
    uint32_t lostHeaderDataStart = 2048;   // HeaderLost only: where the first chunk stands
    LostHeaderFill lostHeaderFill = LostHeaderFill::Zeros;
};

// A size field of the header, patched when the recording is finished.
struct SizeFieldValue {
    enum class Rule {
        Zero,
        HeaderOnly, // RIFF size covering the header block only, as the camera writes it first
        True,       // what a finalised file holds
        Fixed,      // any chosen value, e.g. a bad one
    };
    Rule rule = Rule::Zero;
    uint32_t fixedValue = 0;

    static SizeFieldValue Zero() { return {Rule::Zero, 0}; }
    static SizeFieldValue HeaderOnly() { return {Rule::HeaderOnly, 0}; }
    static SizeFieldValue True() { return {Rule::True, 0}; }
    static SizeFieldValue Fixed(uint32_t value) { return {Rule::Fixed, value}; }
};

enum class HeaderCounts {
    Zero, // avih dwFlags and dwTotalFrames, both strh dwLength left at 0, as a cut-off recording has them
    True, // flags 0x110, frame count and stream lengths filled in
};

enum class IndexPresence { Missing, Written };

// How the recording is closed. Header fields only exist outside the HeaderLost layout.
struct FinishOptions {
    HeaderCounts counts = HeaderCounts::Zero;
    IndexPresence index = IndexPresence::Missing;
    SizeFieldValue moviSize = SizeFieldValue::Zero(); // size field of the list at the movi position
    SizeFieldValue riffSize = SizeFieldValue::Zero();
    uint64_t cutBytes = 0; // the file is truncated by this many bytes at the very end

    // As the camera leaves a recording when it is cut off.
    static FinishOptions CutOff() { return {}; }
    // As a properly closed recording: counts, movi size, idx1 and RIFF size all true.
    static FinishOptions Finalised() {
        return {HeaderCounts::True, IndexPresence::Written, SizeFieldValue::True(), SizeFieldValue::True(),
                0};
    }
};

} // namespace clipwright::recgen
