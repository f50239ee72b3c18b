// The data sources of the IMAP client family: the behaviour every kind
// shares (over a table of kinds), then what is particular to each kind.
#include "net/imap/UT_DataSource.h"

#include "platform/FileIO.h"
#include "platform/Files.h"
#include "platform/TempFile.h"
#include "support/SourceContent.h"
#include "support/TempDir.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using tavlo::test::Content;
using tavlo::test::TempDir;

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// Replaces the content: open for writing, write, close.
void Fill(CUT_DataSource& source, const std::string& content) {
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenWrite), 0);
    ASSERT_EQ(source.Write(content.data(), content.size()), static_cast<int>(content.size()));
    ASSERT_EQ(source.Close(), 0);
}

// Everything from the current position, read in blocks of blockSize - 1.
std::string ReadRest(CUT_DataSource& source, std::size_t blockSize = 100) {
    std::string all;
    std::vector<char> block(blockSize);
    for (;;) {
        const int n = source.Read(block.data(), block.size());
        if (n <= 0)
            break;
        EXPECT_EQ(block[static_cast<std::size_t>(n)], '\0') << "Read must terminate its bytes";
        all.append(block.data(), static_cast<std::size_t>(n));
    }
    return all;
}

std::vector<std::string> ReadLines(CUT_DataSource& source, std::size_t size) {
    std::vector<std::string> lines;
    std::vector<char> buffer(size);
    for (int guard = 0; guard < 1000; ++guard) {
        const int n = source.ReadLine(buffer.data(), buffer.size());
        if (n <= 0)
            break;
        EXPECT_EQ(std::strlen(buffer.data()), static_cast<std::size_t>(n));
        lines.emplace_back(buffer.data(), static_cast<std::size_t>(n));
    }
    return lines;
}

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

long long FileSizeOf(const std::string& path) {
    const port::FileHandle h =
        port::FileOpen(path.c_str(), port::kFileRead, port::FileCreation::OpenExisting);
    if (h == port::kInvalidFile)
        return -1;
    const long long size = port::FileSize(h);
    port::FileClose(h);
    return size;
}

// ---------------------------------------------------------------------------
// Behaviour shared by every kind
// ---------------------------------------------------------------------------

struct Kind {
    const char* name;
    std::function<std::unique_ptr<CUT_DataSource>(const TempDir&)> make;
    // +1 when an offset from the end counts backwards (memory and mapped
    // sources), -1 when it is added as for files.
    int endDirection;
};

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

const Kind kKinds[] = {
    {"Buffer", [](const TempDir&) { return std::make_unique<CUT_BufferDataSource>(20000); }, 1},
    {"MapFileTemporary", [](const TempDir&) { return std::make_unique<CUT_MapFileDataSource>(64); },
     1},
    {"MapFileNamed",
     [](const TempDir& dir) {
         return std::make_unique<CUT_MapFileDataSource>(0, dir.file("named.map").c_str());
     },
     1},
    {"File",
     [](const TempDir& dir) {
         return std::make_unique<CUT_FileDataSource>(dir.file("plain.txt").c_str(), 16);
     },
     -1},
};

class DataSourceKindTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        source = GetParam().make(dir);
        ASSERT_NE(source, nullptr);
    }

    TempDir dir;
    std::unique_ptr<CUT_DataSource> source;
};

TEST_P(DataSourceKindTest, OpenModesWriteAppendAndRead) {
    Fill(*source, "first part");
    EXPECT_EQ(Content(*source), "first part");

    // Append keeps the content and writes at its end.
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenAppend), 0);
    EXPECT_EQ(source->Write(", second", 8), 8);
    ASSERT_EQ(source->Close(), 0);
    EXPECT_EQ(Content(*source), "first part, second");

    // Write starts empty, even when nothing is written.
    Fill(*source, "new");
    EXPECT_EQ(Content(*source), "new");
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenWrite), 0);
    ASSERT_EQ(source->Close(), 0);
    EXPECT_EQ(Content(*source), "");

    EXPECT_EQ(source->Open(3), -1);
    EXPECT_EQ(source->Open(-1), -1);
}

TEST_P(DataSourceKindTest, ReadTerminatesAndStopsAtTheEnd) {
    const std::string content = Pattern(1000);
    Fill(*source, content);
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    char block[11];
    std::memset(block, 'X', sizeof block);
    ASSERT_EQ(source->Read(block, sizeof block), 10) << "at most size - 1 bytes";
    EXPECT_EQ(std::string(block, 10), content.substr(0, 10));
    EXPECT_EQ(block[10], '\0');
    EXPECT_EQ(ReadRest(*source, 64), content.substr(10));
    EXPECT_EQ(source->Read(block, sizeof block), 0);
    source->Close();
}

