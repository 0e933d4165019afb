// OdbcHandle: owns one ODBC handle (environment, connection or statement)
// and frees it on every path; OdbcDiagnostics reads every diagnostic record
// of a handle. Used inside the recordset layer only.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "data/odbc/AdoError.h"

class OdbcHandle
{
public:
    OdbcHandle() = default;
    // Allocates a handle of `type` under `parent` (SQL_NULL_HANDLE for an
    // environment). Throws AdoException with the parent's diagnostics when
    // the driver manager refuses.
    OdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~OdbcHandle();

    OdbcHandle(const OdbcHandle&) = delete;
    OdbcHandle& operator=(const OdbcHandle&) = delete;
    OdbcHandle(OdbcHandle&& other) noexcept;
    OdbcHandle& operator=(OdbcHandle&& other) noexcept;

    SQLHANDLE Get() const { return m_handle; }
    SQLSMALLINT Type() const { return m_type; }
    explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }

    // Frees the handle now (a connection is disconnected first when asked).
    void Reset();

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// Every diagnostic record of `handle`, read until SQL_NO_DATA with a message
// buffer that grows to the message's length. `number` of each record is
// AdoCode::ConnectionLost for link-failure SQLSTATEs and `code` otherwise.
AdoErrors OdbcDiagnostics(SQLSMALLINT type, SQLHANDLE handle, uint32_t code, const std::string& source);

// Throws an AdoException for a failed ODBC call on `handle`: the code is
// AdoCode::ConnectionLost when a record's SQLSTATE says the link is gone,
// otherwise `code`; the description is the first record's text, or
// `fallback` when the driver left none.
[[noreturn]] void OdbcThrow(SQLSMALLINT type, SQLHANDLE handle, const std::string& source,
                            const std::string& fallback, uint32_t code = AdoCode::ProviderError);

// True for SQL_SUCCESS and SQL_SUCCESS_WITH_INFO.
inline bool OdbcOk(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }
