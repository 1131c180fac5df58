// Opening files by UTF-16 path through the component's platform layer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ostream>
#include <string>

#include "support/scratchdir.h"
#include "xmlplatform.h"

namespace {

std::u16string tempDirectory() { return scratchDirectory16(); }

std::string readAll(FILE* stream)
{
    std::string out;
    char buffer[64];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) out.append(buffer, got);
    return out;
}

struct pathrow {
    const char* label;
    const char16_t* fileName;
    const char* utf8FileName;
};

#define PATHROW(label, name)                                                                                           \
    {                                                                                                                  \
        label, u"" name, u8"" name                                                                                     \
    }

const pathrow pathrows[] = {
    PATHROW("ascii", "widepath_plain.xml"),
    PATHROW("chinese", "widepath_\u914D\u7F6E.xml"),
    PATHROW("latin_and_cyrillic", "widepath_caf\u00E9_\u0416.xml"),
    PATHROW("outside_basic_plane", "widepath_\U0001F600.xml"),
};

#undef PATHROW

// Opens the file by the platform's own means, to see the name it really got.
FILE* openDirectly(const pathrow& row)
{
#ifdef _WIN32
    const std::u16string path = tempDirectory() + row.fileName;
    return _wfopen(reinterpret_cast<const wchar_t*>(path.c_str()), L"rb");
#else
    return fopen((scratchDirectory() + row.utf8FileName).c_str(), "rb");
#endif
}

std::ostream& operator<<(std::ostream& os, const pathrow& row) { return os << row.label; }

class WidePathTest : public testing::TestWithParam<pathrow> {};

TEST_P(WidePathTest, WritesAndReadsBackWhileShared)
{
    const std::u16string path = tempDirectory() + GetParam().fileName;
    FILE* writer = openFileWide(path.c_str(), "wb");
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(fwrite("<a>\r\n", 1, 5, writer), 5u);
    ASSERT_EQ(fflush(writer), 0);

    // Other openers may read the file while it is open for writing.
    FILE* reader = openFileWide(path.c_str(), "rb");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(readAll(reader), "<a>\r\n");
    EXPECT_EQ(fclose(reader), 0);
    EXPECT_EQ(fclose(writer), 0);

    FILE* direct = openDirectly(GetParam());
    ASSERT_NE(direct, nullptr) << "the file does not carry the name given";
    EXPECT_EQ(readAll(direct), "<a>\r\n");
    EXPECT_EQ(fclose(direct), 0);

    FILE* truncating = openFileWide(path.c_str(), "wb");
    ASSERT_NE(truncating, nullptr);
    EXPECT_EQ(fclose(truncating), 0);
    reader = openFileWide(path.c_str(), "rb");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(readAll(reader), "");
    EXPECT_EQ(fclose(reader), 0);
}

TEST_P(WidePathTest, MissingFileSetsErrno)
{
    const std::u16string path = tempDirectory() + u"widepath_missing_dir/" + GetParam().fileName;
    errno = 0;
    EXPECT_EQ(openFileWide(path.c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

INSTANTIATE_TEST_SUITE_P(Names, WidePathTest, testing::ValuesIn(pathrows),
                         [](const testing::TestParamInfo<pathrow>& info) { return std::string(info.param.label); });

} // namespace
