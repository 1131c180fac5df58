// The edit the installer makes to its setup configuration, on text already in memory.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>

#include "support/indexcheck.h"
#include "stampsources.h"
#include "support/xmltesttext.h"
#include "xmldoc.h"

namespace {

struct stampcase {
    const char* name;
    const char* config;
    const char* path;
    const char* stamped;
};

std::ostream& operator<<(std::ostream& out, const stampcase& c) { return out << c.name; }

constexpr stampcase stampCases[] = {
    {"existing_path_replaced_in_place",
     "<?xml version=\"1.0\"?>\r\n<config>\r\n\t<source path=\"old\" kind=\"a\"/>\r\n\t<other/>\r\n</config>\r\n",
     "C:\\pkg\\install_test.exe",
     "<?xml version=\"1.0\"?>\r\n<config>\r\n\t<source path=\"C:\\pkg\\install_test.exe\" "
     "kind=\"a\"/>\r\n\t<other/>\r\n"
     "</config>\r\n"},
    {"three_sources_all_stamped", "<c>\n <source/>\n <source path='x'/>\n <source a=\"1\" />\n</c>", "p",
     "<c>\n <source path=\"p\"/>\n <source path=\"p\"/>\n <source a=\"1\" path=\"p\" />\n</c>"},
    {"no_source_gets_first_child", "<config>\n  <a/>\n</config>", "D:\\x.exe",
     "<config>\n  <source path=\"D:\\x.exe\"/>\r\n<a/>\n</config>"},
    {"nested_source_untouched", "<config><g><source/></g></config>", "p",
     "<config><source path=\"p\"/>\r\n<g><source/></g></config>"},
    {"ampersand_and_apostrophe_escaped", "<c><source path=\"\"/></c>", "C:\\A&B's\\\xE4\xB8\xAD.exe",
     "<c><source path=\"C:\\A&amp;B&apos;s\\\xE4\xB8\xAD.exe\"/></c>"},
    {"empty_root_element", "<config/>", "p", "<config>\r\n<source path=\"p\"/>\r\n</config>"},
    {"no_root_changes_nothing", "<?xml version=\"1.0\"?>", "p", "<?xml version=\"1.0\"?>"},
    {"top_level_source_beside_root_ignored", "<config/><source/>", "p",
     "<config>\r\n<source path=\"p\"/>\r\n</config><source/>"},
};

class Stamp : public ::testing::TestWithParam<stampcase> {};

TEST_P(Stamp, ConfigurationText)
{
    const stampcase& c = GetParam();
    xmldoc doc;
    doc.setText(static_cast<const char16_t*>(nullptr));
    doc.setText(u16(c.config));
    stampsources(doc, u16(c.path));
    EXPECT_EQ(u8(doc.text), c.stamped);
    EXPECT_EQ(checkIndex(doc), "");
}

INSTANTIATE_TEST_SUITE_P(Stamping, Stamp, ::testing::ValuesIn(stampCases),
                         [](const ::testing::TestParamInfo<stampcase>& info) { return std::string(info.param.name); });

#ifdef _WIN32
#define FIXTURE_ROOT "Z:" XML_FIXTURES_DIR "/"
#else
#define FIXTURE_ROOT XML_FIXTURES_DIR "/"
#endif

// The UTF-8 bytes of a fixture file; empty when it cannot be read.
std::string readFixture(const std::string& name)
{
    std::ifstream in(FIXTURE_ROOT + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct fixturecase {
    const char* config;
    const char* stamped;
    bool sound;
};

std::ostream& operator<<(std::ostream& out, const fixturecase& c) { return out << c.config; }

constexpr fixturecase fixtureCases[] = {
    {"config_single_quoted_path.xml", "config_single_quoted_path.stamped.xml", true},
    {"config_nested_source.xml", "config_nested_source.stamped.xml", true},
    {"config_unended_source.xml", "config_unended_source.stamped.xml", false},
};

class StampFixture : public ::testing::TestWithParam<fixturecase> {};

TEST_P(StampFixture, MatchesStampedFile)
{
    const std::string config = readFixture(GetParam().config);
    const std::string stamped = readFixture(GetParam().stamped);
    ASSERT_FALSE(config.empty());
    ASSERT_FALSE(stamped.empty());
    xmldoc doc;
    doc.setText(static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(doc.setText(u16(config)), GetParam().sound);
    stampsources(doc, u"C:\\Users\\A&B\\install_test.exe");
    EXPECT_EQ(u8(doc.text), stamped);
    EXPECT_EQ(checkIndex(doc), "");
}

INSTANTIATE_TEST_SUITE_P(Stamping, StampFixture, ::testing::ValuesIn(fixtureCases),
                         [](const ::testing::TestParamInfo<fixturecase>& info) {
                             std::string name = info.param.config;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