TEST_P(DataSourceKindTest, ReadLineKeepsLineEndsAndCutsLongLines) {
    Fill(*source, "one\r\ntwo\r\n\r\nlast without end");
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(ReadLines(*source, 100),
              (std::vector<std::string>{"one\r\n", "two\r\n", "\r\n", "last without end"}));
    source->Close();

    // A 25-byte line through a 10-byte buffer: 9, 9, then the last 7.
    Fill(*source, "abcdefghijklmnopqrstuvw\r\nnext\r\n");
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(ReadLines(*source, 10),
              (std::vector<std::string>{"abcdefghi", "jklmnopqr", "stuvw\r\n", "next\r\n"}));
    source->Close();
}

TEST_P(DataSourceKindTest, ReadAfterReadLineContinuesAfterTheLine) {
    // The file source reads ahead into its line buffer; those bytes must
    // not be skipped by the next Read.
    const std::string rest = Pattern(300);
    Fill(*source, "header line\r\n" + rest);
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    char line[100];
    ASSERT_EQ(source->ReadLine(line, sizeof line), 13);
    EXPECT_EQ(ReadRest(*source), rest);
    source->Close();
}

TEST_P(DataSourceKindTest, WriteLineAddsCrLfOnlyWhenMissing) {
    struct Case {
        const char* text;
        int written;
    };
    const Case cases[] = {
        {"plain", 7}, {"ends with lf\n", 13}, {"ends with cr\r", 13}, {"full\r\n", 6}, {"", 2}};
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenWrite), 0);
    for (const Case& c : cases)
        EXPECT_EQ(source->WriteLine(c.text), c.written) << c.text;
    ASSERT_EQ(source->Close(), 0);
    EXPECT_EQ(Content(*source), "plain\r\nends with lf\nends with cr\rfull\r\n\r\n");
}

TEST_P(DataSourceKindTest, SeekStaysInsideTheContent) {
    Fill(*source, "0123456789");
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(source->Seek(4, CUT_DataSource::kSeekBegin), 4);
    EXPECT_EQ(source->Seek(2, CUT_DataSource::kSeekCurrent), 6);
    EXPECT_EQ(source->Seek(-1, CUT_DataSource::kSeekCurrent), 5);
    // Outside the content: refused, the position stays.
    EXPECT_EQ(source->Seek(11, CUT_DataSource::kSeekBegin), -1);
    EXPECT_EQ(source->Seek(-6, CUT_DataSource::kSeekCurrent), -1);
    EXPECT_EQ(source->Seek(-1, CUT_DataSource::kSeekBegin), -1);
    EXPECT_EQ(source->Seek(0, 7), -1);
    EXPECT_EQ(ReadRest(*source), "56789");
    // The end itself is a valid position; the length is found there.
    EXPECT_EQ(source->Seek(0, CUT_DataSource::kSeekEnd), 10);
    source->Close();
}

TEST_P(DataSourceKindTest, SeekFromTheEndFollowsTheKindsRule) {
    const long long direction = GetParam().endDirection;
    Fill(*source, "0123456789");
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(source->Seek(3 * direction, CUT_DataSource::kSeekEnd), 7);
    EXPECT_EQ(ReadRest(*source), "789");
    // Before the start or past the end: refused.
    EXPECT_EQ(source->Seek(11 * direction, CUT_DataSource::kSeekEnd), -1);
    EXPECT_EQ(source->Seek(-1 * direction, CUT_DataSource::kSeekEnd), -1);
    EXPECT_EQ(source->Seek(10 * direction, CUT_DataSource::kSeekEnd), 0);
    source->Close();
}

