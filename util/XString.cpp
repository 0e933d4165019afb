// XString: byte-string operations. Every operation treats the text as
// zero-terminated 8-bit bytes.
#include "util/XString.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QString>

#include "util/XException.h"

namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned bytes map to themselves,
// as the system conversion does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool InSet(const char* set, char byte)
{
    return set && byte != '\0' && std::strchr(set, byte) != nullptr;
}

// Cuts at an embedded zero byte: the text is zero-terminated by contract.
void CutAtZero(std::string& text)
{
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
}

// The printf-style text, cut at an embedded zero byte. Throws XException
// for a format the C library rejects.
std::string FormatArgs(const char* format, va_list args)
{
    if (!format)
        return std::string();
    va_list measure;
    va_copy(measure, args);
    int needed = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (needed < 0)
        XException::RaiseError(XErrorKind::Internal, 0, "Invalid format text: %s", format);
    std::string out(static_cast<size_t>(needed) + 1, '\0');
    vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(needed));
    CutAtZero(out);
    return out;
}

} // namespace

XString::XString(const char* text) : m_text(text ? text : "") {}

XString::XString(char byte)
{
    if (byte != '\0')
        m_text.assign(1, byte);
}

XString::XString(int32_t value) : m_text(std::to_string(value)) {}

XString::XString(int64_t value) : m_text(std::to_string(value)) {}

XString::XString(double value, int decimals)
{
    Format("%.*f", decimals < 0 ? 0 : decimals, value);
}

XString::XString(float value, int decimals) : XString(static_cast<double>(value), decimals) {}

XString& XString::operator=(const char* text)
{
    // Assigning part of this very text must not read freed memory.
    std::string copy(text ? text : "");
    m_text.swap(copy);
    return *this;
}

XString& XString::Append(const char* text)
{
    if (text)
        m_text.append(std::string(text));
    return *this;
}

XString& XString::Append(const XString& other)
{
    m_text.append(other.m_text);
    return *this;
}

XString& XString::Append(char byte)
{
    if (byte != '\0')
        m_text.push_back(byte);
    return *this;
}

XString& XString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        m_text = FormatArgs(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return *this;
}

bool XString::operator==(const char* text) const
{
    return m_text == (text ? text : "");
}

int XString::Compare(const char* text) const
{
    const char* a = m_text.c_str();
    const char* b = text ? text : "";
    for (;; ++a, ++b) {
        signed char ca = static_cast<signed char>(*a);
        signed char cb = static_cast<signed char>(*b);
        if (ca != cb)
            return ca - cb;
        if (ca == 0)
            return 0;
    }
}

int XString::CompareNoCase(const char* text) const
{
    const char* a = m_text.c_str();
    const char* b = text ? text : "";
    for (;; ++a, ++b) {
        signed char ca = static_cast<signed char>(std::toupper(static_cast<unsigned char>(*a)));
        signed char cb = static_cast<signed char>(std::toupper(static_cast<unsigned char>(*b)));
        if (ca != cb)
            return ca - cb;
        if (ca == 0)
            return 0;
    }
}

uint32_t XString::Find(char byte) const
{
    size_t at = m_text.find(byte);
    return at == std::string::npos ? GetLength() : static_cast<uint32_t>(at);
}

int32_t XString::FindText(const char* text, uint32_t start) const
{
    if (!text || start > m_text.size())
        return -1;
    size_t at = m_text.find(text, start);
    return at == std::string::npos ? -1 : static_cast<int32_t>(at);
}

XString XString::Left(uint32_t count) const
{
    XString out;
    out.m_text = m_text.substr(0, count);
    return out;
}

XString XString::From(uint32_t position) const
{
    XString out;
    if (position < m_text.size())
        out.m_text = m_text.substr(position);
    return out;
}

XString XString::Range(uint32_t position, uint32_t end) const
{
    XString out;
    if (position < m_text.size() && end > position)
        out.m_text = m_text.substr(position, end - position);
    return out;
}

XString& XString::Insert(const char* text, uint32_t position)
{
    if (text) {
        std::string copy(text);
        m_text.insert(position < m_text.size() ? position : m_text.size(), copy);
    }
    return *this;
}

XString& XString::Truncate(uint32_t length)
{
    if (length < m_text.size())
        m_text.resize(length);
    return *this;
}

XString XString::Quoted() const
{
    XString out;
    out.m_text.reserve(m_text.size() + 2);
    out.m_text.push_back('"');
    out.m_text.append(m_text);
    out.m_text.push_back('"');
    return out;
}

XString& XString::Trim()
{
    size_t begin = 0, end = m_text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(m_text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(m_text[end - 1])))
        --end;
    m_text = m_text.substr(begin, end - begin);
    return *this;
}

