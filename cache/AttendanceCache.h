// The attendance cache, Attendance.db: one table of daily and one of period
// attendance. Each cached record holds the code last read from the source
// (newcode) and the code last exported (oldcode); an update export sends the
// records whose two codes differ and then marks them exported. Every
// statement on the file is in this class, so its schema lives here alone.
//
// Every failure raises an XException (a failing SQLite call as its
// sqlite::SqlError): a refresh that could not store a row must not be taken
// for one that did.
#pragma once

#include "libraries/sqlitewrapper/cpp/database.h"
#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

#include <map>
#include <memory>
#include <optional>
#include <vector>

// One attendance record as it is stored.
struct AttendanceRecord
{
    XString student;
    XDate date;
    XString reference;        // time frame, period, section or time slot
    XString referenceHeader;  // the export header of the reference, e.g. "AttPerRef"
    XString newCode;
    XString reason;
    XString excused;
    XString absent;
    XString tardy;
    XString truant;
    XString discipline;
};

// A record as read back with the code last exported; no old code means
// the record was never exported.
struct CachedAttendance
{
    AttendanceRecord record;
    std::optional<XString> oldCode;
};

class AttendanceCache
{
public:
    class UnexportedRecords;

    static constexpr const char* DailyTable = "DAILY_ATT";
    static constexpr const char* PeriodTable = "PERIOD_ATT";

    AttendanceCache();
    ~AttendanceCache();

    // "timeframe" for the daily table, "perkey" for the period table,
    // nullptr for any other name.
    static const char* ReferenceColumn(const XString& table);
    // The cache file of `folder`: Attendance\Attendance.db inside it.
    static XFileSpec DatabaseFile(const XFileSpec& folder);

    // Opens (creating when missing) the database file; raises when it cannot
    // be opened or is not a database.
    void Open(const XFileSpec& file);
    bool IsOpen() const { return m_db.IsOpen(); }
    // Rolls back an open transaction and closes the database.
    void Close();
    const XString& FileName() const { return m_db.FileName(); }

    // Creates the table unless it exists already.
    void CreateTable(const XString& table);
    bool TableExists(const XString& table);
    void DropTable(const XString& table);

    // Blanks the new code of every record dated on or after `from`, so that
    // a record that vanished from the source is exported as a blank code.
    void BlankNewCode(const XString& table, const XDate& from);

    // Stores one record: an existing record (same student, date, reference
    // and header) takes the new values, keeping its old code; a new record
    // is inserted with a NULL old code unless its code is empty. Returns the
    // number of rows changed or inserted.
    int SaveRecord(const XString& table, const AttendanceRecord& record);

    // The records of `table` stored under the reference header `header`
    // (and, with `orBlankHeader`, under an empty one) whose new code is to
    // be exported: set, and differing from the old code or never exported.
    UnexportedRecords Unexported(const XString& table, const XString& header, bool orBlankHeader);

    // Every record of `table`, ordered by its key.
    std::vector<CachedAttendance> Records(const XString& table);

    // The UPDATED time of the UPDATECONFIG row for `element` (the last row
    // wins); null when there is none. This bridge never writes UPDATECONFIG;
    // a cache another writer kept may hold it. Raises when the table is
    // missing.
    XDateTime LastUpdated(const XString& element);

    void Begin();
    void Commit();
    // Rolls back an open transaction; never raises.
    void Rollback() noexcept;
    bool InTransaction() const { return m_db.InTransaction(); }
    // A savepoint inside the open transaction: SetSavepoint marks the
    // present state, RollbackToSavepoint undoes every change made since
    // (the transaction stays open), ReleaseSavepoint keeps them.
    void SetSavepoint();
    void RollbackToSavepoint();
    void ReleaseSavepoint();

private:
    struct Statements;
    Statements& StatementsFor(const XString& table);

    sqlite::Database m_db;
    std::map<XString, std::unique_ptr<Statements>> m_statements;
};

// A walk over the records Unexported selects. Each record stays unmarked
// until MarkExported, so the caller marks only what it has written.
class AttendanceCache::UnexportedRecords
{
public:
    UnexportedRecords(UnexportedRecords&&) noexcept;
    UnexportedRecords& operator=(UnexportedRecords&&) = delete;
    UnexportedRecords(const UnexportedRecords&) = delete;
    UnexportedRecords& operator=(const UnexportedRecords&) = delete;
    ~UnexportedRecords();

    // The selecting statement as prepared, for the log.
    const char* Sql() const;
    // Moves to the next record; false after the last.
    bool Next();
    // The current record (its reference header is not read back).
    const AttendanceRecord& Record() const { return m_record; }
    // Sets the old code of the current record to the new code it was
    // selected with.
    void MarkExported();

private:
    friend class AttendanceCache;
    UnexportedRecords(sqlite::Database& db, const XString& table, const XString& header, bool orBlankHeader);

    std::unique_ptr<sqlite::Query> m_select;
    std::unique_ptr<sqlite::Query> m_mark;
    XString m_header;
    AttendanceRecord m_record;
    XString m_dateText;  // the stored date text, which the mark matches
};
