// ODBCDataAccess: the data access object of an extraction. It holds the
// connection to the source database, the description of the current query
// (tables, fields, conditions, orders) and its SQL text, the current result,
// and every operation that reads a value out of the current row. It also
// probes the schema (does a table or field exist) and logs it on request.
// The export engine derives from it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "data/DataAccessBase.h"
#include "data/QueryModel.h"
#include "data/odbc/AdoError.h"

class AdoConnection;
class AdoField;
class AdoRecordset;
class AdoVariant;

class ODBCDataAccess : public DataAccessBase
{
    Q_OBJECT

public:
    // Throws XException "Failed to initialize connection." when the
    // connection object cannot be made.
    ODBCDataAccess(uint32_t options, int databaseType, QObject* parent = nullptr);
    ~ODBCDataAccess() override;

    // ---- query model ----

    // Destroys every table, field, condition and order; the next field gets
    // position 0. The distinct and quote switches and the attendance filter
    // settings stay.
    void ClearQuery() override;
    // Adds a table (alias empty: the SQL name). With VerifySchema set, a
    // missing table gives nullptr, or throws when `required`.
    ODBCTable* AddTable(const XString& name, const XString& alias, bool required,
                        const XString& sourceText = XString());
    // Adds a selected field at the next position. With VerifySchema set, a
    // missing field gives nullptr, or throws when `required`.
    ODBCField* AddQueryField(DataAccessTable* table, const XString& name, bool required) override;
    // Adds "prefix table.field suffix as alias" at the next position.
    ODBCField* AddFunctionField(const XString& prefix, ODBCField* baseField, const XString& suffix,
                                const XString& alias);
    // Adds "field op value" (finished SQL literal text) to the conditions
    // every row of the query meets. A null field throws.
    void AddCondition(ODBCField* field, const XString& op, const XString& value);
    // The same with another field as the right side.
    void AddCondition(ODBCField* field, const XString& op, ODBCField* secondField);
    // Adds a group of conditions, written in parentheses, that a row meets
    // as a whole: all of them or any one, by `join`. The caller fills it.
    ODBCConditionGroup& AddConditionGroup(ODBCConditionGroup::Join join);
    // nullptr (and a warning) without a field.
    ODBCOrder* AddOrder(ODBCField* field, bool descending = false);

    void SetDistinct(bool distinct) { m_distinct = distinct; }
    void SetQuoteFieldNames(bool quote) { m_quoteFieldNames = quote; }
    void SetQuoteTableNames(bool quote) { m_quoteTableNames = quote; }
    // The field FilterAttendance restricts; owned by the caller.
    void SetChangeDateField(ODBCField* field) { m_changeDateField = field; }
    // A second field FilterAttendance admits rows by: a row whose change date
    // or whose own date lies in the range is read. Owned by the caller.
    void SetAttendanceDateField(ODBCField* field) { m_attendanceDateField = field; }

    // Replaces the change-date range conditions of the previous call.
    void FilterAttendance(const XDate& from, const XDate& to) override;
    void ClearFilter() override;

    // The SELECT text of the current query description.
    XString BuildQuery() override;

    int32_t GetQueryFieldCount() const { return static_cast<int32_t>(m_fields.size()); }

    // ---- database types ----

    XString GetTypeName() const;
    // The connection string of this object's type for the given data source,
    // user and password (nullptr: absent).
    virtual XString BuildConnectionString(const XString& dataSource, const XString* user,
                                          const XString* password);
    // The same for the stored data source, user and password.
    XString BuildConnectionString();
    // The SQL date literal of `type` (0: this object's type).
    virtual XString SQLDate(const XDate& date, int type = 0);
    XString QuoteText(const XString& text, int type = 0) const;
    // Data type name of a column of the current result ("" without one).
    XString GetFieldTypeName(int32_t column);

    // ---- connection ----

    void Connect(const XString& connectionString);
    void Disconnect();
    bool IsConnected() const;
    void Reconnect() override;
    // Starts the writer's run bookkeeping, connects, and writes the schema
    // log when the run parameter "logSchema" is "true".
    void OpenConnection(const XString& connectionString, bool keepConnection);

