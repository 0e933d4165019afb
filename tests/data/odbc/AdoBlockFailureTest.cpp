// A block of rows that the driver could not read whole: the rows before the
// failed one arrive, each with its own values, and then the failure, as
// when rows are fetched one at a time; a failure on the block's first row
// fails at once. The SQLite test source is read in blocks here (its driver
// does not offer reading a row of a block with SQLGetData, so this
// executable offers it in the driver's name), and the block's failures are
// made at the driver manager's entry points, which this executable defines
// and passes on to the real ones.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoError.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/support/TestOdbcSource.h"

namespace {

int g_failRow = -1;            // the row of the next block that fails; -1 none
SQLRETURN g_failReturn = SQL_ERROR;  // what that block's SQLFetch answers
SQLHSTMT g_failed = SQL_NULL_HSTMT;  // the statement whose fetch failed
int g_blockRows = 0;           // rows the last block asked for

template <class Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT length,
                                        SQLSMALLINT* valueLength)
{
    static const auto real =
        Real<SQLRETURN (*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*)>("SQLGetInfo");
    const SQLRETURN rc = real(dbc, type, value, length, valueLength);
    if (type == SQL_GETDATA_EXTENSIONS && SQL_SUCCEEDED(rc))
        *static_cast<SQLUINTEGER*>(value) |= SQL_GD_BLOCK;
    return rc;
}

extern "C" SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt)
{
    static const auto real = Real<SQLRETURN (*)(SQLHSTMT)>("SQLFetch");
    const SQLRETURN rc = real(stmt);
    SQLULEN rows = 1;
    SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &rows, sizeof rows, nullptr);
    g_blockRows = static_cast<int>(rows);
    if (!SQL_SUCCEEDED(rc) || g_failRow < 0)
        return rc;
    SQLUSMALLINT* statuses = nullptr;
    SQLULEN* fetched = nullptr;
    SQLGetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, &statuses, sizeof statuses, nullptr);
    SQLGetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, sizeof fetched, nullptr);
    if (!statuses || !fetched || static_cast<SQLULEN>(g_failRow) >= *fetched)
        return rc;
    // The failed row and the rest: a driver reads no further.
    statuses[g_failRow] = SQL_ROW_ERROR;
    for (SQLULEN i = static_cast<SQLULEN>(g_failRow) + 1; i < *fetched; ++i)
        statuses[i] = SQL_ROW_NOROW;
    *fetched = static_cast<SQLULEN>(g_failRow) + 1;
    g_failRow = -1;
    g_failed = stmt;
    return g_failReturn;
}

extern "C" SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                           SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT length,
                                           SQLSMALLINT* textLength)
{
    static const auto real = Real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*,
                                                SQLSMALLINT, SQLSMALLINT*)>("SQLGetDiagRec");
    if (type != SQL_HANDLE_STMT || handle != g_failed || g_failed == SQL_NULL_HSTMT)
        return real(type, handle, record, state, native, text, length, textLength);
    if (record != 1)
        return SQL_NO_DATA;
    const char message[] = "server closed the connection unexpectedly";
    std::memcpy(state, "08S01", 6);
    *native = 0;
    std::strncpy(reinterpret_cast<char*>(text), message, static_cast<size_t>(length));
    *textLength = static_cast<SQLSMALLINT>(sizeof message - 1);
    return SQL_SUCCESS;
}

namespace {

TEST(AdoBlockFailure, RowsBeforeAFailedRowArriveThenTheLostLink)
{
    TestOdbcSource source("MorvBlockFailure");
    source.Exec("CREATE TABLE Pupils (Id INTEGER, Name VARCHAR(20));"
                "INSERT INTO Pupils VALUES (1, 'one'), (2, 'two'), (3, NULL), (4, 'four'), (5, 'five'), (6, 'six');");
    const struct
    {
        const char* name;
        int failRow;
        SQLRETURN answer;
        int rowsBefore;  // the rows that arrive before the failure
    } cases[] = {
        {"fourth row fails the fetch", 3, SQL_ERROR, 3},
        {"fourth row fails, the fetch says so as a warning", 3, SQL_SUCCESS_WITH_INFO, 3},
        {"first row fails", 0, SQL_ERROR, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AdoConnection connection;
        connection.Open("Provider=MSDASQL;Persist Security Info=False;Data Source=" + source.Dsn());
        g_failRow = c.failRow;
        g_failReturn = c.answer;
        g_failed = SQL_NULL_HSTMT;
        AdoRecordset rows;
        std::vector<std::string> seen;
        try {
            rows.Open("SELECT Id, Name FROM Pupils ORDER BY Id", connection, adOpenForwardOnly);
            EXPECT_GT(g_blockRows, c.failRow + 1) << "read in blocks";
            for (; !rows.IsEOF(); rows.MoveNext()) {
                const AdoVariant& name = rows.Fields().Item(1L).Value();
                seen.push_back(std::to_string(rows.Fields().Item(0L).Value().AsInt64()) + " " +
                               (name.IsNull() ? "<null>" : name.Text()));
            }
            ADD_FAILURE() << "no failure";
        } catch (const AdoException& e) {
            EXPECT_TRUE(e.IsConnectionLost()) << e.what();
            EXPECT_EQ(std::string(e.what()), "server closed the connection unexpectedly");
            ASSERT_FALSE(connection.Errors().empty());
            EXPECT_EQ(connection.Errors().front().sqlState, "08S01");
        }
        const std::vector<std::string> all{"1 one", "2 two", "3 <null>", "4 four", "5 five", "6 six"};
        EXPECT_EQ(seen, std::vector<std::string>(all.begin(), all.begin() + c.rowsBefore));
        EXPECT_TRUE(rows.IsEOF());
    }
}

}  // namespace
