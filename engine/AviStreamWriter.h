// Writes a rebuilt recording as a new AVI file: a video stream of MPEG-4 frames ('DX50') and an
// MS-ADPCM audio stream (8000 Hz, mono), each created when its first chunk arrives.
//
// Every write reports the library's result code; after the first failed library call of an output
// the writer refuses all further writes to it. Callers may ignore the results: the writer stays
// consistent, and OutputComplete tells afterwards whether the file came out whole.
#pragma once

#include <cstdint>

#include "AviFileLibrary.h"
#include "ImageSettings.h"

namespace clipwright {

class AviStreamWriter {
public:
    AviStreamWriter();

    // Frame size from the resolution code and a rate of whole frames per second.
    void SetImageFormat(ResolutionCode code, uint32_t framesPerSecond);
    // Creates or empties the file. 1 when the output is open, 0 when not (null path included).
    int OpenOutput(const char* path);
    // Size and key-frame flag of the next video write.
    void SetFrameInfo(uint32_t size, uint8_t notKeyFrame);
    // withData 0 writes an empty sample: a frame that repeats the one before it.
    // An odd frame size is written one byte longer, so data must hold the even count.
    uint32_t WriteVideoFrame(const uint8_t* data, int32_t withData);
    uint32_t WriteAudioBlock(const uint8_t* data, uint32_t byteCount);
    // Finishes and closes the output; does nothing when none is open.
    void CloseOutput();

    const AviStreamInfo& VideoInfo() const { return videoInfo; }
    const BitmapInfoHeader& VideoFormat() const { return videoFormat; }
    avilib::OutputFile* OutputFile() const { return outputFile; }
    const AdpcmWaveFormat& AudioFormat() const { return audioFormat; }
    avilib::Stream* AudioStream() const { return audioStream; }
    avilib::Stream* VideoStream() const { return videoStream; }
    int32_t VideoPosition() const { return videoPosition; }
    int32_t AudioPosition() const { return audioPosition; }
    bool WriteFailed() const { return writeFailed; }
    // True when the last CloseOutput finished a file whose every write and whose close succeeded;
    // false while an output is open.
    bool OutputComplete() const { return outputComplete; }

private:
    AviResult CreateVideoStream();
    AviResult CreateAudioStream();

    AviStreamInfo videoInfo; // also holds the pending frame: dwLength its size, dwFlags its flags
    BitmapInfoHeader videoFormat;
    avilib::OutputFile* outputFile = nullptr;
    AdpcmWaveFormat audioFormat; // filled afresh by each OpenOutput
    avilib::Stream* audioStream = nullptr;
    avilib::Stream* videoStream = nullptr;
    int32_t videoPosition = 0;
    int32_t audioPosition = 0;
    bool writeFailed = false;

    bool anyWriteRefused = false; // any write of this output that did not return OK
    bool outputComplete = false;
};

} // namespace clipwright