    // ---- queries and records ----

    // Runs `statement` as the current result. A failure throws an
    // XException whose kind tells a lost connection (worth a reconnect and
    // one more try) from a statement the database refused.
    void RunQuery(const XString& statement);
    void RunCurrentQuery() override;
    // RunCurrentQuery; false when it leaves no result to read (the file
    // database type).
    bool OpenCurrentQuery() override;
    void CloseQuery() override;
    // Rows of the current result; counted by walking them when the cursor
    // cannot tell (the result is then left after its last row). A table's
    // result opened by OpenTable streams instead: -1 here, and its count
    // is logged when reading reaches the end of its rows.
    int32_t GetRecordCount() override;
    // Positioning; false only at the end of the data, a reading error throws.
    bool GetFirstRecord() override;
    bool GetNextRecord() override;
    int32_t GetFieldCount();
    XString GetFieldName(int32_t column);
    // Bytes the current result holds in memory (a static cursor's rows).
    size_t HeldResultBytes() const;

    // ---- field readers ----

    XString GetRawText(DataAccessField* field) override;
    XString GetText(DataAccessField* field) override;
    XString GetCleanText(DataAccessField* field) override;
    bool WritePlainText(DelimitedTextWriter& output, const ExportColumn& column) override;
    XByteBuffer GetBytes(DataAccessField* field) override;
    XDate GetDate(DataAccessField* field) override;
    XDateTime GetDateTime(DataAccessField* field) override;
    XTime GetTime(DataAccessField* field) override;
    int32_t GetInt(DataAccessField* field) override;
    int32_t GetLong(DataAccessField* field) override;
    float GetFloat(DataAccessField* field) override;
    double GetDouble(DataAccessField* field) override;
    bool GetBool(DataAccessField* field) override;
    XString GetBoolDigit(DataAccessField* field) override;
    bool IsNull(DataAccessField* field) override;

    // ---- errors and end of the extraction ----

    // The error collection of `connection` (may be nullptr) and the error
    // itself as one text, which is also logged.
    XString FormatComError(const AdoException& error, const AdoConnection* connection);
    // That text (logged) for this data access object's connection, thrown as
    // an XException carrying the driver's error code.
    [[noreturn]] void ThrowComError(const AdoException& error);
    // True for a failure of the database itself (no connection, a lost one,
    // a statement or check the database refused), as opposed to an answer
    // such as a missing table: those carry the driver layer's result code.
    static bool IsDatabaseFailure(const std::exception& error);
    // Masks every password value of a connection string in place.
    static void MaskPassword(XString& text);
    // Logs the end of the extraction and disconnects (unless the connection
    // is kept), then the writer's completion step.
    void ExportComplete() override;

    // ---- schema probing ----

    // Each answer is remembered for the rest of the run (until a connection
    // to another source): a question asked again is answered from memory,
    // and the log says so. A check that could not be asked (it throws) is
    // not remembered.
    bool DoTableExists(const XString& table);
    bool DoFieldExists(const XString& table, const XString& field);
    bool TableExists(const XString& table) { return DoTableExists(table); }
    bool FieldExists(const XString& table, const XString& field) { return DoFieldExists(table, field); }
    // True when `statement` runs without error on its own result.
    bool TrialQuery(const XString& statement);
    // DoTableExists, connecting first when needed; a connection made here is
    // closed again unless `keepConnection`.
    bool TableExistsConnected(const XString& connectionString, const XString& table, bool keepConnection);
    // Logs every table and column the catalogue lists.
    void LogSchema();
    // Logs the column names of `table`; never throws.
    void LogTableContents(const ODBCTable* table);

    // Statements this object sent to the data source (see
    // AdoConnection::StatementsSent), and how many existence questions were
    // answered from memory instead.
    long long StatementsSent() const;
    int32_t ExistenceAnswersRemembered() const { return m_existenceRemembered; }
    // Logs both, for the end of a run.
    void LogStatementsSent();

private:
    enum class CheckMode { Plain, Count, Value };

