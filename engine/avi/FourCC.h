// Four-character codes of RIFF chunks, lists and stream types.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

namespace clipwright {

class FourCC {
public:
    constexpr FourCC() = default;
    // Four characters exactly, as they stand in the file: FourCC("00dc").
    consteval FourCC(const char (&text)[5]) // NOLINT(google-explicit-constructor)
        : bytes_{static_cast<uint8_t>(text[0]), static_cast<uint8_t>(text[1]), static_cast<uint8_t>(text[2]),
                 static_cast<uint8_t>(text[3])} {}

    static constexpr FourCC FromBytes(const uint8_t* data) {
        FourCC code;
        for (size_t i = 0; i < 4; ++i)
            code.bytes_[i] = data[i];
        return code;
    }

    constexpr const std::array<uint8_t, 4>& Bytes() const { return bytes_; }
    // Byte by byte, which compilers make one 32-bit compare: the array's own operator calls memcmp,
    // and a walk compares ids several times a chunk.
    constexpr bool operator==(const FourCC& other) const {
        return bytes_[0] == other.bytes_[0] && bytes_[1] == other.bytes_[1] && bytes_[2] == other.bytes_[2] &&
               bytes_[3] == other.bytes_[3];
    }
    // The order of the bytes as they stand, first byte first.
    constexpr uint32_t SortKey() const {
        return uint32_t{bytes_[0]} << 24 | uint32_t{bytes_[1]} << 16 | uint32_t{bytes_[2]} << 8 | bytes_[3];
    }

    // Printable form for messages: '00dc', with unprintable bytes as '?'.
    std::string Quoted() const {
        std::string text = "'";
        for (uint8_t byte : bytes_)
            text += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '?';
        return text + "'";
    }

private:
    std::array<uint8_t, 4> bytes_{};
};

inline std::ostream& operator<<(std::ostream& out, const FourCC& code) {
    return out << code.Quoted();
}

namespace fourcc {
inline constexpr FourCC kRiff("RIFF");
inline constexpr FourCC kAvi("AVI ");
inline constexpr FourCC kList("LIST");
inline constexpr FourCC kHdrl("hdrl");
inline constexpr FourCC kAvih("avih");
inline constexpr FourCC kStrl("strl");
inline constexpr FourCC kStrh("strh");
inline constexpr FourCC kStrf("strf");
inline constexpr FourCC kMovi("movi");
inline constexpr FourCC kIdx1("idx1");
inline constexpr FourCC kJunk("JUNK");
inline constexpr FourCC kOdml("odml");
inline constexpr FourCC kDmlh("dmlh");
inline constexpr FourCC kIndx("indx");
inline constexpr FourCC kRec("rec ");
inline constexpr FourCC kAvix("AVIX");
inline constexpr FourCC kTxts("txts");
inline constexpr FourCC kVids("vids");
inline constexpr FourCC kAuds("auds");
inline constexpr FourCC kDivx("DIVX");
inline constexpr FourCC kDx50("DX50");
inline constexpr FourCC kVideo00db("00db");
inline constexpr FourCC kVideo00dc("00dc");
inline constexpr FourCC kVideo01db("01db");
inline constexpr FourCC kVideo01dc("01dc");
inline constexpr FourCC kAudio00wb("00wb");
inline constexpr FourCC kAudio01wb("01wb");
} // namespace fourcc

} // namespace clipwright
