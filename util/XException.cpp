// XException: message formatting for RaiseError.
#include "util/XException.h"

#include <cstdarg>
#include <cstdio>

XException::XException(const char* message, int32_t code)
    : m_message(message ? message : ""), m_code(code)
{
}

void XException::RaiseError(int32_t code, const char* format, ...)
{
    // A local area keeps long messages cut at MaxMessage bytes without any
    // shared state between raisers.
    char message[MaxMessage + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format ? format : "", args);
    va_end(args);
    throw XException(message, code);
}