    // The steps that go another way for the file database type.
    enum class FileStep { ConnectionString, Connect, Disconnect, TableExists, Query, Run, Read };
    // For the file database type: logs what `step` does instead and gives
    // true; false for every other type.
    bool FileDatabaseStep(FileStep step);
    // The file database type's statement: the path of its one table's file.
    XString BuildXBasePath();
    XString FieldText(const ODBCField* field) const;
    // Appends a condition, or a group in parentheses, to a WHERE text.
    void AppendConditionMember(XString& q, const ODBCConditionGroup::Member& member);
    // A table as written in FROM: quoted name, alias and table hint.
    XString TableText(const ODBCTable& table) const;
    // TableText, or for a table read as its distinct rows the derived table
    // that selects them.
    XString FromText(const ODBCTable& table) const;
    // The current row's value of `field`, valid until the row changes;
    // nullptr without a field (or for the file database type). Reading
    // errors throw with the field's status.
    const AdoVariant* ReadValue(DataAccessField* field);
    AdoField& FetchAdoField(DataAccessField* field);
    [[noreturn]] void ThrowFieldError(const AdoException& error, DataAccessField* field);
    // Runs a catalogue statement on its own result and judges it by `mode`.
    bool RunCheck(const XString& statement, CheckMode mode, int32_t* count, int32_t* value);
    // The answer to `question` ("table T", "field F of table T") if an
    // earlier check of this run asked it, logged as the statement that asked
    // it (after `label`) and the answer; nullptr when it was not asked yet.
    const bool* RememberedExistence(const XString& question, const char* label);
    void RememberExistence(const XString& question, const XString& statement, bool exists);
    // RunCheck, telling "no rows" (false) from "could not ask" (throws an
    // XException naming `what` and the cause); a lost connection gets one
    // reconnect and one more try.
    bool RunExistenceCheck(const XString& statement, CheckMode mode, const XString& what, int32_t* count,
                           int32_t* value);
    // RunCheck with its failures as XExceptions, a dead connection's as
    // kind ConnectionLost.
    bool RunCheckOnce(const XString& statement, CheckMode mode, int32_t* count, int32_t* value);
    void CloseCurrentResult();
    // Counts a row reached by GetFirstRecord or GetNextRecord (`onRow`) of
    // a result whose count is logged after its rows, and logs the count at
    // the end of the data. Returns `onRow`.
    bool CountRow(bool onRow);
    bool CountsAfterRows() const { return m_result && m_result.get() == m_countedResult; }

    std::unique_ptr<AdoConnection> m_connection;
    std::unique_ptr<AdoRecordset> m_result;
    XString m_connectionString;
    XString m_tableTemplate = "SELECT * FROM %s";
    XString m_fieldTemplate = "SELECT %s FROM %s";

    std::vector<std::unique_ptr<ODBCTable>> m_tables;
    std::vector<std::unique_ptr<ODBCField>> m_fields;
    // The conditions every row meets: the WHERE clause.
    ODBCConditionGroup m_where{ODBCConditionGroup::Join::AllOf};
    std::vector<std::unique_ptr<ODBCOrder>> m_orders;
    int32_t m_fieldCounter = 0;
    bool m_distinct = false;
    bool m_quoteFieldNames = false;
    bool m_quoteTableNames = false;
    ODBCField* m_changeDateField = nullptr;
    ODBCField* m_attendanceDateField = nullptr;
    int32_t m_filterConditionCount = 0;
    // The result whose count is logged after its rows (OpenTable's), while
    // it is the current one; a check lent the current place counts as usual.
    const AdoRecordset* m_countedResult = nullptr;
    int32_t m_rowsRead = 0;
    // Existence answers of this run by question: the schema does not change
    // under a run, and each check is a round trip to the server.
    struct KnownExistence
    {
        XString statement;
        bool exists = false;
    };
    std::map<XString, KnownExistence> m_existenceAnswers;
    int32_t m_existenceRemembered = 0;
};
