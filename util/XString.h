// XString: the 8-bit, zero-terminated byte string in which values, SQL texts,
// paths and messages travel through the task chain. Bytes are taken as they
// are (ANSI code page); conversion to UTF-16 happens only at OS boundaries.
#pragma once

#include <cstdint>
#include <string>

class XString
{
public:
    // Code pages understood by the UTF-16 conversions.
    static constexpr int CodePageAnsi = 1252;
    static constexpr int CodePageUtf8 = 65001;

    XString() = default;
    XString(const char* text);               // nullptr gives the empty text
    XString(const XString& other) = default;
    XString(XString&& other) noexcept = default;
    explicit XString(char byte);
    explicit XString(int32_t value);         // decimal, "-" for negatives
    explicit XString(int64_t value);
    XString(double value, int decimals);     // printf "%.*f"
    XString(float value, int decimals);
    virtual ~XString() = default;

    XString& operator=(const XString& other) = default;
    XString& operator=(XString&& other) noexcept = default;
    XString& operator=(const char* text);    // nullptr gives the empty text

    XString& Append(const char* text);       // nullptr changes nothing
    XString& Append(const XString& other);
    XString& Append(char byte);
    XString& operator+=(const char* text) { return Append(text); }
    XString& operator+=(const XString& other) { return Append(other); }
    XString& operator+=(char byte) { return Append(byte); }

    // printf-style formatting; the buffer is sized from the result itself.
    XString& Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Older call form with a caller-given size: the size is ignored, the
    // result is never cut or overrun.
    template <typename... Args>
    XString& Format(uint32_t /*sizeHint*/, const char* format, Args... args)
    {
        return Format(format, args...);
    }

    const char* GetText() const { return m_text.c_str(); }
    const char* c_str() const { return m_text.c_str(); }
    operator const char*() const { return m_text.c_str(); }
    uint32_t GetLength() const { return static_cast<uint32_t>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Clear() { m_text.clear(); }
    char GetAt(uint32_t index) const { return index < m_text.size() ? m_text[index] : '\0'; }

    // Byte-wise; a nullptr text counts as empty.
    bool operator==(const XString& other) const { return m_text == other.m_text; }
    bool operator==(const char* text) const;
    bool operator!=(const XString& other) const { return !(*this == other); }
    bool operator!=(const char* text) const { return !(*this == text); }
    // Orders as Compare does, so XString serves as a std::map key.
    bool operator<(const XString& other) const { return Compare(other) < 0; }

    // Difference of the first differing bytes taken as signed 8-bit values.
    int Compare(const char* text) const;
    int CompareNoCase(const char* text) const;

    // Index of the first occurrence of the byte, or the length when absent.
    uint32_t Find(char byte) const;
    // Position of the first occurrence of the text, or -1.
    int32_t FindText(const char* text, uint32_t start = 0) const;

    XString Left(uint32_t count) const;
    XString From(uint32_t position) const;
    XString Range(uint32_t position, uint32_t end) const;   // [position, end)
    XString& Insert(const char* text, uint32_t position);
    XString& Truncate(uint32_t length);
    XString Quoted() const;                                 // "text"

    XString& Trim();                            // isspace bytes at both ends
    XString& TrimLeft(const char* set);
    XString& TrimRight(const char* set);
    XString& RemoveSet(const char* set);
    XString& RemoveRange(unsigned char low, unsigned char high);  // both included
    // Removes every occurrence, searching again from the start after each
    // removal so occurrences formed by a removal go too.
    XString& RemoveAll(const char* text);
    XString& Replace(char from, char to);
    // Left to right; an inserted replacement is never searched again.
    XString& ReplaceAll(const char* from, const char* to);

    XString& MakeUpper();                       // in place
    XString ToUpper() const;                    // copy
    XString ToLower() const;                    // copy

    bool ConsistsOf(const char* set) const;     // true for the empty text
    bool IsAllDigits() const;                   // true for the empty text
    bool IsNumber() const;                      // digits and at most one point
    int ToInt() const;                          // atoi
    double ToDouble() const;                    // atof

    // Conversions at the OS boundary. Unknown code pages raise
    // "XString::WinToWChar error"; bytes that cannot be represented become '?'.
    std::u16string ToUtf16(int codePage = CodePageAnsi) const;
    static XString FromUtf16(const std::u16string& text, int codePage = CodePageAnsi);

    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

XString operator+(const XString& left, const XString& right);
XString operator+(const XString& left, const char* right);
XString operator+(const char* left, const XString& right);
XString operator+(const XString& left, char right);