TEST_P(DataSourceKindTest, FindCases) {
    // 10000 bytes of filler with marks at known places; "BORDER" straddles
    // the first 4095-byte window.
    std::string content(10000, '.');
    content.replace(100, 5, "Hello");
    content.replace(4092, 6, "BORDER");
    content.replace(9000, 4, "tail");
    Fill(*source, content);

    struct Case {
        const char* text;
        long long start;
        bool caseSensitive;
        long long maxDistance;
        long long expected;
    };
    const Case cases[] = {
        {"Hello", 0, true, 0, 100},
        {"hello", 0, true, 0, -1},        // case matters
        {"hELLo", 0, false, 0, 100},      // unless told otherwise
        {"Hello", 101, true, 0, -1},      // starts after the match
        {"BORDER", 0, true, 0, 4092},     // across the window border
        {"border", 4000, false, 0, 4092}, // from inside, ignoring case
        {"tail", 0, true, 0, 9000},       // several windows on
        {"tail", 8000, true, 1000, 9000}, // exactly at the distance
        {"tail", 8000, true, 999, -1},    // one beyond it
        {"tail", 0, true, 5000, -1},      // the window walk stops early
        {"Hello", 0, true, 3, -1},        // text longer than the distance
        {"", 0, true, 0, -1},
        {"missing", 0, true, 0, -1},
    };
    ASSERT_EQ(source->Open(CUT_DataSource::kOpenRead), 0);
    for (const Case& c : cases)
        EXPECT_EQ(source->Find(c.text, c.start, c.caseSensitive, c.maxDistance), c.expected)
            << "'" << c.text << "' from " << c.start << " within " << c.maxDistance;
    EXPECT_EQ(source->Find(nullptr), -1);
    EXPECT_EQ(source->Find(std::string(4096, '.').c_str()), -1) << "over 4095 bytes";
    EXPECT_EQ(source->Find(content.substr(0, 4095).c_str()), 0) << "a whole window";
    source->Close();
}

TEST_P(DataSourceKindTest, CloneHasTheSameContent) {
    Fill(*source, "cloned content\r\n");
    std::unique_ptr<CUT_DataSource> copy = source->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Content(*copy), "cloned content\r\n");
    EXPECT_EQ(Content(*source), "cloned content\r\n");
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DataSourceKindTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// CUT_BufferDataSource
// ---------------------------------------------------------------------------

TEST(BufferDataSourceTest, WriteStopsAtTheCapacity) {
    CUT_BufferDataSource source(10);
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenWrite), 0);
    EXPECT_EQ(source.Write("123456789012345", 15), 10);
    EXPECT_EQ(source.Write("x", 1), 0);
    EXPECT_EQ(source.GetLength(), 10u);
    EXPECT_STREQ(source.GetBuffer(), "1234567890");
}

TEST(BufferDataSourceTest, CallersBufferIsNeverOverrun) {
    char memory[16];
    std::memset(memory, '#', sizeof memory);
    // The source gets the first 8 bytes: 7 of content and the NUL.
    CUT_BufferDataSource source(memory, 8, "caller");
    EXPECT_EQ(source.GetCapacity(), 7u);
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenWrite), 0);
    EXPECT_EQ(source.Write("abcdefghijkl", 12), 7);
    EXPECT_EQ(std::string(memory, 8), std::string("abcdefg\0", 8));
    EXPECT_EQ(std::string(memory + 8, 8), "########");
    EXPECT_STREQ(source.GetName(), "caller");

    // A caller's buffer without a NUL is read no further than the capacity.
    char unterminated[4] = {'w', 'x', 'y', 'z'};
    CUT_BufferDataSource raw(unterminated, sizeof unterminated);
    EXPECT_EQ(Content(raw), "wxy");
}

TEST(BufferDataSourceTest, WriteInTheMiddleEndsTheContentThere) {
    CUT_BufferDataSource source(50);
    Fill(source, "0123456789");
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenAppend), 0);
    EXPECT_EQ(source.Seek(3, CUT_DataSource::kSeekBegin), 3);
    EXPECT_EQ(source.Write("ab", 2), 2);
    EXPECT_EQ(source.GetLength(), 5u);
    EXPECT_STREQ(source.GetBuffer(), "012ab");
}

TEST(BufferDataSourceTest, ALoneCrEndsALine) {
    CUT_BufferDataSource source(50);
    Fill(source, "mac\rstyle\nunix\r\nend");
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(ReadLines(source, 50),
              (std::vector<std::string>{"mac\r", "style\n", "unix\r\n", "end"}));
}

TEST(BufferDataSourceTest, ReadStopsAtTheFirstNul) {
    // The memory source reads its content as text (up to the first NUL).
    CUT_BufferDataSource source(50);
    Fill(source, std::string("before\0after", 12));
    EXPECT_EQ(Content(source), "before");
}

TEST(BufferDataSourceTest, NameIsCutToItsField) {
    const std::string longName(400, 'n');
    CUT_BufferDataSource source(10, longName.c_str());
    EXPECT_EQ(std::string(source.GetName()), longName.substr(0, 259));
    std::unique_ptr<CUT_DataSource> copy = source.Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(static_cast<CUT_BufferDataSource&>(*copy).GetName(), source.GetName());
}

// ---------------------------------------------------------------------------
// CUT_MapFileDataSource
// ---------------------------------------------------------------------------

