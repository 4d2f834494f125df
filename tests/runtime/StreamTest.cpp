// The memory stream: bytes kept exactly wherever they are written, gaps and
// growth by SetSize reading as zero bytes, and direct writing through a window.
#include <gtest/gtest.h>

#include <string>

#include "Classes.h"

namespace {

TEST(MemoryStream, WritesSeeksAndSizesKeepTheBytesExact) {
    struct Case {
        const char* name;
        void (*steps)(TMemoryStream&);
        std::string bytes;
        int64_t position;
    };
    const Case cases[] = {
        {"overwrite in the middle, then past the end",
         [](TMemoryStream& s) {
             s.WriteBuffer("abcdef", 6);
             s.SetPosition(4);
             s.WriteBuffer("XYZ", 3);
         },
         "abcdXYZ", 7},
        {"a seek past the end leaves a gap of zero bytes",
         [](TMemoryStream& s) {
             s.WriteBuffer("ab", 2);
             s.SetPosition(5);
             s.WriteBuffer("c", 1);
         },
         std::string("ab\0\0\0c", 6), 6},
        {"SetSize cuts and grows with zero bytes, keeping the position in range",
         [](TMemoryStream& s) {
             s.WriteBuffer("abcdef", 6);
             s.SetSize(2);
             s.SetSize(4);
         },
         std::string("ab\0\0", 4), 2},
        {"a reserve changes nothing that can be read",
         [](TMemoryStream& s) {
             s.WriteBuffer("ab", 2);
             s.Reserve(int64_t{1} << 40);
         },
         "ab", 2},
        {"bytes put through a window count only as far as committed",
         [](TMemoryStream& s) {
             s.WriteBuffer("ab", 2);
             uint8_t* room = s.WriteWindow(100);
             room[0] = 'c';
             room[1] = 'd';
             s.CommitWindow(2);
         },
         "abcd", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream stream;
        c.steps(stream);
        EXPECT_EQ(stream.Bytes(), c.bytes);
        EXPECT_EQ(stream.Size(), static_cast<int64_t>(c.bytes.size()));
        EXPECT_EQ(stream.Position(), c.position);
    }
}

TEST(MemoryStream, GrowsAcrossManyWritesAndReadsBack) {
    TMemoryStream stream;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const std::string piece = std::to_string(i) + std::string(static_cast<size_t>(i % 97), static_cast<char>(i));
        stream.WriteBuffer(piece.data(), static_cast<int32_t>(piece.size()));
        expected += piece;
    }
    EXPECT_LE(stream.Capacity(), static_cast<int64_t>(expected.size()) * 2 + 4096);
    stream.SetPosition(0);
    std::string back(expected.size(), '\0');
    EXPECT_EQ(stream.Read(&back[0], static_cast<int32_t>(back.size())), static_cast<int32_t>(back.size()));
    EXPECT_TRUE(back == expected);
    EXPECT_EQ(stream.Read(&back[0], 1), 0);
}

}  // namespace
