#include <gtest/gtest.h>

#include <string>

#include "entries.h"
#include "catalogue_output.h"
#include "output_buffer.h"

namespace tarnwick::cli {
namespace {

using test::Entries;

std::string List(const Entries& entries, Format format) {
    OutputBuffer out(nullptr, 128);
    WriteCatalogue(out, format, entries.All());
    return std::string(out.Pending());
}

constexpr std::int64_t k2024 = 133590404961234567;  // 2024-05-01T12:34:56.1234567Z

TEST(CatalogueOutput, CsvHasAHeaderAndQuotesOnlyWhatNeedsIt) {
    Entries entries;
    entries.Directory(5, 5, u".");
    auto& dir = entries.Directory(30, 5, u"a,b");
    dir.creationTime = k2024;
    auto& file = entries.Add(31, 30, u"q\"\u00e9\U0001F600");
    file.actualSize = 5;
    file.allocatedSize = 8;
    file.modificationTime = k2024;
    file.flag = 0x21;
    EXPECT_EQ(List(entries, Format::Csv),
              "id,parentId,path,name,type,actualSize,allocatedSize,creationTime,modificationTime,mftModificationTime,accessTime,flag\r\n"
              "5,5,/,.,directory,0,0,,,,,3\r\n"
              "30,5,\"/a,b\",\"a,b\",directory,0,0,2024-05-01T12:34:56.1234567Z,,,,3\r\n"
              "31,30,\"/a,b/q\"\"\xc3\xa9\xf0\x9f\x98\x80\",\"q\"\"\xc3\xa9\xf0\x9f\x98\x80\",file,5,8,,2024-05-01T12:34:56.1234567Z,,,33\r\n");
}

TEST(CatalogueOutput, JsonLinesEscapeNamesAndWriteNullForUnsetTimes) {
    Entries entries;
    auto& file = entries.Add(31, 5, std::u16string(u"t\tb\\q\"") + char16_t{1} + char16_t{0xD800});
    file.actualSize = -1;
    file.accessTime = k2024;
    EXPECT_EQ(List(entries, Format::JsonLines),
              "{\"id\":31,\"parentId\":5,\"path\":\"/t\\tb\\\\q\\\"\\u0001\xef\xbf\xbd\",\"name\":\"t\\tb\\\\q\\\"\\u0001\xef\xbf\xbd\","
              "\"type\":\"file\",\"actualSize\":-1,\"allocatedSize\":0,\"creationTime\":null,\"modificationTime\":null,"
              "\"mftModificationTime\":null,\"accessTime\":\"2024-05-01T12:34:56.1234567Z\",\"flag\":1}\n");
}

TEST(CatalogueOutput, ANameWithoutTerminatorStopsAtItsField) {
    Entries entries;
    auto& file = entries.Add(31, 5, u"");
    for (auto& unit : file.name) unit = u'n';
    file.nameSpace = 0x41414141;  // the field right after the name must not leak in
    const std::string line = List(entries, Format::JsonLines);
    EXPECT_NE(line.find("\"name\":\"" + std::string(256, 'n') + "\""), std::string::npos);
    EXPECT_EQ(line.find('A'), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::cli
