// How a lost link is recognised, each way on its own: a SQLSTATE from the list
// of lost-connection states while the driver still calls the connection alive,
// and the driver's dead-connection attribute under a state that is not in the
// list. A real connection to the SQLite test source runs a failing statement;
// the driver's answers to those two questions are replaced at the driver
// manager's entry points, which this executable defines and passes on to the
// real ones (so no driver here has to lose a link on cue). Existence checks
// whose link is lost before and after their one reconnect.
#include "data/DatabaseTypes.h"
#include "data/ODBCDataAccess.h"
#include "tests/support/TestOdbcSource.h"
#include "util/XException.h"

#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

std::string g_state;  // the first diagnostic's SQLSTATE; empty: the driver's own
int g_dead = -1;      // the dead-connection attribute: 1 dead, 0 alive, -1 the driver's own answer
bool g_healOnConnect = false;  // a new connection brings the driver's own states back
int g_connects = 0;

template <class Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// A trial statement (existence checks by SELECT) says "no such table or
// field" only by failing, so a failure that is a lost link is no answer:
// the check reconnects once and asks again. Lost again after the reconnect,
// the check fails the run as a lost connection, is not remembered, and is
// never taken for "does not exist".
TEST(LostConnection, AnExistenceCheckLostAgainAfterTheReconnectIsNoAnswer)
{
    TestOdbcSource source("MorvLostLinkCheck");
    source.Exec("CREATE TABLE Pupils (Id INTEGER);");
    const struct
    {
        const char* table;
        const char* field;  // nullptr: a table check
        bool healed;        // the new connection works
        bool exists;        // the answer once it works
    } cases[] = {
        // Missing names: the trial statements fail whether or not the link
        // is lost, and only the link's state tells the two apart.
        {"Missing", nullptr, true, false}, {"Pupils", "Nope", true, false},
        {"Missing", nullptr, false, false}, {"Pupils", "Nope", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " / " + (c.field ? c.field : "-") +
                     (c.healed ? ", healed by the reconnect" : ", lost again after the reconnect"));
        ODBCDataAccess access(DataAccessOption::PlainExistenceChecks, DatabaseType::MSSQL);
        access.SetDataSource(source.Dsn().c_str());
        access.Connect(access.BuildConnectionString());
        // A failing statement says the link is lost.
        g_state = "08S01";
        g_healOnConnect = c.healed;
        const int connects = g_connects;
        auto ask = [&] { return c.field ? access.FieldExists(c.table, c.field) : access.TableExists(c.table); };
        if (c.healed) {
            EXPECT_EQ(ask(), c.exists);
        } else {
            try {
                const bool answer = ask();
                ADD_FAILURE() << "answered " << answer;
            } catch (const XException& e) {
                EXPECT_EQ(e.Kind(), XErrorKind::ConnectionLost) << e.what();
                EXPECT_NE(std::string(e.what()).find(std::string("Could not check whether ") +
                                                     (c.field ? "field " : "table ")),
                          std::string::npos)
                    << e.what();
            }
        }
        EXPECT_EQ(g_connects - connects, 1) << "one reconnect";
        // The link works again: the question is asked, not answered from
        // memory, and gets its true answer.
        g_state.clear();
        g_healOnConnect = false;
        if (!access.IsConnected())
            access.Connect(access.BuildConnectionString());
        const long long sent = access.StatementsSent();
        EXPECT_EQ(ask(), c.exists);
        EXPECT_EQ(access.StatementsSent() - sent, c.healed ? 0 : 1);
    }
}

} // namespace

extern "C" SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                           SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT length,
                                           SQLSMALLINT* textLength)
{
    static const auto real = Real<SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*,
                                                SQLSMALLINT, SQLSMALLINT*)>("SQLGetDiagRec");
    const SQLRETURN rc = real(type, handle, record, state, native, text, length, textLength);
    if (SQL_SUCCEEDED(rc) && record == 1 && state && !g_state.empty())
        std::memcpy(state, g_state.c_str(), 6);
    return rc;
}

extern "C" SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                               SQLINTEGER length, SQLINTEGER* valueLength)
{
    static const auto real =
        Real<SQLRETURN (*)(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER*)>("SQLGetConnectAttr");
    if (attribute == SQL_ATTR_CONNECTION_DEAD && g_dead >= 0) {
        *static_cast<SQLUINTEGER*>(value) = g_dead ? SQL_CD_TRUE : SQL_CD_FALSE;
        return SQL_SUCCESS;
    }
    return real(dbc, attribute, value, length, valueLength);
}

extern "C" SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLength,
                                              SQLCHAR* out, SQLSMALLINT outLength, SQLSMALLINT* outLengthUsed,
                                              SQLUSMALLINT completion)
{
    static const auto real = Real<SQLRETURN (*)(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                                SQLSMALLINT*, SQLUSMALLINT)>("SQLDriverConnect");
    ++g_connects;
    if (g_healOnConnect)
        g_state.clear();
    return real(dbc, window, in, inLength, out, outLength, outLengthUsed, completion);
}

namespace {

TEST(LostConnection, EachSignOfALostLinkIsRecognisedOnItsOwn)
{
    TestOdbcSource source("MorvLostLinkTest");
    source.Exec("CREATE TABLE Pupils (Id INTEGER);");
    const struct
    {
        const char* state;
        int dead;
        bool lost;
    } cases[] = {
        // Each lost-connection state while the driver calls the link alive.
        {"08S01", 0, true}, {"08003", 0, true}, {"08007", 0, true}, {"HYT01", 0, true},
        {"57P01", 0, true}, {"57P02", 0, true}, {"57P03", 0, true},
        // The driver calls the link dead under states that are not in the list.
        {"01000", 1, true}, {"HY000", 1, true},
        // Neither sign: an ordinary failure of the statement.
        {"HY000", 0, false}, {"08001", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.state) + (c.dead ? " dead" : " alive"));
        ODBCDataAccess access(0, DatabaseType::MSSQL);
        access.SetDataSource(source.Dsn().c_str());
        access.Connect(access.BuildConnectionString());
        ASSERT_TRUE(access.IsConnected());
        g_state = c.state;
        g_dead = c.dead;
        bool raised = false;
        XErrorKind kind = XErrorKind::Internal;
        try {
            access.RunQuery("SELECT * FROM NoSuchTable");
        } catch (const XException& error) {
            raised = true;
            kind = error.Kind();
        }
        g_state.clear();
        g_dead = -1;
        EXPECT_TRUE(raised);
        if (c.lost) {
            EXPECT_EQ(kind, XErrorKind::ConnectionLost);
            EXPECT_FALSE(access.IsConnected());
        } else {
            EXPECT_EQ(kind, XErrorKind::Database);
            EXPECT_TRUE(access.IsConnected());
        }
    }
}

} // namespace
