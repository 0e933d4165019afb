// XException: the one exception type of the task chain. It carries a message
// and a code (a system error code, a COM result, or 0) and is raised through
// RaiseError with printf-style formatting.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class XException : public std::exception
{
public:
    // Longest message RaiseError keeps; longer texts are cut at this length.
    static constexpr size_t MaxMessage = 1024;

    XException(const char* message, int32_t code = 0);
    XException(const XException&) = default;
    XException& operator=(const XException&) = default;
    ~XException() override = default;

    const char* what() const noexcept override { return m_message.c_str(); }
    int32_t GetCode() const noexcept { return m_code; }

    // Formats the message (cut at MaxMessage bytes) and throws it with the code.
    [[noreturn]] static void RaiseError(int32_t code, const char* format, ...)
        __attribute__((format(printf, 2, 3)));

private:
    std::string m_message;
    int32_t m_code = 0;
};
