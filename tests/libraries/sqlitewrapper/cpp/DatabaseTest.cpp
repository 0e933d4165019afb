// The SQLite access layer: every failure arrives as the exception class its
// result code names, with a message that says what failed where.
#include "libraries/sqlitewrapper/cpp/database.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

class DatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("test.db").toStdString();
    }
    QTemporaryDir dir;
    std::string path;
};

// Runs `action` and returns the dynamic class name and message of what it raised.
template <class Action>
std::pair<std::string, std::string> Raised(Action action)
{
    try {
        action();
    } catch (const sqlite::SqlError& e) {
        return {typeid(e).name(), e.what()};
    }
    return {"nothing", ""};
}

TEST_F(DatabaseTest, FailuresRaiseTheClassOfTheirResultCode)
{
    sqlite::Database db;
    db.Open(path.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
    db.Execute("CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT)");
    const struct {
        const char* name;
        std::function<void()> action;
        const char* type;
        const char* message;
        int code;
    } cases[] = {
        {"syntax error", [&] { db.Execute("SELEC 1"); }, typeid(sqlite::SqlError).name(),
         "Sql Error: near \"SELEC\": syntax error (near \"SELEC\": syntax error) (sqlite::Database::Execute)", 1},
        {"type mismatch", [&] { db.Execute("INSERT INTO t VALUES ('x', 'y')"); },
         typeid(sqlite::DataTypeMismatchError).name(), "datatype mismatch", 20},
        {"missing table", [&] { db.Execute("DELETE FROM nowhere"); }, typeid(sqlite::SqlError).name(),
         "no such table: nowhere", 1},
        {"unknown column", [&] {
             sqlite::Query q(db, "SELECT a FROM t");
             q.FindColumn("b");
         }, typeid(sqlite::SqlError).name(), "(Request for non-existent column \"b\") (sqlite::Query::FindColumn)", -1},
        {"step without statement", [&] {
             sqlite::Query q(db);
             q.Step();
         }, typeid(sqlite::SqlError).name(), "(No prepared statement) (sqlite::Query::Step)", -1},
        {"nothing to prepare", [&] { sqlite::Query q(db, " -- only a comment"); },
         typeid(sqlite::SqlError).name(), "(no statement to prepare)", 101},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int code = 0;
        try {
            c.action();
            ADD_FAILURE() << "nothing raised";
        } catch (const sqlite::SqlError& e) {
            EXPECT_STREQ(typeid(e).name(), c.type);
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            code = e.GetCode() < 0 ? e.GetCode() : (e.GetCode() & 0xFF);
        }
        EXPECT_EQ(code, c.code);
    }
}

// Every way a statement can fail while it runs, through each public call that
// runs one: the failure is raised with its class and code, never taken for the
// statement's end, and the table holds what it held before.
TEST_F(DatabaseTest, AStatementThatFailsWhileRunningRaises)
{
    struct Case
    {
        const char* name;
        // Runs the failing statement on `db`; `other` is a second connection
        // to the same file.
        std::function<void(sqlite::Database& db, sqlite::Database& other)> action;
        const char* type;
        int code;  // primary result code
    };
    const auto step = [](sqlite::Database& db, const char* sql, std::vector<const char*> values) {
        sqlite::Query query(db, sql);
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i])
                query.Bind(static_cast<int>(i + 1), values[i]);
            else
                query.BindNull(static_cast<int>(i + 1));
        }
        while (query.Step()) {
        }
    };
    const std::string big(20000, 'x');
    const Case cases[] = {
        {"duplicate key (step)", [&](auto& db, auto&) { step(db, "INSERT INTO t VALUES (?1, ?2)", {"1", "new"}); },
         typeid(sqlite::SqlError).name(), 19},
        {"duplicate key (execute)", [](auto& db, auto&) { db.Execute("INSERT INTO t VALUES (1, 'new')"); },
         typeid(sqlite::SqlError).name(), 19},
        {"null where none may be (step)", [&](auto& db, auto&) { step(db, "INSERT INTO t VALUES (?1, ?2)", {"3", nullptr}); },
         typeid(sqlite::SqlError).name(), 19},
        {"unique value taken by an update (step)",
         [&](auto& db, auto&) { step(db, "UPDATE t SET b = ?1 WHERE a = 2", {"one"}); }, typeid(sqlite::SqlError).name(),
         19},
        {"trigger that refuses the row (execute format)",
         [](auto& db, auto&) {
             db.Execute("CREATE TRIGGER refuse BEFORE DELETE ON t BEGIN SELECT RAISE(ABORT, 'kept'); END");
             db.ExecuteFormat("DELETE FROM t WHERE b = '%q'", "two");
         },
         typeid(sqlite::SqlError).name(), 19},
        {"type mismatch (step)", [&](auto& db, auto&) { step(db, "INSERT INTO t VALUES (?1, ?2)", {"x", "new"}); },
         typeid(sqlite::DataTypeMismatchError).name(), 20},
        {"type mismatch (execute)", [](auto& db, auto&) { db.Execute("UPDATE t SET a = 'x' WHERE a = 1"); },
         typeid(sqlite::DataTypeMismatchError).name(), 20},
        // The database may not grow: what a full disk does to a write.
        {"full database (step)",
         [&](auto& db, auto&) {
             db.Execute("PRAGMA max_page_count = 3");
             step(db, "INSERT INTO t VALUES (?1, ?2)", {"3", big.c_str()});
         },
         typeid(sqlite::SqlError).name(), 13},
        {"full database (execute)",
         [&](auto& db, auto&) {
             db.Execute("PRAGMA max_page_count = 3");
             db.ExecuteFormat("INSERT INTO t VALUES (3, '%q')", big.c_str());
         },
         typeid(sqlite::SqlError).name(), 13},
        // Another connection holds the write lock and the wait is over at once.
        {"busy database (step)",
         [&](auto& db, auto& other) {
             other.Execute("BEGIN IMMEDIATE");
             sqlite3_busy_timeout(db.Handle(), 0);
             step(db, "INSERT INTO t VALUES (?1, ?2)", {"3", "three"});
         },
         typeid(sqlite::BusyError).name(), 5},
        {"busy database (execute)",
         [](auto& db, auto& other) {
             other.Execute("BEGIN IMMEDIATE");
             sqlite3_busy_timeout(db.Handle(), 0);
             db.Execute("DELETE FROM t");
         },
         typeid(sqlite::BusyError).name(), 5},
        // Rows come back before the failure: the read must not end as if done.
        {"error after some rows (step)", [&](auto& db, auto&) { step(db, "SELECT abs(CAST(b AS INTEGER)) FROM t ORDER BY a", {}); },
         typeid(sqlite::SqlError).name(), 1},
        {"parameter out of range (bind)", [&](auto& db, auto&) { step(db, "SELECT a FROM t WHERE a = ?1", {"1", "2"}); },
         typeid(sqlite::SqlError).name(), 25},
        {"parameter out of range (bind null)",
         [&](auto& db, auto&) { step(db, "SELECT a FROM t WHERE a = ?1", {"1", nullptr}); },
         typeid(sqlite::SqlError).name(), 25},
        {"read-only connection (step)",
         [&](auto&, auto&) {
             sqlite::Database reader;
             reader.Open(path.c_str(), nullptr, 1 /* read-only */);
             step(reader, "DELETE FROM t", {});
         },
         typeid(sqlite::SqlError).name(), 8},
        {"statement left open (close)",
         [](auto& db, auto&) {
             sqlite::Query open(db, "SELECT a FROM t");
             db.Close();
         },
         typeid(sqlite::BusyError).name(), 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(QString::fromStdString(path));
        sqlite::Database db;
        db.Open(path.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        // The last row's text is no number that fits an integer.
        db.Execute("CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT NOT NULL UNIQUE);"
                   "INSERT INTO t VALUES (1, 'one'), (2, 'two'), (9, '-9223372036854775808')");
        sqlite::Database other;
        other.Open(path.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
        int code = 0;
        try {
            c.action(db, other);
            ADD_FAILURE() << "nothing raised";
        } catch (const sqlite::SqlError& e) {
            EXPECT_STREQ(typeid(e).name(), c.type) << e.what();
            code = e.GetCode() & 0xFF;
        }
        EXPECT_EQ(code, c.code);
        if (other.InTransaction())
            other.Execute("ROLLBACK");
        sqlite::Query rows(other, "SELECT group_concat(a || '=' || b, ' ') AS rows FROM t");
        ASSERT_TRUE(rows.Step());
        EXPECT_STREQ(rows.StringColumn("rows"), "1=one 2=two 9=-9223372036854775808");
    }
}

TEST_F(DatabaseTest, ClosedDatabaseAndUnopenableFilesRaise)
{
    sqlite::Database db;
    EXPECT_EQ(Raised([&] { db.Execute("SELECT 1"); }).second,
              "Sql Error:  (db not open) (sqlite::Database::Execute)");

    // A folder in the place of the file: the open fails, names the file and
    // leaves the object closed so it can be opened again.
    const std::string folder = dir.path().toStdString();
    const auto raised = Raised([&] { db.Open(folder.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate); });
    EXPECT_NE(raised.second.find(folder), std::string::npos) << raised.second;
    EXPECT_FALSE(db.IsOpen());
    db.Open(path.c_str(), "", sqlite::Database::OpenReadWriteCreate);
    EXPECT_TRUE(db.IsOpen());
    EXPECT_EQ(db.KeyLength(), 0);
    db.Close();
    db.Open(path.c_str(), "secret", sqlite::Database::OpenReadWriteCreate);
    EXPECT_EQ(db.KeyLength(), 16);
}

TEST_F(DatabaseTest, QueryBindsStepsAndReadsColumnsByNameInAnyCase)
{
    sqlite::Database db;
    db.Open(path.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
    EXPECT_EQ(db.Execute("CREATE TABLE t (k TEXT, v TEXT); INSERT INTO t VALUES ('a', NULL)"), 1);
    sqlite::Query insert(db, "INSERT INTO t VALUES (?1, ?2)");
    insert.Bind(1, "b");
    insert.Bind(2, "Dr's note");
    EXPECT_FALSE(insert.Step());
    insert.Reset();
    insert.Bind(1, "c");
    insert.BindNull(2);
    insert.Step();
    EXPECT_EQ(db.ExecuteFormat("UPDATE t SET v='%q' WHERE k='%q'", "it's", "c"), 1);

    sqlite::Query select(db, "SELECT K, v FROM t ORDER BY k");
    std::vector<std::string> seen;
    while (select.Step()) {
        const char* v = select.StringColumn("V");
        seen.push_back(std::string(select.StringColumn("k")) + "=" + (v ? v : "<null>"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a=<null>", "b=Dr's note", "c=it's"}));
    EXPECT_EQ(select.FindColumn("k"), 0);
}

TEST_F(DatabaseTest, FileThatIsNoDatabaseFailsAtItsFirstStatement)
{
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\x7f'));
    file.close();
    sqlite::Database db;
    db.Open(path.c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
    try {
        db.Execute("SELECT count(*) FROM sqlite_master");
        ADD_FAILURE() << "a garbage file read as a database";
    } catch (const sqlite::SqlError& e) {
        EXPECT_EQ(e.GetCode() & 0xFF, 26) << e.what();  // not a database
    }
}

} // namespace
