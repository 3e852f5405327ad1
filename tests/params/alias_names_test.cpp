// Operator names from the alias file: look-up rules, damaged, odd and too deep documents, one
// parse per change of the file.
#include "params/alias_names.h"
#include "test_root.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
const char* const kDoc = R"({"filename":"x","namelist":{
  "source":[{"id":2,"valid":"on","name":"Camera"},{"id":3,"valid":"off","name":"Stage"},
            {"id":4,"valid":"on","name":""},{"id":"5","valid":"yes","name":"Laptop \u00e9"},
            {"id":2,"valid":"on","name":"Second"},{"valid":"on","name":"NoId"},{"id":"x1","valid":"on","name":"Bad"}],
  "crop":[{"id":7,"valid":"on","name":"Left half"}],
  "usermode":[{"id":1,"name":"NoValid"}]}})";

void write(const std::string& text)
{
    ASSERT_TRUE(TestRoot::writeFile(AliasNames::kPath, QByteArray::fromStdString(text)));
}
}

TEST(AliasNames, LookUpFollowsIdValidAndName)
{
    write(kDoc);
    struct Case {
        const char* kind;
        int id;
        int result;
        const char* name;  // what out holds afterwards ("" = untouched)
        const char* valid;
    } cases[] = {
        {"source", 2, 1, "Camera", "on"},      // the first of two equal ids
        {"source", 3, 0, "Stage", "off"},      // switched off, still filled
        {"source", 4, 0, "", "on"},            // empty name
        {"source", 5, 1, "Laptop \xc3\xa9", "yes"}, // id as text, \u escape as UTF-8
        {"source", 6, 0, "", ""},              // no such id
        {"crop", 7, 1, "Left half", "on"},
        {"win", 1, 0, "", ""},                 // a kind the document lacks
        {"usermode", 1, 1, "NoValid", ""},     // no "valid": on
    };
    for (const Case& c : cases) {
        ALIAS_PARA out;
        EXPECT_EQ(get_json_alias_para(&out, c.kind, c.id), c.result) << c.kind << " " << c.id;
        EXPECT_EQ(out.name, c.name) << c.kind << " " << c.id;
        EXPECT_EQ(out.valid, c.valid) << c.kind << " " << c.id;
    }
}

TEST(AliasNames, MissingFileGivesNoName)
{
    ALIAS_PARA out;
    EXPECT_EQ(get_json_alias_para(&out, "source", 2), 0);
    EXPECT_EQ(get_json_alias_para(nullptr, "source", 2), 0);
}

TEST(AliasNames, TextThatIsNotJsonIsRemovedAndGivesNoName)
{
    write("{\"namelist\": {\"source\": [ {\"id\": 2, ");
    ALIAS_PARA out;
    EXPECT_EQ(get_json_alias_para(&out, "source", 2), 0);
    EXPECT_TRUE(TestRoot::shellLog().contains(QStringLiteral("rm -rf /data/configs/alias.json")))
        << TestRoot::shellLog().join(QLatin1Char('\n')).toStdString();
    // A new upload is read again.
    write(kDoc);
    EXPECT_EQ(get_json_alias_para(&out, "source", 2), 1);
    EXPECT_EQ(out.name, "Camera");
}

TEST(AliasNames, DocumentsOfAnotherShapeGiveNoNameAndStay)
{
    const std::string deep = std::string(1 << 20, '[') + std::string(1 << 20, ']'); // past any stack
    for (const std::string& doc : std::vector<std::string>{
             "[]", "{\"other\":1}", "{\"namelist\":5}", "{\"namelist\":{\"source\":7}}",
             "{\"namelist\":{\"source\":[{\"id\":2,\"name\":{\"a\":1}}]}}", "\xef\xbb\xbf{}",
             R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Cam","x":)" + deep + "}]}}"}) {
        write(doc);
        ALIAS_PARA out;
        EXPECT_EQ(get_json_alias_para(&out, "source", 2), 0) << doc.substr(0, 60);
    }
    EXPECT_FALSE(TestRoot::shellLog().contains(QStringLiteral("rm -rf /data/configs/alias.json")));
    EXPECT_TRUE(TestRoot::exists(AliasNames::kPath));
}

TEST(AliasNames, FileIsParsedOncePerChange)
{
    write(kDoc);
    ALIAS_PARA out;
    const uint32_t before = AliasNames::parseCount();
    for (int i = 0; i < 50; ++i)
        get_json_alias_para(&out, "source", 2 + i % 4);
    EXPECT_EQ(AliasNames::parseCount() - before, 1u);
    // A replaced file (new size) is read again at the next look-up.
    write(R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Renamed input"}]}})");
    EXPECT_EQ(get_json_alias_para(&out, "source", 2), 1);
    EXPECT_EQ(out.name, "Renamed input");
    EXPECT_EQ(AliasNames::parseCount() - before, 2u);
}
