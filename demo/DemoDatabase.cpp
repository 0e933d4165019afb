// SQLite connection and prepared inserts for the demo generator and tests.
#include "demo/DemoDatabase.h"

#include <sqlite3.h>

#include <stdexcept>

namespace demo {

DemoDatabase::DemoDatabase(const std::string& path)
{
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("Cannot open database " + path + ": " + message);
    }
}

DemoDatabase::~DemoDatabase()
{
    sqlite3_close(db_);
}

void DemoDatabase::Fail(const std::string& what, const std::string& sql) const
{
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db_) + " [" + sql + "]");
}

void DemoDatabase::Execute(const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("SQL failed: " + message + " [" + sql + "]");
    }
}

std::vector<std::vector<std::string>> DemoDatabase::Query(const std::string& sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        Fail("SQL failed", sql);
    std::vector<std::vector<std::string>> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "",
                             text ? sqlite3_column_bytes(stmt, i) : 0);
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        Fail("SQL failed", sql);
    return rows;
}

long long DemoDatabase::QueryInt(const std::string& sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        Fail("SQL failed", sql);
    int rc = sqlite3_step(stmt);
    long long value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        Fail("SQL failed", sql);
    return value;
}

std::vector<std::string> DemoDatabase::ObjectNames()
{
    std::vector<std::string> names;
    for (auto& row : Query("SELECT name FROM sqlite_master WHERE type IN ('table','view') ORDER BY name"))
        names.push_back(row[0]);
    return names;
}

DemoInserter::DemoInserter(DemoDatabase& db, const std::string& table, const std::vector<std::string>& columns)
    : db_(db), columns_(columns.size())
{
    std::string names, marks;
    for (const auto& column : columns) {
        names += (names.empty() ? "[" : ", [") + column + "]";
        marks += marks.empty() ? "?" : ", ?";
    }
    sql_ = "INSERT INTO [" + table + "] (" + names + ") VALUES (" + marks + ")";
    if (sqlite3_prepare_v2(db_.Handle(), sql_.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("Cannot prepare insert: ") + sqlite3_errmsg(db_.Handle()) + " [" + sql_ + "]");
}

DemoInserter::~DemoInserter()
{
    sqlite3_finalize(stmt_);
}

void DemoInserter::Insert(std::initializer_list<DemoValue> values)
{
    if (values.size() != columns_)
        throw std::runtime_error("Insert with " + std::to_string(values.size()) + " values for "
                                 + std::to_string(columns_) + " columns [" + sql_ + "]");
    int index = 1;
    for (const DemoValue& value : values) {
        const auto& v = value.Get();
        if (auto text = std::get_if<std::string>(&v))
            sqlite3_bind_text(stmt_, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
        else if (auto number = std::get_if<long long>(&v))
            sqlite3_bind_int64(stmt_, index, *number);
        else if (auto real = std::get_if<double>(&v))
            sqlite3_bind_double(stmt_, index, *real);
        else
            sqlite3_bind_null(stmt_, index);
        ++index;
    }
    int rc = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE)
        throw std::runtime_error(std::string("Insert failed: ") + sqlite3_errmsg(db_.Handle()) + " [" + sql_ + "]");
    ++count_;
}

}  // namespace demo
