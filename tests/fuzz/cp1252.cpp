// The conversions between the bridge's 8-bit text and UTF-16, both ways, in
// the code pages it knows (1252 and UTF-8). Code page 1252 gives every byte
// a character, so bytes -> UTF-16 -> bytes is the identity; UTF-16 ->
// bytes -> UTF-16 keeps every character the code page holds and turns each
// other one into one "?"; valid UTF-8 survives its round trip; another code
// page is refused, never guessed.
#include "tests/fuzz/FuzzCheck.h"
#include "util/XException.h"
#include "util/XString.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The bridge's text ends at a NUL, as XString does.
    std::string bytes(reinterpret_cast<const char *>(data), size);
    bytes = bytes.substr(0, bytes.find('\0'));
    const XString text(bytes.c_str());

    // 8-bit -> UTF-16 -> 8-bit.
    const std::u16string wide = text.ToUtf16(XString::CodePageAnsi);
    FUZZ_CHECK(wide.size() == bytes.size(), "one character per byte");
    FUZZ_CHECK(XString::FromUtf16(wide, XString::CodePageAnsi).str() == bytes, "code page 1252 round trip");

    // The input's bytes read as UTF-16 units -> 8-bit -> UTF-16.
    std::u16string units(size / 2, u'\0');
    std::copy(data, data + units.size() * 2, reinterpret_cast<uint8_t *>(units.data()));
    units = units.substr(0, units.find(u'\0'));
    const XString narrow = XString::FromUtf16(units, XString::CodePageAnsi);
    FUZZ_CHECK(narrow.GetLength() == units.size(), "one byte per UTF-16 unit");
    const std::u16string back = narrow.ToUtf16(XString::CodePageAnsi);
    for (size_t i = 0; i < units.size(); ++i)
        FUZZ_CHECK(back[i] == units[i] || (back[i] == u'?' && narrow.str()[i] == '?'),
                   "unit " + std::to_string(units[i]) + " came back as " + std::to_string(back[i]));

    // UTF-8 that is valid survives; no code page but the two is guessed.
    const QString decoded = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (decoded.toUtf8().toStdString() == bytes) {
        const std::u16string utf16 = text.ToUtf16(XString::CodePageUtf8);
        FUZZ_CHECK(XString::FromUtf16(utf16, XString::CodePageUtf8).str() == bytes, "UTF-8 round trip");
    }
    try {
        (void)text.ToUtf16(850);
        FUZZ_CHECK(false, "code page 850 taken");
    } catch (const XException &) {
    }
    return 0;
}
