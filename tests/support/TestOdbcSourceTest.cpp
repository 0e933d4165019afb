// Sources made one after another in one process (fixtures repeated, whole
// suites in one run) keep finding their driver.
#include <gtest/gtest.h>

#include "tests/support/TestOdbcSource.h"

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace {

// The drivers the driver manager lists now. Listing is never served from its
// configuration cache, so it shows at once the file a connection reads when
// that cache has expired.
std::string ListedDrivers()
{
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return "(no environment)";
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    std::string names;
    SQLCHAR name[256];
    SQLCHAR attributes[1024];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
         SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes, sizeof attributes,
                                  &attributesLength));
         direction = SQL_FETCH_NEXT)
        names += std::string(reinterpret_cast<const char*>(name)) + " ";
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

TEST(TestOdbcSource, EachLaterSourceOfAProcessStillFindsItsDriver)
{
    // The driver manager reads ODBCSYSINI once per process; a later source
    // must not leave it reading an earlier source's removed folder.
    for (int source = 1; source <= 3; ++source) {
        TestOdbcSource odbc("MorvSupportSequence");
        EXPECT_NE(ListedDrivers().find("MorvSQLite3"), std::string::npos) << "source " << source;
    }
}

}  // namespace
