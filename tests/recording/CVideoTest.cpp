#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "recording/CVideo.h"
#include "tests/support/ScopedTempFolder.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A fresh folder per test for the stream files.
class CVideoTest : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return (folder_.Path() / name).string(); }

    Bytes FileBytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void WriteFile(const std::string& path, const Bytes& bytes) const {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    test::ScopedTempFolder folder_;
};

Bytes Pattern(std::size_t size, std::uint8_t from) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(from + i);
    return b;
}

// --- Writing -----------------------------------------------------------------

TEST_F(CVideoTest, RecordIsHeaderThenPayload) {
    struct Case {
        const char* name;
        std::uint32_t length;
        std::uint8_t key_flag;
        int kind;
        Bytes header;
    };
    const Case cases[] = {
        {"key video frame", 10, 1, 1, {0x0A, 0x00, 0x01, 0x01}},
        {"audio pages", 4000, 0, 3, {0xA0, 0x0F, 0x00, 0x03}},
        {"empty header record", 0, 1, 3, {0x00, 0x00, 0x01, 0x03}},
        {"longest payload", 65535, 0, 255, {0xFF, 0xFF, 0x00, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = PathOf("one.str");
        const Bytes payload = Pattern(c.length, 7);
        {
            CVideo file(path, CVideo::Mode::Write);
            ASSERT_TRUE(file.IsOpen());
            EXPECT_TRUE(file.WriteRecord(c.length, payload.data(), c.key_flag, c.kind));
        }
        Bytes expected = c.header;
        expected.insert(expected.end(), payload.begin(), payload.end());
        EXPECT_EQ(FileBytes(path), expected);
    }
}

// A longer payload would spill its length into the key flag and kind bytes.
TEST_F(CVideoTest, PayloadLongerThanARecordIsRefused) {
    const std::string path = PathOf("long.str");
    const Bytes big(65536, 0xAB);
    const Bytes small = Pattern(5, 1);
    {
        CVideo file(path, CVideo::Mode::Write);
        EXPECT_FALSE(file.WriteRecord(65536, big.data(), 1, 1));
        EXPECT_TRUE(file.WriteRecord(5, small.data(), 0, 3));
    }
    EXPECT_EQ(FileBytes(path), (Bytes{5, 0, 0, 3, 1, 2, 3, 4, 5}));
}

TEST_F(CVideoTest, WriteTruncatesAnExistingFile) {
    const std::string path = PathOf("old.str");
    WriteFile(path, Bytes(100, 0xEE));
    { CVideo file(path, CVideo::Mode::Write); }
    EXPECT_TRUE(FileBytes(path).empty());
}

TEST_F(CVideoTest, FileThatCannotBeOpenedDoesNothing) {
    const std::string missing_dir = PathOf("no-such-folder/x.str");
    const Bytes payload = Pattern(4, 0);
    CVideo writer(missing_dir, CVideo::Mode::Write);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.WriteRecord(4, payload.data(), 1, 1));
    EXPECT_FALSE(writer.ReadRecord().has_value());

    CVideo reader(PathOf("missing.str"), CVideo::Mode::Read);
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.ReadRecord().has_value());
    EXPECT_FALSE(fs::exists(PathOf("missing.str")));
}

// Records from two threads never mix their bytes.
TEST_F(CVideoTest, ConcurrentWritersKeepRecordsWhole) {
    constexpr int kPerWriter = 400;
    const std::string path = PathOf("shared.str");
    {
        CVideo file(path, CVideo::Mode::Write);
        auto writer = [&](int kind, std::uint8_t fill) {
            for (int i = 0; i < kPerWriter; ++i) {
                const Bytes payload(static_cast<std::size_t>(1 + (i * 37) % 3000), fill);
                file.WriteRecord(static_cast<std::uint32_t>(payload.size()), payload.data(), 0, kind);
            }
        };
        std::thread video(writer, 1, 0x11);
        std::thread audio(writer, 3, 0x33);
        video.join();
        audio.join();
    }
    const Bytes bytes = FileBytes(path);
    int count[256] = {};
    std::size_t at = 0;
    while (at + 4 <= bytes.size()) {
        const std::size_t length = bytes[at] | (bytes[at + 1] << 8);
        const int kind = bytes[at + 3];
        const std::uint8_t fill = kind == 1 ? 0x11 : 0x33;
        ASSERT_TRUE(kind == 1 || kind == 3) << "at " << at;
        ASSERT_LE(at + 4 + length, bytes.size());
        for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(bytes[at + 4 + i], fill) << "at " << at;
        ++count[kind];
        at += 4 + length;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(count[1], kPerWriter);
    EXPECT_EQ(count[3], kPerWriter);
}

// --- Reading -----------------------------------------------------------------

void ExpectRecord(const std::optional<StreamRecord>& r, const Bytes& bytes, int key_flag, int kind) {
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->bytes, bytes);
    EXPECT_EQ(r->key_flag, key_flag);
    EXPECT_EQ(r->kind, kind);
}

