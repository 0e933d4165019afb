// DataAccessBase: the data access services every export table uses, between
// the export writer above and the database-specific reader below: opening a
// table's query, the value functions that turn the current column into
// export text, the hooks an engine may override, and the connection
// settings; it is the writer's row source. The reading itself (records and
// field readers) is declared here and implemented by ODBCDataAccess.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <set>

#include <QString>

#include "data/QueryModel.h"
#include "export/PDEWriter.h"
#include "util/XByteBuffer.h"
#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XException.h"
#include "util/XString.h"
#include "util/XTime.h"

// Bits of the option word given when a data access object is made.
namespace DataAccessOption {
constexpr uint32_t VerifySchema = 0x2;       // AddTable / AddQueryField check existence
constexpr uint32_t FieldsByName = 0x4;       // fetch values by name, not position
constexpr uint32_t ForwardOnly = 0x8;        // forward-only cursor instead of static
constexpr uint32_t Pessimistic = 0x10;       // pessimistic locking instead of read-only
constexpr uint32_t Exclusive = 0x20;         // exclusive instead of read-only connection
constexpr uint32_t DumpOnMissingField = 0x40;  // log a table's columns when a field is missing
constexpr uint32_t PlainExistenceChecks = 0x80;  // existence checks by SELECT, not the catalogue
}  // namespace DataAccessOption

class DataAccessBase : public PDEWriter, public RowSource
{
    Q_OBJECT

public:
    DataAccessBase(uint32_t options, int databaseType, QObject* parent = nullptr);
    ~DataAccessBase() override;

    // ---- writer operations implemented here ----

    // The attendance reading without the student filter.
    void CreateStudentAttendanceFromDB() override;
    // Runs the current query, reconnecting and trying once more when the
    // connection was lost. Throws (and so fails the run) when the query
    // cannot be opened; only a false `run` gives false.
    bool OpenTable(bool run) override;
    XString GetDataSource() override { return m_dataSource; }
    // OpenTable and the rows, read again once on a new connection when the
    // link is lost part way (see RowSource::ReadTable). A loss while the
    // query opens counts as the table's one retry too.
    bool ReadTable(const std::function<void()>& readRows, const std::function<void()>& undo) override;
    // Adds the numbered-key counter to the writer's run state.
    void SaveTableRunState() override;
    void RestoreTableRunState() override;

    // ---- hooks and value functions ----

    // Whether the cached attendance of a student is exported; all are here.
    virtual bool StudentFilter(const XString& studentKey);

    // Value functions: read the current column's query field of the current
    // row. Their texts never hold TAB, CR or LF; no field gives "".
    virtual XString TextValue();          // trimmed, TABs gone, CR/LF as blanks
    virtual XString TextNoBreaksValue();  // the same text
    virtual XString CurrencyValue();      // "$" + two decimals
    virtual XString DateValue();          // the export date format
    virtual XString YesValue();           // "Yes" or ""
    XString PhoneValue();                 // formatted phone number
    XString NumberedKeyValue();           // text + "_" + running number

    // The cached attendance reading (daily, then period).
    virtual void CreateStudentAttendanceFromDB(bool useFilter);
    virtual void CreateStudentDailyAttendanceFromDB(bool useFilter);
    virtual void CreateStudentPeriodAttendanceFromDB(bool useFilter);

    // Writes the changed rows of one cache table as update-file sections, one
    // per reference header, and marks them exported (uncommitted).
    void ExportCachedAttendance(bool daily, bool useFilter);

    // ---- the reading, implemented by ODBCDataAccess ----

    virtual bool OpenCurrentQuery() = 0;
    // Throws an XException of kind ConnectionLost when the link is gone.
    virtual void RunCurrentQuery() = 0;
    virtual void Reconnect() = 0;
    virtual void CloseQuery() = 0;
    // Called at the end of every table after its query and columns are gone.
    virtual void OnTableEnd();
    virtual int32_t GetRecordCount() = 0;

    // Field readers of the current row; a null field gives the result noted.
    virtual XString GetRawText(DataAccessField* field) = 0;    // ""
    virtual XString GetText(DataAccessField* field) = 0;       // ""
    virtual XString GetCleanText(DataAccessField* field) = 0;  // ""
    virtual XByteBuffer GetBytes(DataAccessField* field) = 0;  // empty
    virtual XDate GetDate(DataAccessField* field) = 0;         // null
    virtual XDateTime GetDateTime(DataAccessField* field) = 0; // null
    virtual XTime GetTime(DataAccessField* field) = 0;         // null
    virtual int32_t GetInt(DataAccessField* field) = 0;        // 0
    virtual int32_t GetLong(DataAccessField* field) = 0;       // 0
    virtual float GetFloat(DataAccessField* field) = 0;        // 0
    virtual double GetDouble(DataAccessField* field) = 0;      // 0
    virtual bool GetBool(DataAccessField* field) = 0;          // false
    virtual XString GetBoolDigit(DataAccessField* field) = 0;  // ""
    virtual bool IsNull(DataAccessField* field) = 0;           // true

    // Turns a connection failure into the message the connection test shows:
    // 2 for an unknown data source (SQLSTATE IM002), 1 for anything else.
    virtual int HandleException_ValidateConnection(const std::exception& error, QString& message);
    // The driver's own words for a failure, on one line, any password masked:
    // the first driver record of a formatted driver error ("Error number:
    // <hex><TAB><text>"), else the first line of the message. For where the
    // caller sees the cause; the log keeps the whole text.
    static XString ErrorCause(const std::exception& error);

    // Runs `action`; when it fails because the link to the data source is
    // lost (an XException of kind ConnectionLost), runs `undo` (if any) with
    // that failure, reconnects and runs `action` once more. Any other
    // failure, or a second loss, goes to the caller. Calls nested in the
    // action share the outermost call's one retry.
    void RetryOnLostLink(const std::function<void()>& action,
                         const std::function<void(const XException& lost)>& undo);
    // "SQLSTATE <state>, native error <n>" of a failure, for the log.
    static XString LostLinkNumbers(const XException& error);

    // Ends the current table: closes its query, clears its columns, runs the
    // table-end hook, then the writer's own end of table.
    void EndTable() override;

    // ---- settings ----

    void SetDataSource(const XString& dataSource) { m_dataSource = dataSource; }
    void SetUser(const XString& user) { m_user = user; }
    void SetPassword(const XString& password) { m_password = password; }
    void SetConnectionTimeout(int32_t seconds) { m_connectionTimeout = seconds; }
    void SetCommandTimeout(int32_t seconds) { m_commandTimeout = seconds; }
    void SetKeepConnection(bool keep) { m_keepConnection = keep; }

protected:
    // The current column's query field, or nullptr.
    DataAccessField* CurrentField() const;
    // True while OpenTable runs its query. Every reader of such a query
    // walks its rows once, first to last, and only logs their count, so
    // the rows can stream instead of being held whole.
    bool IsOpeningTable() const { return m_openingTable; }

    uint32_t m_options;
    int m_databaseType;
    XString m_dataSource;
    XString m_user;
    XString m_password;
    int32_t m_connectionTimeout = 15;
    int32_t m_commandTimeout = 30;
    bool m_keepConnection = false;
    int32_t m_keyCounter = 0;
    int32_t m_savedKeyCounter = 0;
    bool m_openingTable = false;
    // RetryOnLostLink's nesting, and the links its outermost call saw lost.
    int32_t m_lostLinkDepth = 0;
    int32_t m_lostLinks = 0;
};
