// XException: the one exception type of the task chain. It carries a message,
// the kind of failure (callers decide on the kind, never on the message),
// and the cause's own numbers: a code whose meaning the kind gives, and for a
// database failure the driver's SQLSTATE and native error number. Raised
// through RaiseError with printf-style formatting.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// What failed. The code of an XException means, by kind:
enum class XErrorKind {
    Internal,        // a step the bridge cannot take (bad request, programming error); 0 or a reason number
    InputOutput,     // a file, folder or disk operation; the errno
    Database,        // the source database or the cache refused or failed; the driver's result code
    ConnectionLost,  // the link to the source database is gone, so a reconnect may help; the driver's result code
    Conversion,      // a value could not be converted to the kind asked for
    Interrupted,     // SIGTERM or SIGINT asked the run to stop; 0
};

class XException : public std::exception
{
public:
    // Longest message RaiseError keeps; longer texts are cut at this length.
    static constexpr size_t MaxMessage = 1024;

    // An internal failure.
    explicit XException(const char* message, int32_t code = 0);
    XException(XErrorKind kind, const char* message, int32_t code = 0, std::string sqlState = std::string(),
               int32_t nativeCode = 0);
    XException(const XException&) = default;
    XException& operator=(const XException&) = default;
    ~XException() override = default;

    const char* what() const noexcept override { return m_message.c_str(); }
    XErrorKind Kind() const noexcept { return m_kind; }
    int32_t GetCode() const noexcept { return m_code; }
    // Five characters for a database failure the driver described, else empty.
    const std::string& SqlState() const noexcept { return m_sqlState; }
    // The database's own error number, or 0.
    int32_t NativeCode() const noexcept { return m_nativeCode; }
    // True for a failure of the database itself (it refused, failed, or the
    // link to it is gone), as opposed to an answer such as "no such table"
    // read from a result.
    bool IsDatabaseFailure() const noexcept
    {
        return m_kind == XErrorKind::Database || m_kind == XErrorKind::ConnectionLost;
    }

    // The failure `cause` told with `message`: the kind and numbers of an
    // XException are kept, so context can be added on the way up without
    // losing what failed; any other exception gives an internal failure.
    static XException Rephrase(const std::exception& cause, const char* message);

    // The message RaiseError makes of a format and its arguments: cut at
    // MaxMessage bytes.
    static std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Formats the message (cut at MaxMessage bytes) and throws it.
    [[noreturn]] static void RaiseError(XErrorKind kind, int32_t code, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

private:
    std::string m_message;
    XErrorKind m_kind = XErrorKind::Internal;
    int32_t m_code = 0;
    std::string m_sqlState;
    int32_t m_nativeCode = 0;
};
