// Block reads of a real file, for a repair and for the read-only look: whatever the order and size of the
// reads, the bytes are the file's, and fewer come back only at its end.
#include "platform/ReadAhead.h"
#include "TestFiles.h"
#include "platform/ReadOnlyFile.h"

#include <gtest/gtest.h>

#include <random>

namespace clipwright::test {
namespace {

TEST(ReadAhead, GivesTheFilesBytesForWalksJumpsAndViewsOfEverySize) {
    ScratchDir dir;
    Bytes content(20000);
    std::mt19937 random(7);
    for (uint8_t& byte : content)
        byte = static_cast<uint8_t>(random());
    WriteBytes(dir / "file", content);
    SourceFile file;
    FileError error;
    ASSERT_TRUE(file.Open((dir / "file").string(), ShareMode::DenyNone, error));

    struct Case {
        size_t block, keptBehind;
    };
    for (const Case& c : {Case{256, 0}, Case{256, 64}, Case{256, 255}, Case{4096, 1024}}) {
        SCOPED_TRACE("block " + std::to_string(c.block) + ", kept behind " + std::to_string(c.keptBehind));
        ReadAhead source(file, c.block, c.keptBehind);
        uint64_t position = 0;
        for (int step = 0; step < 5000; ++step) {
            // Mostly forward by a chunk's length, as a walk goes; now and then anywhere.
            const uint32_t move = static_cast<uint32_t>(random() % 8);
            position = move == 0 ? random() % (content.size() + 10) : position + random() % 300;
            if (position > content.size() + 10)
                position = random() % content.size();
            const size_t count = random() % (c.block + 20);
            const size_t expected =
                position >= content.size() ? 0 : std::min(count, content.size() - position);
            Bytes got(count);
            if (random() % 2 == 0) {
                ASSERT_EQ(source.ReadAt(position, got.data(), count), expected) << position << " " << count;
            } else {
                const uint8_t* view = source.View(position, count);
                ASSERT_EQ(view != nullptr, count <= c.block && expected == count) << position << " " << count;
                if (view == nullptr)
                    continue;
                std::copy_n(view, count, got.begin());
            }
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<ptrdiff_t>(expected),
                                   content.begin() + static_cast<ptrdiff_t>(position)))
                << position << " " << count;
        }
    }
}

// The read-only look keeps a block and the small read before it: walks over long chunks, which
// read a header, the header behind it and then the first one's payload, get the file's bytes.
TEST(ReadOnlyFile, GivesTheFilesBytesForWalksOverLongAndShortChunks) {
    ScratchDir dir;
    Bytes content(3 << 20);
    std::mt19937 random(11);
    for (uint8_t& byte : content)
        byte = static_cast<uint8_t>(random());
    WriteBytes(dir / "file", content);
    ReadOnlyFile file;
    FileError error;
    ASSERT_TRUE(file.Open((dir / "file").string(), error));
    const auto expectBytes = [&](uint64_t position, size_t count) {
        const size_t expected =
            position >= content.size() ? 0 : std::min<uint64_t>(count, content.size() - position);
        Bytes got(count);
        ASSERT_EQ(file.ReadAt(position, got.data(), count), expected) << position << " " << count;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<ptrdiff_t>(expected),
                               content.begin() + static_cast<ptrdiff_t>(position)))
            << position << " " << count;
    };
    uint64_t position = 0;
    for (int step = 0; step < 20000; ++step) {
        // Long chunks for a while, then short ones; now and then a jump anywhere.
        const bool far = (step / 500) % 2 == 0;
        const uint64_t next =
            random() % 50 == 0 ? random() % content.size() : position + 8 + random() % (far ? 40000 : 400);
        expectBytes(position, 12);
        expectBytes(next, 12);
        expectBytes(position + 8, random() % 700);
        position = next % content.size();
    }
}

} // namespace
} // namespace clipwright::test
