// Tests of the line XML writer and reader: exact output, round trips, and
// malformed lines that must end in a clean result rather than an overrun.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TempFolder.h"
#include "util/XException.h"
#include "util/XXmlReader.h"
#include "util/XXmlWriter.h"

namespace {

// Every element with its attributes, as "Name a=1 b=2", one line per element.
std::vector<std::string> ReadAll(XXmlReader& reader)
{
    std::vector<std::string> elements;
    XString name, attr, value;
    while (reader.NextElement(name)) {
        std::string line = name.GetText();
        while (reader.NextAttribute(attr, value))
            line += std::string(" ") + attr.GetText() + "=" + value.GetText();
        elements.push_back(line);
        reader.SkipLine();
    }
    return elements;
}

TEST(XXml, WriterOutputAndRoundTrip)
{
    TempFolder tmp;
    XXmlWriter writer;
    writer.StartDocument(tmp.Child("c.xml"), "Root", false);
    writer.StartElement("Item");
    writer.Attribute("Value", "2009");
    writer.EndStartTag(true);
    writer.EndDocument();
    EXPECT_EQ("<Root>\r\n<Item Value=\"2009\"/>\r\n</Root>\r\n", ReadNative(tmp.Native() + "/c.xml"));

    XXmlReader reader;
    ASSERT_TRUE(reader.Open(tmp.Child("c.xml"), "Root"));
    EXPECT_EQ(std::vector<std::string>{"Item Value=2009"}, ReadAll(reader));
    reader.Close();

    XXmlReader wrongRoot;
    EXPECT_FALSE(wrongRoot.Open(tmp.Child("c.xml"), "Other"));
}

TEST(XXml, DeclarationNamespaceAndAwkwardValues)
{
    TempFolder tmp;
    XXmlWriter writer;
    writer.StartDocument(tmp.Child("c.xml"), "SchoolConfig", true, "urn:x", "urn:x c.xsd");
    writer.StartElement("Source");
    writer.Attribute("Dsn", "MORV Live / 2026");
    writer.Attribute("Folder", "C:\\Export Files\\>here");
    writer.Attribute("Empty", "");
    writer.EndStartTag(true);
    writer.StartElement("Bare");
    writer.EndStartTag(true);
    writer.StartElement("Open");
    writer.EndStartTag(false);
    writer.EndElement("Open");
    writer.EndDocument();
    std::string text = ReadNative(tmp.Native() + "/c.xml");
    EXPECT_EQ(0u, text.find("<?xml version=\"1.0\"?>\r\n\r\n<SchoolConfig xmlns=\"urn:x\" "
                            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                            "xsi:schemaLocation=\"urn:x c.xsd\">\r\n"));

    XXmlReader reader;
    ASSERT_TRUE(reader.Open(tmp.Child("c.xml"), "SchoolConfig"));
    std::vector<std::string> expected = {
        "Source Dsn=MORV Live / 2026 Folder=C:\\Export Files\\>here Empty=",
        "Bare",
        "Open",
    };
    EXPECT_EQ(expected, ReadAll(reader));
}

TEST(XXml, WriterRefusesWhatTheReaderWouldMisread)
{
    TempFolder tmp;
    XXmlWriter writer;
    writer.StartDocument(tmp.Child("c.xml"), "Root", false);
    writer.StartElement("Item");
    for (const char* bad : {"say \"hi\"", "a<b", "two\r\nlines", "tab\x01"})
        EXPECT_THROW(writer.Attribute("Value", bad), XException) << bad;
    for (const char* bad : {"", "has blank", "a=b", "x/"})
        EXPECT_THROW(writer.Attribute(bad, "v"), XException) << bad;
    EXPECT_THROW(writer.StartElement("a b"), XException);
}

TEST(XXml, ReaderSurvivesMalformedFiles)
{
    struct Case {
        const char* name;
        std::string content;
        bool rootOk;
        std::vector<std::string> elements;
    } cases[] = {
        {"empty file", "", false, {}},
        {"no line ends", "<Root>\n<A x=\"1\"/>", true, {"A x=1"}},
        {"text before an element on its line", "<Root>\r\njunk <A x=1/>\r\n", true, {"A x=1"}},
        {"line without an element ends the walk", "<Root>\r\njunk\r\n<A/>\r\n", true, {}},
        {"unterminated quote stops at the line end", "<Root>\r\n<A x=\"1 2\r\n<B y=\"3\"/>\r\n", true,
         {"A x=1 2", "B y=3"}},
        {"attributes on a second line are not read", "<Root>\r\n<A x=\"1\"\r\n y=\"2\"/>\r\n", true, {"A x=1"}},
        {"attribute without a value", "<Root>\r\n<A x/>\r\n", true, {"A"}},
        {"control bytes and 255 are dropped", "<Root>\r\n<A x=\"a\x01\xff" "b\"/>\r\n", true, {"A x=ab"}},
        {"lone angle bracket", "<Root>\r\n<\r\n", true, {}},
        {"long token", "<Root>\r\n<A x=\"" + std::string(5000, 'z') + "\"/>\r\n", true,
         {"A x=" + std::string(5000, 'z')}},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        WriteNative(tmp.Native() + "/m.xml", c.content);
        XXmlReader reader;
        EXPECT_EQ(c.rootOk, reader.Open(tmp.Child("m.xml"), "Root")) << c.name;
        EXPECT_EQ(c.elements, ReadAll(reader)) << c.name;
    }
}

TEST(XXml, ReaderNeedsAnExistingFile)
{
    TempFolder tmp;
    XXmlReader reader;
    EXPECT_THROW(reader.Open(tmp.Child("missing.xml"), "Root"), XException);
    EXPECT_FALSE(tmp.Child("missing.xml").Exists());
}

} // namespace
