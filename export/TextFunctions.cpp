// Text helpers shared by the data-access layer, the engine and the driver:
// the byte-for-byte conversion between XString and QString that the task's
// signals use, joining texts, phone numbers, and safe file and folder names.
#include "export/BridgeTaskBase.h"

#include <cstring>

QString ToQString(const XString& text)
{
    return QString::fromLatin1(text.GetText(), static_cast<int>(text.GetLength()));
}

XString ToXString(const QString& text)
{
    return XString(text.toLatin1().constData());
}

XString JoinNonEmpty(const XString& a, const XString& b, const XString& separator)
{
    if (a.IsEmpty())
        return b;
    if (b.IsEmpty())
        return a;
    return a + separator + b;
}

namespace {

// The digits with the separators the importer expects for their count, or
// an empty text when the count has no layout.
XString LayoutDigits(const XString& d)
{
    switch (d.GetLength()) {
    case 7:
        return d.Range(0, 3) + "-" + d.From(3);
    case 8:
    case 9:
        return d;
    case 10:
        return d.Range(0, 3) + " " + d.Range(3, 6) + "-" + d.From(6);
    case 11:
        return "+" + d.Range(0, 1) + "-" + d.Range(1, 4) + "-" + d.Range(4, 7) + "-" + d.From(7);
    default: {
        // 12 to 14: the country code takes the digits before the last ten.
        const uint32_t cc = d.GetLength() - 10;
        return "+" + d.Range(0, cc) + " " + d.Range(cc, cc + 3) + " " + d.Range(cc + 3, cc + 6) +
               "-" + d.From(cc + 6);
    }
    }
}

} // namespace

XString FormatPhoneNumber(const XString& text, XString& warning)
{
    warning.Clear();
    if (text.IsEmpty())
        return text;

    XString work = text;
    work.RemoveSet("() -");

    XString extension;
    static const char* const markers[] = {"ext", "Ext", "x"};
    for (const char* marker : markers) {
        const int32_t at = work.FindText(marker);
        if (at >= 0) {
            extension = work.From(static_cast<uint32_t>(at) + static_cast<uint32_t>(strlen(marker)));
            work.Truncate(static_cast<uint32_t>(at));
            break;
        }
    }

    XString number;
    const uint32_t n = work.GetLength();
    if (work.IsAllDigits() && n >= 7 && n <= 14) {
        number = LayoutDigits(work);
    } else {
        warning = XString("Phone number: ") + text +
                  ", cannot parse into right format.  This means that the phone number in your "
                  "database is not in phone number format.";
        number = text;
    }
    return JoinNonEmpty(number, extension, " x");
}

XString BuildPhoneNumber(const XString& areaCode, const XString& exchange, const XString& number,
                         const XString& extension, const XString& countryCode)
{
    XString result = countryCode.IsEmpty() ? XString() : XString("+") + countryCode;
    result = JoinNonEmpty(result, areaCode, " ");
    result = JoinNonEmpty(result, exchange, " ");
    result = JoinNonEmpty(result, number, "-");
    return JoinNonEmpty(result, extension, " x");
}

QString CleanFileName(const QString& text)
{
    // Letters, digits and punctuation that cannot form a path; separators,
    // the drive colon and wildcards would let a value such as a school
    // number move the file into another folder.
    static const QString kept = QStringLiteral(",-.;=@[]^_");
    QString result = text;
    for (QChar& c : result) {
        const ushort u = c.unicode();
        const bool alnum = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9');
        if (!alnum && !kept.contains(c))
            c = QLatin1Char('_');
    }
    result.replace(QStringLiteral(".."), QStringLiteral("__"));
    if (result == QStringLiteral("."))
        result = QStringLiteral("_");
    return result;
}

XString CleanFileName(const XString& text)
{
    return ToXString(CleanFileName(ToQString(text)));
}

QString CleanFolderName(const QString& text)
{
    // Only what no file system takes in a path is replaced; everything else
    // is part of the folder the user chose.
    static const QString refused = QStringLiteral("*?\"<>|");
    QString result = text;
    for (QChar& c : result)
        if (c.unicode() < 0x20 || refused.contains(c))
            c = QLatin1Char('_');
    return result;
}

XString CleanFolderName(const XString& text)
{
    return ToXString(CleanFolderName(ToQString(text)));
}
