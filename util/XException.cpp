// XException: construction and message formatting for RaiseError.
#include "util/XException.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

XException::XException(const char* message, int32_t code)
    : XException(XErrorKind::Internal, message, code)
{
}

XException::XException(XErrorKind kind, const char* message, int32_t code, std::string sqlState,
                       int32_t nativeCode)
    : m_message(message ? message : ""), m_kind(kind), m_code(code), m_sqlState(std::move(sqlState)),
      m_nativeCode(nativeCode)
{
}

XException XException::Rephrase(const std::exception& cause, const char* message)
{
    const auto* failure = dynamic_cast<const XException*>(&cause);
    if (!failure)
        return XException(message);
    XException copy = *failure;
    copy.m_message = message ? message : "";
    return copy;
}

namespace {

// The text of `format` and `args` in at most MaxMessage bytes.
std::string FormatCut(const char* format, va_list args)
{
    // A local area keeps long messages cut at MaxMessage bytes without any
    // shared state between raisers.
    char message[XException::MaxMessage + 1];
    vsnprintf(message, sizeof message, format ? format : "", args);
    return message;
}

} // namespace

std::string XException::FormatMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = FormatCut(format, args);
    va_end(args);
    return message;
}

void XException::RaiseError(XErrorKind kind, int32_t code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string message = FormatCut(format, args);
    va_end(args);
    throw XException(kind, message.c_str(), code);
}
