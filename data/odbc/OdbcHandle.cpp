// OdbcHandle: ownership of ODBC handles and complete reading of their
// diagnostics.
#include "data/odbc/OdbcHandle.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type)
{
    SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (!OdbcOk(rc)) {
        m_handle = SQL_NULL_HANDLE;
        if (parent == SQL_NULL_HANDLE)
            throw AdoException(AdoCode::OutOfMemory, "OdbcHandle",
                               "The ODBC driver manager could not make an environment.");
        const SQLSMALLINT parentType = type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC
                                       : type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV
                                                                : SQL_HANDLE_ENV;
        OdbcThrow(parentType, parent, "OdbcHandle", "The ODBC driver manager could not make a handle.");
    }
}

OdbcHandle::~OdbcHandle()
{
    Reset();
}

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept
    : m_type(other.m_type), m_handle(std::exchange(other.m_handle, static_cast<SQLHANDLE>(SQL_NULL_HANDLE)))
{
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_type = other.m_type;
        m_handle = std::exchange(other.m_handle, static_cast<SQLHANDLE>(SQL_NULL_HANDLE));
    }
    return *this;
}

void OdbcHandle::Reset()
{
    if (m_handle == SQL_NULL_HANDLE)
        return;
    SQLFreeHandle(m_type, m_handle);
    m_handle = SQL_NULL_HANDLE;
}

AdoErrors OdbcDiagnostics(SQLSMALLINT type, SQLHANDLE handle, uint32_t code, const std::string& source)
{
    AdoErrors errors;
    if (handle == SQL_NULL_HANDLE)
        return errors;
    std::vector<SQLCHAR> message(256);
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native, message.data(),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_NO_DATA || !OdbcOk(rc))
            break;
        // A message longer than the buffer: grow it and read the record again.
        if (static_cast<size_t>(length) >= message.size()) {
            message.resize(static_cast<size_t>(length) + 1);
            rc = SQLGetDiagRec(type, handle, record, state, &native, message.data(),
                               static_cast<SQLSMALLINT>(message.size()), &length);
            if (!OdbcOk(rc))
                break;
        }
        AdoError e;
        e.sqlState = reinterpret_cast<const char*>(state);
        e.nativeError = native;
        const size_t used = std::min(static_cast<size_t>(length), message.size() - 1);
        e.description.assign(reinterpret_cast<const char*>(message.data()), used);
        e.number = AdoIsConnectionLostState(e.sqlState) ? AdoCode::ConnectionLost : code;
        e.source = source;
        errors.push_back(std::move(e));
        if (record == SHRT_MAX)
            break;
    }
    return errors;
}

void OdbcThrow(SQLSMALLINT type, SQLHANDLE handle, const std::string& source, const std::string& fallback,
               uint32_t code)
{
    AdoErrors errors = OdbcDiagnostics(type, handle, code, source);
    for (const AdoError& e : errors) {
        if (e.number == AdoCode::ConnectionLost) {
            code = AdoCode::ConnectionLost;
            break;
        }
    }
    const std::string description = errors.empty() ? fallback : errors.front().description;
    throw AdoException(code, source, description, std::move(errors));
}