TEST(MapFileDataSourceTest, TemporaryFileIsNamedMapAndRemovedOnDestruction) {
    std::string path;
    {
        CUT_MapFileDataSource source(100);
        path = source.GetPath();
        ASSERT_FALSE(path.empty());
        const std::string folder = port::TempFolder();
        ASSERT_EQ(path.compare(0, folder.size(), folder), 0) << path;
        EXPECT_EQ(path.compare(folder.size(), 3, "Map"), 0) << path;
        EXPECT_TRUE(port::FileExists(path));
        Fill(source, Pattern(5000));
        EXPECT_EQ(FileSizeOf(path), 5000);
    }
    EXPECT_FALSE(port::FileExists(path));
}

TEST(MapFileDataSourceTest, ANamedFileStaysAfterDestruction) {
    TempDir dir;
    const std::string path = dir.file("kept.map");
    {
        CUT_MapFileDataSource source(0, path.c_str());
        Fill(source, "kept");
    }
    EXPECT_EQ(FileSizeOf(path), 4);
    CUT_MapFileDataSource again(0, path.c_str());
    EXPECT_EQ(Content(again), "kept");
}

TEST(MapFileDataSourceTest, GrowsAsItIsWrittenAndEndsAtTheContent) {
    CUT_MapFileDataSource source(10);
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenWrite), 0);
    // Writing maps nothing: the bytes go to the file, not into memory.
    EXPECT_EQ(source.GetMappedSize(), 0u);

    // Far larger than the size given when made.
    const std::string big = Pattern(20000);
    ASSERT_EQ(source.Write(big.data(), big.size()), 20000);
    EXPECT_EQ(source.GetLength(), 20000u);

    // Many small writes past the end.
    std::string expected = big;
    for (int i = 0; i < 3000; ++i) {
        const std::string piece = "line " + std::to_string(i) + "\r\n";
        ASSERT_EQ(source.Write(piece.data(), piece.size()), static_cast<int>(piece.size()));
        expected += piece;
    }
    EXPECT_EQ(source.GetMappedSize(), 0u);
    ASSERT_EQ(source.Close(), 0);
    EXPECT_EQ(FileSizeOf(source.GetPath()), static_cast<long long>(expected.size()));
    EXPECT_EQ(Content(source), expected);
    // Read mode maps the content, no more.
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(source.GetMappedSize(), expected.size());
    source.Close();
}

TEST(MapFileDataSourceTest, WhileWritingReadsAndOverwritesGoThroughTheFile) {
    CUT_MapFileDataSource source(0);
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenWrite), 0);
    const std::string text = "first line\r\nsecond\r\nthird";
    ASSERT_EQ(source.Write(text.data(), text.size()), static_cast<int>(text.size()));
    char line[64];
    ASSERT_EQ(source.Seek(0, CUT_DataSource::kSeekBegin), 0);
    EXPECT_EQ(source.ReadLine(line, sizeof line), 12);
    EXPECT_STREQ(line, "first line\r\n");
    EXPECT_EQ(source.ReadLine(line, 5), 4); // cut to the buffer
    EXPECT_STREQ(line, "seco");
    EXPECT_EQ(source.Read(line, sizeof line), 9);
    EXPECT_STREQ(line, "nd\r\nthird");
    EXPECT_EQ(source.Read(line, sizeof line), 0);
    // A write in the middle overwrites; the content keeps its length.
    ASSERT_EQ(source.Seek(6, CUT_DataSource::kSeekBegin), 6);
    ASSERT_EQ(source.Write("LINE", 4), 4);
    EXPECT_EQ(source.GetLength(), text.size());
    // ... and the next write at the end continues there.
    ASSERT_EQ(source.Seek(0, CUT_DataSource::kSeekEnd), static_cast<long long>(text.size()));
    ASSERT_EQ(source.Write("!", 1), 1);
    ASSERT_EQ(source.Close(), 0);
    EXPECT_EQ(Content(source), "first LINE\r\nsecond\r\nthird!");

    // Write empties a file that had content; append keeps it.
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenAppend), 0);
    EXPECT_EQ(source.GetLength(), text.size() + 1);
    source.Close();
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenWrite), 0);
    EXPECT_EQ(source.GetLength(), 0u);
    source.Close();
    EXPECT_EQ(FileSizeOf(source.GetPath()), 0);
}

TEST(MapFileDataSourceTest, ReadModeLeavesTheFileAsItIs) {
    TempDir dir;
    const std::string path = dir.file("exact.map");
    {
        CUT_MapFileDataSource writer(0, path.c_str());
        Fill(writer, "12345");
    }
    // Made with a larger size, as a literal's source is: reading must not
    // grow the file or show bytes that were never written.
    CUT_MapFileDataSource reader(6, path.c_str());
    EXPECT_EQ(Content(reader), "12345");
    EXPECT_EQ(FileSizeOf(path), 5);

    ASSERT_EQ(reader.Open(CUT_DataSource::kOpenRead), 0);
    EXPECT_EQ(reader.Write("x", 1), -1) << "a read-only view takes no writes";
    reader.Close();
    EXPECT_EQ(Content(reader), "12345");
}