TEST_F(CVideoTest, ReadingLoopsBackToTheFirstRecord) {
    const std::string path = PathOf("abc.str");
    const Bytes a = Pattern(10, 1), c = Pattern(4000, 3);
    {
        CVideo file(path, CVideo::Mode::Write);
        file.WriteRecord(10, a.data(), 1, 1);
        file.WriteRecord(0, nullptr, 1, 3);  // the header step's empty record
        file.WriteRecord(4000, c.data(), 0, 3);
    }
    CVideo file(path, CVideo::Mode::Read);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ExpectRecord(file.ReadRecord(), a, 1, 1);
        ExpectRecord(file.ReadRecord(), {}, 1, 3);
        ExpectRecord(file.ReadRecord(), c, 0, 3);
    }
    ExpectRecord(file.ReadRecord(), a, 1, 1);
}

TEST_F(CVideoTest, HeaderFieldsAreReadAsStored) {
    // Bits 17..23 of the header are not the key flag; the kind passes unchanged.
    const std::string path = PathOf("bits.str");
    WriteFile(path, {2, 0, 0xFF, 7, 0xAA, 0xBB, 1, 0, 0xFE, 200, 0xCC});
    CVideo file(path, CVideo::Mode::Read);
    ExpectRecord(file.ReadRecord(), {0xAA, 0xBB}, 1, 7);
    ExpectRecord(file.ReadRecord(), {0xCC}, 0, 200);
}

TEST_F(CVideoTest, FileShorterThanOneHeaderHasNoRecord) {
    for (std::size_t size = 0; size <= 3; ++size) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        const std::string path = PathOf("short.str");
        WriteFile(path, Bytes(size, 0x05));
        CVideo file(path, CVideo::Mode::Read);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_FALSE(file.ReadRecord().has_value());
        EXPECT_FALSE(file.ReadRecord().has_value());
    }
}

// A payload cut short by the end of the file keeps the length of its header
// (the missing tail zero-filled), and a header cut short is not a record;
// either way the next read starts again at the first record.
TEST_F(CVideoTest, CutRecordAtTheEnd) {
    const Bytes first{3, 0, 1, 1, 0xA1, 0xA2, 0xA3};
    struct Case {
        const char* name;
        Bytes tail;
        std::optional<Bytes> cut_payload;  // what the cut record reads as, if any
    };
    Bytes ten_of_hundred(100, 0);
    for (int i = 0; i < 10; ++i) ten_of_hundred[i] = static_cast<std::uint8_t>(0x50 + i);
    Bytes cut{100, 0, 0, 3};
    for (int i = 0; i < 10; ++i) cut.push_back(static_cast<std::uint8_t>(0x50 + i));
    const Case cases[] = {
        {"payload cut after 10 of 100 bytes", cut, ten_of_hundred},
        {"header promising the longest payload, nothing after", {0xFF, 0xFF, 0, 3}, Bytes(65535, 0)},
        {"two bytes of a header", {9, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = PathOf("cut.str");
        Bytes bytes = first;
        bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
        WriteFile(path, bytes);
        CVideo file(path, CVideo::Mode::Read);
        ExpectRecord(file.ReadRecord(), {0xA1, 0xA2, 0xA3}, 1, 1);
        if (c.cut_payload) ExpectRecord(file.ReadRecord(), *c.cut_payload, 0, 3);
        ExpectRecord(file.ReadRecord(), {0xA1, 0xA2, 0xA3}, 1, 1);
    }
}

}  // namespace
}  // namespace halvora
