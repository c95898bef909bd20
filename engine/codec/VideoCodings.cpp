// The codec a video stream's FourCC names, as writers spell it: upper or lower case, in the
// format's compression code or in the stream header's handler.
#include "codec/KeyFrames.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>

namespace clipwright::codec {

namespace {

FourCC Uppercase(const FourCC& code) {
    std::array<uint8_t, 4> bytes = code.Bytes();
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(std::toupper(byte));
    return FourCC::FromBytes(bytes.data());
}

struct Named {
    VideoCoding coding;
    std::initializer_list<FourCC> codes; // upper case
};

// Only codes whose bitstream is known for certain: any other codec is Unread, never guessed.
const std::initializer_list<Named> kNames = {
    {VideoCoding::Mpeg4Visual,
     {"FMP4", "XVID", "DIVX", "DX50", "MP4V", "M4S2", "MP4S", "3IV2", "XVIX", "UMP4", "BLZ0", "RMP4", "SEDG",
      "WV1F", "DXGM"}},
    {VideoCoding::H264, {"H264", "X264", "AVC1", "DAVC", "VSSH", "AVC "}},
    {VideoCoding::Hevc, {"HEVC", "H265", "X265", "HEV1", "HVC1"}},
    {VideoCoding::Mpeg12,
     {"MPG1", "MPG2", "MPEG", "PIM1", "PIM2", "MPGV", "MMES", "MX3P", "MX4P", "MX5P", "MX3N", "MX4N",
      "MX5N"}},
    {VideoCoding::H263, {"H263", "X263", "T263", "L263", "M263", "U263"}},
    {VideoCoding::MsMpeg4v1, {"MPG4", "MP41"}},
    {VideoCoding::MsMpeg4,
     {"MP42", "DIV2", "MP43", "DIV3", "MPG3", "DIV4", "DIV5", "DIV6", "DVX3", "AP41", "COL0", "COL1",
      "WMV1"}},
    {VideoCoding::Wmv2, {"WMV2"}},
    {VideoCoding::Ffv1, {"FFV1"}},
    {VideoCoding::Vp8, {"VP80"}},
    {VideoCoding::Vp9, {"VP90"}},
    {VideoCoding::Intra,
     {// Motion JPEG and lossless JPEG
      "MJPG", "JPEG", "AVRN", "AVDJ", "LJPG", "JPGL", "MJLS", "DMB1", "IJPG", "MJPA", "MJPB",
      // JPEG 2000, PNG
      "MJ2C", "MJP2", "PNG ", "MPNG",
      // huffyuv, FFVHuff, Lagarith, MagicYUV, Ut Video
      "HFYU", "FFVH", "LAGS", "MAGY", "ULRG", "ULRA", "ULY0", "ULY2", "ULY4", "ULH0", "ULH2", "ULH4", "UQY0",
      "UQY2", "UQRG", "UQRA", "UMY2", "UMY4", "UMH2", "UMH4", "UMRG", "UMRA",
      // DV, ProRes, DNxHD, HAP
      "DVSD", "DVHD", "DVSL", "DV25", "DV50", "DVH1", "CDVC", "CDVH", "APCH", "APCN", "APCS", "APCO", "AP4H",
      "AP4X", "AVDN", "HAP1", "HAP5", "HAPY",
      // pictures stored raw
      "DIB ", "RGB ", "RAW ", "I420", "IYUV", "YV12", "YV16", "YV24", "YUY2", "YUYV", "YUNV", "UYVY", "Y422",
      "HDYC", "Y800", "Y8  ", "GREY", "NV12", "NV21", "V210", "2VUY", "Y41P", "YVU9"}},
};

std::optional<VideoCoding> CodingNamed(const FourCC& code) {
    const FourCC upper = Uppercase(code);
    for (const Named& named : kNames)
        if (std::find(named.codes.begin(), named.codes.end(), upper) != named.codes.end())
            return named.coding;
    return std::nullopt;
}

} // namespace

VideoCoding VideoCodingOf(const FourCC& compression, const FourCC& handler) {
    if (auto coding = CodingNamed(compression))
        return *coding;
    if (auto coding = CodingNamed(handler))
        return *coding;
    // BI_RGB: pictures stored as they are, whatever the handler says.
    if (compression == FourCC())
        return VideoCoding::Intra;
    return VideoCoding::Unread;
}

} // namespace clipwright::codec