XString& XString::TrimLeft(const char* set)
{
    size_t begin = 0;
    while (begin < m_text.size() && InSet(set, m_text[begin]))
        ++begin;
    m_text.erase(0, begin);
    return *this;
}

XString& XString::TrimRight(const char* set)
{
    size_t end = m_text.size();
    while (end > 0 && InSet(set, m_text[end - 1]))
        --end;
    m_text.resize(end);
    return *this;
}

XString& XString::RemoveSet(const char* set)
{
    std::string out;
    out.reserve(m_text.size());
    for (char c : m_text)
        if (!InSet(set, c))
            out.push_back(c);
    m_text.swap(out);
    return *this;
}

XString& XString::RemoveRange(unsigned char low, unsigned char high)
{
    std::string out;
    out.reserve(m_text.size());
    for (char c : m_text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < low || u > high)
            out.push_back(c);
    }
    m_text.swap(out);
    return *this;
}

XString& XString::RemoveAll(const char* text)
{
    if (!text || !*text)
        return *this;
    std::string what(text);
    for (size_t at = m_text.find(what); at != std::string::npos; at = m_text.find(what))
        m_text.erase(at, what.size());
    return *this;
}

XString& XString::Replace(char from, char to)
{
    if (from == '\0')
        return *this;
    char* const end = m_text.data() + m_text.size();
    for (char* p = m_text.data(); (p = static_cast<char*>(std::memchr(p, from, end - p))) != nullptr;)
        *p++ = to;
    if (to == '\0')
        CutAtZero(m_text);
    return *this;
}

XString& XString::ReplaceAll(const char* from, const char* to)
{
    if (!from || !*from)
        return *this;
    std::string what(from), with(to ? to : "");
    std::string out;
    size_t start = 0;
    for (size_t at = m_text.find(what); at != std::string::npos; at = m_text.find(what, start)) {
        out.append(m_text, start, at - start);
        out.append(with);
        start = at + what.size();
    }
    out.append(m_text, start, std::string::npos);
    m_text.swap(out);
    return *this;
}

XString& XString::MakeUpper()
{
    for (char& c : m_text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return *this;
}

XString XString::ToUpper() const
{
    XString out(*this);
    return out.MakeUpper();
}

XString XString::ToLower() const
{
    XString out(*this);
    for (char& c : out.m_text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool XString::ConsistsOf(const char* set) const
{
    for (char c : m_text)
        if (!InSet(set, c))
            return false;
    return true;
}

bool XString::IsAllDigits() const
{
    for (char c : m_text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool XString::IsNumber() const
{
    bool point = false;
    for (char c : m_text) {
        if (c == '.' && !point)
            point = true;
        else if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

int XString::ToInt() const
{
    return std::atoi(m_text.c_str());
}

double XString::ToDouble() const
{
    return std::atof(m_text.c_str());
}

std::u16string XString::ToUtf16(int codePage) const
{
    if (codePage == CodePageUtf8)
        return QString::fromUtf8(m_text.data(), static_cast<qsizetype>(m_text.size())).toStdU16String();
    if (codePage != CodePageAnsi)
        XException::RaiseError(XErrorKind::Conversion, EINVAL, "XString::WinToWChar error");
    std::u16string out;
    out.reserve(m_text.size());
    for (char c : m_text) {
        unsigned char u = static_cast<unsigned char>(c);
        out.push_back(u >= 0x80 && u < 0xA0 ? kCp1252High[u - 0x80] : static_cast<char16_t>(u));
    }
    return out;
}

XString XString::FromUtf16(const std::u16string& text, int codePage)
{
    XString out;
    if (codePage == CodePageUtf8) {
        out.m_text = QString::fromStdU16String(text).toUtf8().toStdString();
        CutAtZero(out.m_text);
        return out;
    }
    if (codePage != CodePageAnsi)
        XException::RaiseError(XErrorKind::Conversion, EINVAL, "XString::WinToWChar error");
    for (char16_t ch : text) {
        if (ch == 0)
            break;
        char byte = '?';
        if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
            byte = static_cast<char>(ch);
        } else {
            for (int i = 0; i < 32; ++i)
                if (kCp1252High[i] == ch)
                    byte = static_cast<char>(0x80 + i);
        }
        out.m_text.push_back(byte);
    }
    return out;
}

XString operator+(const XString& left, const XString& right)
{
    XString out(left);
    return out.Append(right);
}

XString operator+(const XString& left, const char* right)
{
    XString out(left);
    return out.Append(right);
}

XString operator+(const char* left, const XString& right)
{
    XString out(left);
    return out.Append(right);
}

XString operator+(const XString& left, char right)
{
    XString out(left);
    return out.Append(right);
}
