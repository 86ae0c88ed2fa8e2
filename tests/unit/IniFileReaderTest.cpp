// The engine's block reader against the 100-byte line reader it replaces: on every input
// both must give the same lines.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "qzFileUtils.h"
#include "qzIniFile.h"

namespace {

using Lines = std::vector<std::string>;

qz::UniqueHandle OpenAt(const std::string& path, LONGLONG offset) {
    qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    SetFilePointerEx(file.Get(), to, nullptr, FILE_BEGIN);
    return file;
}

// ReadTextLine until the end the file had at the start, stopping when a read moves nothing.
Lines ByReadTextLine(const std::string& path, LONGLONG offset) {
    qz::UniqueHandle file = OpenAt(path, offset);
    LARGE_INTEGER size{};
    GetFileSizeEx(file.Get(), &size);
    Lines lines;
    for (int64_t position = FilePosition(file.Get()); position < size.QuadPart;) {
        std::string line = ReadTextLine(file.Get());
        int64_t next = FilePosition(file.Get());
        if (next <= position) break;
        position = next;
        lines.push_back(line);
    }
    return lines;
}

Lines ByBlocks(const std::string& path, LONGLONG offset) {
    qz::UniqueHandle file = OpenAt(path, offset);
    Lines lines;
    ForEachTextLine(file.Get(), [&lines](std::string& line) { lines.push_back(line); });
    return lines;
}

void ExpectSameLines(test::TempFolder& temp, const std::string& name, const std::string& bytes,
                     LONGLONG offset = 0) {
    std::string path = temp.Write(name, bytes);
    Lines expected = ByReadTextLine(path, offset);
    Lines actual = ByBlocks(path, offset);
    ASSERT_EQ(actual.size(), expected.size()) << name;
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(actual[i], expected[i]) << name << " line " << i;
}

}  // namespace

TEST(IniFileReader, LineEndsNulBytesAndLongLinesReadAsByReadTextLine) {
    test::TempFolder temp("reader");
    const size_t block = kTextBlockSize;
    const std::string nul(1, '\0');
    const std::string cases[] = {
        "",
        "ab\r\ncd",
        "ab\r\ncd\r\n",
        "lone\nlf\nonly\n",
        "lone\rcr\r",
        "\r\r\n\n\r\n\r",
        "\n\n\n",
        "\r",
        "a" + nul + "b\r\n" + nul + "\r\n" + nul,
        std::string(150, 'x') + "\r\n" + std::string(250, 'y') + "\n\r" + std::string(99, 'z'),
        std::string(3 * block + 17, 'L') + "\r\nshort\r\n" + std::string(block, 'M'),
        std::string(block - 1, 'a') + "\r\nb",      // CR last in the first block, LF first in the next
        std::string(block, 'a') + "\r\nb\r\n",      // CR first in the next block
        std::string(block - 1, 'a') + "\n\rb",      // LF ending a block
        std::string(block - 2, 'a') + "\r\r\r\n",   // empty lines across the boundary
        std::string(2 * block, '\n') + "tail",      // a block of nothing but LFs
    };
    int n = 0;
    for (const std::string& bytes : cases) ExpectSameLines(temp, "case" + std::to_string(n++), bytes);
    // A reader starts where the file position stands.
    ExpectSameLines(temp, "offset", "skip\r\nkept\r\nlast", 3);
    ExpectSameLines(temp, "offsetAtEnd", "abc\r\n", 5);
}

TEST(IniFileReader, RandomFilesReadAsByReadTextLine) {
    test::TempFolder temp("reader");
    std::mt19937 random(20261207);
    const char alphabet[] = {'a', 'b', ' ', '=', '\r', '\n', '\0', '\t', '\xE9'};
    for (int n = 0; n < 24; ++n) {
        // Most files are short with many line ends; some span several blocks.
        size_t size = n % 4 == 3 ? random() % (3 * kTextBlockSize) : random() % 2000;
        std::uniform_int_distribution<int> pick(0, n % 2 ? 3 : static_cast<int>(sizeof alphabet) - 1);
        std::string bytes(size, 'a');
        for (char& c : bytes) c = random() % 50 == 0 ? alphabet[4 + random() % 3] : alphabet[pick(random)];
        ExpectSameLines(temp, "random" + std::to_string(n), bytes);
    }
}

TEST(IniFileReader, EngineKeepsTheLinesOfBlockBoundariesIntact) {
    test::TempFolder temp("reader");
    // Key lines placed so that CRs, LFs, "=" and quotes fall on either side of block ends.
    std::string log = "[S]\r\n", expected;
    for (int i = 0; log.size() < 3 * kTextBlockSize; ++i) {
        std::string key = "Key" + std::to_string(i);
        log += key + " =\t\"" + std::string(static_cast<size_t>(i % 97), 'v') + "\"\r\n";
    }
    std::string path = temp.Write("boundaries.log", log);
    TqzIniFile ini(path, true);
    TStringList lines;
    ini.ReadSectionValues("S", lines);
    for (int i = 0; i < lines.Count(); ++i)
        ASSERT_EQ(lines.Strings(i), "Key" + std::to_string(i) + "=" + std::string(static_cast<size_t>(i % 97), 'v'));
    EXPECT_GT(lines.Count(), 3000);
}
