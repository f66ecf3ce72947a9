#include "common/uFiles.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

std::vector<std::string> ReadAllLines(const std::string& path, std::size_t maxLine, std::vector<bool>* cut = nullptr)
{
    TTextFileReader reader(maxLine);
    EXPECT_TRUE(reader.Open(path));
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line)) {
        lines.push_back(line);
        if (cut)
            cut->push_back(reader.LineWasCut());
    }
    return lines;
}

TEST(TextFileReader, SplitsOnLfAndCrLfAndBoundsLines)
{
    TempDir dir;
    struct Case {
        std::string Bytes;
        std::vector<std::string> Lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a\r\nb\nc", {"a", "b", "c"}},
        {"a\r\n\r\n", {"a", ""}},
        {"a\rb\n", {"a\rb"}},
        {"\n", {""}},
        {"x\r", {"x"}},
        {std::string("n\0ul\n", 5), {std::string("n\0ul", 4)}},
    };
    for (const Case& c : cases) {
        WriteBytes(dir.File("t.txt"), c.Bytes);
        EXPECT_EQ(ReadAllLines(dir.File("t.txt"), 100), c.Lines);
    }
    WriteBytes(dir.File("long.txt"), std::string(10000, 'x') + "\r\nshort\r\n" + "12345\r\n");
    std::vector<bool> cut;
    EXPECT_EQ(ReadAllLines(dir.File("long.txt"), 5, &cut), (std::vector<std::string>{"xxxxx", "short", "12345"}));
    EXPECT_EQ(cut, (std::vector<bool>{true, false, false}));

    TTextFileReader reader;
    EXPECT_FALSE(reader.Open(dir.File("missing.txt")));
    EXPECT_FALSE(reader.Open(dir.Path()));
}

TEST(Files, ReadBytesIsCappedAndFailsOnMissingFiles)
{
    TempDir dir;
    WriteBytes(dir.File("b.bin"), "0123456789");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFileBytes(dir.File("b.bin"), bytes, 4));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123");
    ASSERT_TRUE(ReadFileBytes(dir.File("b.bin"), bytes, 1 << 30));
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_FALSE(ReadFileBytes(dir.File("none.bin"), bytes, 10));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(ReadFileBytes(dir.Path(), bytes, 10));
    EXPECT_EQ(FileSizeOf(dir.File("b.bin")), 10);
    EXPECT_EQ(FileSizeOf(dir.File("none.bin")), -1);
    EXPECT_TRUE(FileExists(dir.File("B.BIN")));
    EXPECT_FALSE(FileExists(dir.Path()));
}

TEST(Files, AppendAndReplace)
{
    TempDir dir;
    const std::string path = dir.Path() + "\\Sub\\log.txt";
    std::filesystem::create_directory(dir.File("sub"));
    EXPECT_TRUE(AppendTextLine(path, "one"));
    EXPECT_TRUE(AppendTextLine(path, ""));
    EXPECT_EQ(ReadBytes(dir.File("sub/log.txt")), "one\r\n\r\n");

    EXPECT_TRUE(WriteFileReplacing(dir.File("o.txt"), "first"));
    chmod(dir.File("o.txt").c_str(), 0640);
    EXPECT_TRUE(WriteFileReplacing(dir.File("o.txt"), "second"));
    EXPECT_EQ(ReadBytes(dir.File("o.txt")), "second");
    struct stat st;
    ASSERT_EQ(stat(dir.File("o.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary file is left beside the target.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);

    EXPECT_FALSE(WriteFileReplacing(dir.File("nofolder/o.txt"), "x"));
    EXPECT_TRUE(DeleteFileAt(dir.File("O.TXT")));
    EXPECT_FALSE(FileExists(dir.File("o.txt")));
}

TEST(Files, ReplaceThatFailsHalfWayKeepsTheOldFile)
{
    TempDir dir;
    WriteBytes(dir.File("keep.txt"), "old");
    // A file size limit makes the write stop part way, as a full disk would.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = WriteFileReplacing(dir.File("keep.txt"), std::string(1000, 'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadBytes(dir.File("keep.txt")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

}  // namespace
