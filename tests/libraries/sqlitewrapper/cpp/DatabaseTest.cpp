// The SQLite access layer: every failure arrives as the exception class its
// result code names, with a message that says what failed where.
#include "libraries/sqlitewrapper/cpp/database.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <typeinfo>

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
