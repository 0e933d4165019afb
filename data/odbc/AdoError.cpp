// AdoError: the exception carried out of the recordset layer and the texts of
// its result codes.
#include "data/odbc/AdoError.h"

#include <cstdio>

AdoException::AdoException(uint32_t code, std::string source, std::string description, AdoErrors errors)
    : m_code(code), m_source(std::move(source)), m_description(std::move(description)), m_errors(std::move(errors))
{
}

std::string AdoSystemMessage(uint32_t code)
{
    switch (code) {
    case AdoCode::ProviderError:
        return "The data source reported an error.";
    case AdoCode::NoCurrentRecord:
        return "There is no current record: the position is before the first or after the last row.";
    case AdoCode::InvalidArgument:
        return "An argument is of the wrong kind or out of range.";
    case AdoCode::ItemNotFound:
        return "The result has no field of that name or position.";
    case AdoCode::ObjectClosed:
        return "The operation is not allowed while the object is closed.";
    case AdoCode::ObjectOpen:
        return "The operation is not allowed while the object is open.";
    case AdoCode::ConnectionLost:
        return "The connection to the data source was lost.";
    case AdoCode::ConversionFailed:
        return "A value could not be converted to the kind of its field.";
    case AdoCode::OutOfMemory:
        return "Not enough memory to complete the operation.";
    default:
        break;
    }
    char text[64];
    if (code >= 0x80040200u && code <= 0x8004FFFFu)
        std::snprintf(text, sizeof text, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
    else
        std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
    return text;
}

bool AdoIsConnectionLostState(const std::string& sqlState)
{
    // 08S01 communication link failure, 08003 connection not open, 08007
    // connection failure during a transaction; HYT01 is a connection time-out
    // on an established link.
    // 57P01/57P02 are a PostgreSQL server's notice that it ended the
    // session (administrator command, crash of another session), 57P03 that
    // it cannot take connections now; drivers relay them first and may
    // still report the link as alive.
    return sqlState == "08S01" || sqlState == "08003" || sqlState == "08007" || sqlState == "HYT01" ||
           sqlState == "57P01" || sqlState == "57P02" || sqlState == "57P03";
}
