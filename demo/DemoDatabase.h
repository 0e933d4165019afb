// A small SQLite connection for the demo generator and for tests that build
// source databases by hand: run SQL, read results as text, insert rows
// through one prepared statement.
#pragma once

#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace demo {

// One column value of a row to insert: NULL, text (bytes stored unchanged,
// so Latin-1 stays Latin-1), a whole number or a real number.
class DemoValue {
public:
    DemoValue(std::nullptr_t) : value_(nullptr) {}
    // A null pointer is SQL NULL, like nullptr itself.
    DemoValue(const char* text) : value_(nullptr)
    {
        if (text)
            value_ = std::string(text);
    }
    DemoValue(std::string text) : value_(std::move(text)) {}
    DemoValue(int number) : value_(static_cast<long long>(number)) {}
    DemoValue(long long number) : value_(number) {}
    DemoValue(double number) : value_(number) {}

    const std::variant<std::nullptr_t, std::string, long long, double>& Get() const { return value_; }

private:
    std::variant<std::nullptr_t, std::string, long long, double> value_;
};

// Owns one SQLite connection; every failure throws std::runtime_error with
// SQLite's message and the statement that failed.
class DemoDatabase {
public:
    // Opens the file for reading and writing, creating it when missing.
    explicit DemoDatabase(const std::string& path);
    ~DemoDatabase();
    DemoDatabase(const DemoDatabase&) = delete;
    DemoDatabase& operator=(const DemoDatabase&) = delete;

    // Runs one or more statements separated by semicolons.
    void Execute(const std::string& sql);
    // The first column of the first row as a number; 0 when there is no row.
    long long QueryInt(const std::string& sql);
    // Every row, every column as text; NULL reads as the empty text.
    std::vector<std::vector<std::string>> Query(const std::string& sql);
    // Names of the tables and views, sorted.
    std::vector<std::string> ObjectNames();

    sqlite3* Handle() const { return db_; }

private:
    [[noreturn]] void Fail(const std::string& what, const std::string& sql) const;

    sqlite3* db_ = nullptr;
};

// A prepared INSERT into one table with a fixed column list.
class DemoInserter {
public:
    DemoInserter(DemoDatabase& db, const std::string& table, const std::vector<std::string>& columns);
    ~DemoInserter();
    DemoInserter(const DemoInserter&) = delete;
    DemoInserter& operator=(const DemoInserter&) = delete;

    // Inserts one row; the values follow the column list given at creation.
    void Insert(std::initializer_list<DemoValue> values);
    // Rows inserted so far through this object.
    long long Count() const { return count_; }

private:
    DemoDatabase& db_;
    std::string sql_;
    std::size_t columns_ = 0;
    sqlite3_stmt* stmt_ = nullptr;
    long long count_ = 0;
};

}  // namespace demo