TEST(MapFileDataSourceTest, EmptyFileReadsAsEmpty) {
    CUT_MapFileDataSource source(0);
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenRead), 0);
    char buffer[8];
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(source.ReadLine(buffer, sizeof buffer), 0);
    EXPECT_EQ(source.Find("x"), -1);
    EXPECT_EQ(source.Close(), 0);
}

TEST(MapFileDataSourceTest, CloneOfATemporarySourceIsAnIndependentCopy) {
    std::string clonePath;
    {
        CUT_MapFileDataSource source(0, nullptr, "literal");
        Fill(source, "body");
        std::unique_ptr<CUT_DataSource> copy = source.Clone();
        ASSERT_NE(copy, nullptr);
        auto& mapped = static_cast<CUT_MapFileDataSource&>(*copy);
        clonePath = mapped.GetPath();
        EXPECT_NE(clonePath, std::string(source.GetPath()));
        EXPECT_STREQ(mapped.GetName(), "literal");
        Fill(source, "changed");
        EXPECT_EQ(Content(*copy), "body");
    }
    EXPECT_FALSE(port::FileExists(clonePath));
}

TEST(MapFileDataSourceTest, PathThatDoesNotFitIsRefused) {
    const std::string longPath = port::TempFolder() + std::string(300, 'p');
    CUT_MapFileDataSource source(0, longPath.c_str());
    EXPECT_STREQ(source.GetPath(), "");
    EXPECT_EQ(source.Open(CUT_DataSource::kOpenWrite), -1);
}

// ---------------------------------------------------------------------------
// CUT_FileDataSource and CUT_File
// ---------------------------------------------------------------------------

TEST(FileDataSourceTest, OpenFailures) {
    TempDir dir;
    CUT_FileDataSource empty("");
    EXPECT_EQ(empty.Open(CUT_DataSource::kOpenWrite), -1);
    CUT_FileDataSource missing(dir.file("missing.txt").c_str());
    EXPECT_EQ(missing.Open(CUT_DataSource::kOpenRead), -1);
    const std::string longPath = dir.path() + "/" + std::string(300, 'q');
    CUT_FileDataSource tooLong(longPath.c_str());
    EXPECT_STREQ(tooLong.GetPath(), "");
    EXPECT_EQ(tooLong.Open(CUT_DataSource::kOpenWrite), -1);
}

TEST(FileDataSourceTest, SeekFromCurrentCountsFromTheLineReadNotTheReadAhead) {
    TempDir dir;
    CUT_FileDataSource source(dir.file("lines.txt").c_str(), 4096);
    Fill(source, "aaa\r\nbbb\r\nccc\r\n");
    ASSERT_EQ(source.Open(CUT_DataSource::kOpenRead), 0);
    char line[20];
    ASSERT_EQ(source.ReadLine(line, sizeof line), 5);
    EXPECT_EQ(source.Seek(0, CUT_DataSource::kSeekCurrent), 5);
    EXPECT_EQ(source.Seek(5, CUT_DataSource::kSeekCurrent), 10);
    ASSERT_EQ(source.ReadLine(line, sizeof line), 5);
    EXPECT_STREQ(line, "ccc\r\n");
}

TEST(FileTest, PathIsTrimmedAndAppendWritesAtTheEnd) {
    TempDir dir;
    const std::string path = dir.file("append.txt");
    CUT_File file;
    EXPECT_EQ(file.Close(), 0) << "closing nothing is harmless";
    ASSERT_EQ(file.Open(("  " + path + "  ").c_str(),
                        CUT_File::kAccessRead | CUT_File::kAccessWrite,
                        port::FileCreation::CreateAlways, true),
              0);
    EXPECT_EQ(file.Write("start", 5), 5);
    EXPECT_EQ(file.Seek(0, 0), 0);
    EXPECT_EQ(file.Write("-end", 4), 4) << "append goes to the end, not the position";
    EXPECT_EQ(file.Size(), 9);
    EXPECT_EQ(file.Seek(0, 0), 0);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 9);
    EXPECT_EQ(std::string(buffer, 9), "start-end");
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), -1);
    EXPECT_EQ(file.Size(), -1);
    EXPECT_EQ(file.Open("   ", CUT_File::kAccessRead, port::FileCreation::OpenExisting, false), -1);
}

} // namespace
