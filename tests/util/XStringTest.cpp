// Tests of XString, XException and XByteBuffer: the byte-level edge cases
// the other layers rely on.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "util/XByteBuffer.h"
#include "util/XException.h"
#include "util/XString.h"

namespace {

TEST(XString, ConstructionFromValues)
{
    EXPECT_STREQ("", XString(static_cast<const char*>(nullptr)));
    EXPECT_STREQ("-42", XString(int32_t(-42)));
    EXPECT_STREQ("9000000000", XString(int64_t(9000000000LL)));
    EXPECT_STREQ("12.50", XString(12.5, 2));
    EXPECT_STREQ("x", XString('x'));
    XString s("ab");
    s.Append(static_cast<const char*>(nullptr));
    s = s + "c" + XString("d") + 'e';
    EXPECT_STREQ("abcde", s);
}

TEST(XString, FormatSizesItsOwnBuffer)
{
    std::string big(5000, 'x');
    XString s;
    s.Format(10, "<%s>", big.c_str());   // the size hint is far too small
    EXPECT_EQ(5002u, s.GetLength());
    EXPECT_EQ('>', s.GetAt(5001));
    s.Format("%d-%s", 7, "a");
    EXPECT_STREQ("7-a", s);
}

TEST(XString, FindAndSlices)
{
    XString s("hello");
    EXPECT_EQ(5u, s.Find('z'));
    EXPECT_EQ(1u, s.Find('e'));
    EXPECT_EQ(2, s.FindText("ll"));
    EXPECT_EQ(-1, s.FindText("lo", 4));
    EXPECT_STREQ("", s.From(5));
    EXPECT_STREQ("", s.From(99));
    EXPECT_STREQ("llo", s.From(2));
    EXPECT_STREQ("hello", s.Left(99));
    EXPECT_STREQ("he", s.Left(2));
    EXPECT_STREQ("ell", s.Range(1, 4));
    EXPECT_STREQ("", s.Range(4, 1));
    EXPECT_STREQ("\"hello\"", s.Quoted());
    EXPECT_STREQ("heXYllo", XString(s).Insert("XY", 2));
    EXPECT_STREQ("helloZ", XString(s).Insert("Z", 99));
    EXPECT_STREQ("hel", XString(s).Truncate(3));
    EXPECT_STREQ("hello", XString(s).Truncate(9));
}

TEST(XString, CompareTakesBytesAsSigned)
{
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"a", "b", -1},
        {"b", "a", 1},
        {"ab", "ab", 0},
        {"ab", "a", 1},
        {"", "", 0},
        {"\x80", "a", -1},   // high bytes sort before ASCII
        {"z", "\xff", 1},
    };
    for (const Case& c : cases) {
        int r = XString(c.a).Compare(c.b);
        EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.a << " vs " << c.b;
    }
    EXPECT_EQ(0, XString("MiXeD").CompareNoCase("mixed"));
    EXPECT_LT(XString("abc").CompareNoCase("ABD"), 0);
    EXPECT_TRUE(XString("") == static_cast<const char*>(nullptr));

    std::map<XString, int> byName{{XString("b"), 2}, {XString("a"), 1}, {XString("\x90"), 0}};
    EXPECT_EQ(0, byName.begin()->second);
}

TEST(XString, Editing)
{
    struct Case {
        const char* name;
        const char* input;
        XString (*edit)(XString);
        const char* expected;
    } cases[] = {
        {"replace", "Cell Number", [](XString s) { return s.ReplaceAll("Number", "Phone"); }, "Cell Phone"},
        {"replace not rescanned", "aa", [](XString s) { return s.ReplaceAll("a", "aa"); }, "aaaa"},
        {"replace empty pattern", "abc", [](XString s) { return s.ReplaceAll("", "x"); }, "abc"},
        {"replace left to right", "aaa", [](XString s) { return s.ReplaceAll("aa", "b"); }, "ba"},
        {"remove formed by removal", "aabb", [](XString s) { return s.RemoveAll("ab"); }, ""},
        {"remove empty pattern", "abc", [](XString s) { return s.RemoveAll(""); }, "abc"},
        {"remove inner", "xabx", [](XString s) { return s.RemoveAll("ab"); }, "xx"},
        {"trim", " \t\r\na b\v\f ", [](XString s) { return s.Trim(); }, "a b"},
        {"trim blank only", "  \t", [](XString s) { return s.Trim(); }, ""},
        {"trim left set", "00120", [](XString s) { return s.TrimLeft("0"); }, "120"},
        {"trim right set", "1.500", [](XString s) { return s.TrimRight("0."); }, "1.5"},
        {"trim set all", "000", [](XString s) { return s.TrimRight("0"); }, ""},
        {"remove set", "a\tb\tc", [](XString s) { return s.RemoveSet("\t"); }, "abc"},
        {"remove range", "a\x01" "b\x1f" "c ", [](XString s) { return s.RemoveRange(1, 31); }, "abc "},
        {"replace byte", "a-b-c", [](XString s) { return s.Replace('-', '+'); }, "a+b+c"},
        {"upper", "abc1\xe9", [](XString s) { return s.MakeUpper(); }, "ABC1\xe9"},
        {"lower", "ABC1", [](XString s) { return s.ToLower(); }, "abc1"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.expected, c.edit(XString(c.input))) << c.name;
    // A byte replaced by a zero ends the text there, as for any XString.
    EXPECT_EQ(XString("a-b-c").Replace('-', '\0').GetLength(), 1u);
}

TEST(XString, Classification)
{
    struct Case {
        const char* text;
        bool digits;
        bool number;
        int asInt;
    } cases[] = {
        {"", true, true, 0},
        {"123", true, true, 123},
        {"12.5", false, true, 12},
        {"1.2.3", false, false, 1},
        {"-5", false, false, -5},
        {"abc", false, false, 0},
    };
    for (const Case& c : cases) {
        XString s(c.text);
        EXPECT_EQ(c.digits, s.IsAllDigits()) << c.text;
        EXPECT_EQ(c.number, s.IsNumber()) << c.text;
        EXPECT_EQ(c.asInt, s.ToInt()) << c.text;
    }
    EXPECT_TRUE(XString("").ConsistsOf("ab"));
    EXPECT_TRUE(XString("abba").ConsistsOf("ab"));
    EXPECT_FALSE(XString("abc").ConsistsOf("ab"));
    EXPECT_DOUBLE_EQ(12.25, XString("12.25").ToDouble());
}

TEST(XString, Utf16Conversion)
{
    XString ansi("A\x80\xe9");   // A, euro sign, e acute in the ANSI code page
    std::u16string wide = ansi.ToUtf16();
    EXPECT_EQ(std::u16string(u"A\u20AC\u00E9"), wide);
    EXPECT_STREQ("A\x80\xe9", XString::FromUtf16(wide));
    EXPECT_STREQ("?", XString::FromUtf16(u"\u4E2D"));
    EXPECT_STREQ("\xe2\x82\xac", XString::FromUtf16(u"\u20AC", XString::CodePageUtf8));
    EXPECT_THROW(ansi.ToUtf16(437), XException);
}

// Every byte of the code page to wide text and back to the same byte, each
// defined byte to the character the system's own code page 1252 table names
// for it (the five unassigned bytes stand for themselves), and the
// typographic quotes, dashes and euro sign from wide text to their bytes.
TEST(XString, CodePageBothWaysForEveryByte)
{
    iconv_t system = iconv_open("UTF-16LE", "CP1252");
    ASSERT_NE(system, reinterpret_cast<iconv_t>(-1));
    for (int value = 1; value <= 255; ++value) {
        SCOPED_TRACE(value);
        char byte = static_cast<char>(value);
        const std::u16string wide = XString(std::string(1, byte).c_str()).ToUtf16();
        ASSERT_EQ(wide.size(), 1u);
        char16_t expected = static_cast<char16_t>(value);
        char* in = &byte;
        size_t inLeft = 1;
        char out[4] = {};
        char* outAt = out;
        size_t outLeft = sizeof out;
        if (iconv(system, &in, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1))
            std::memcpy(&expected, out, sizeof expected);
        EXPECT_EQ(static_cast<int>(wide[0]), static_cast<int>(expected));
        EXPECT_EQ(XString::FromUtf16(wide).str(), std::string(1, static_cast<char>(value)));
    }
    iconv_close(system);

    const struct
    {
        char16_t character;
        const char* byte;
    } typographic[] = {
        {u'\u2018', "\x91"}, {u'\u2019', "\x92"}, {u'\u201C', "\x93"}, {u'\u201D', "\x94"},
        {u'\u2013', "\x96"}, {u'\u2014', "\x97"}, {u'\u20AC', "\x80"},
    };
    for (const auto& t : typographic) {
        SCOPED_TRACE(static_cast<int>(t.character));
        EXPECT_EQ(XString::FromUtf16(std::u16string(1, t.character)).str(), t.byte);
        EXPECT_EQ(XString(t.byte).ToUtf16(), std::u16string(1, t.character));
    }
}

TEST(XException, RaiseErrorCutsLongMessages)
{
    std::string longText(2000, 'm');
    try {
        XException::RaiseError(XErrorKind::InputOutput, ENOENT, "%s", longText.c_str());
        FAIL() << "no exception";
    } catch (const XException& e) {
        EXPECT_EQ(XException::MaxMessage, std::string(e.what()).size());
        EXPECT_EQ(ENOENT, e.GetCode());
    }
    XException copy("text", 5);
    XException other = copy;
    EXPECT_STREQ("text", other.what());
    EXPECT_EQ(5, other.GetCode());
}

TEST(XByteBuffer, CapacityFollowsGranularity)
{
    XByteBuffer buffer(16);
    const char bytes[] = "0123456789abcdefXYZ";
    buffer.Set(bytes, 3);
    EXPECT_EQ(16u, buffer.GetCapacity());
    buffer.Append(bytes + 3, 14);
    EXPECT_EQ(17u, buffer.GetLength());
    EXPECT_EQ(32u, buffer.GetCapacity());
    EXPECT_EQ(0, std::memcmp(buffer.GetData(), bytes, 17));
    buffer.SetLength(2);   // at least one granule too large: shrinks
    EXPECT_EQ(16u, buffer.GetCapacity());
    EXPECT_EQ('1', buffer.GetData()[1]);
    buffer.Append(buffer.GetData(), 2);   // appending from itself
    EXPECT_EQ(0, std::memcmp(buffer.GetData(), "0101", 4));
    buffer.Clear();
    EXPECT_EQ(0u, buffer.GetCapacity());
}

} // namespace
