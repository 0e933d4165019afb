// The attendance cache, Attendance.db: one table of daily and one of period
// attendance. Each cached record holds what was last read from the source
// (newcode, excused, reason, ...) and what was last sent to the importer
// (oldcode, sentexcused, sentreason); an update export sends the records
// whose two differ and marks them sent. The marks of one export carry a
// batch number and keep what the records held before (prevcode, ...), so a
// commit that could not put its files in place can be undone. The cache also
// records each commit in flight (EXPORT_COMMIT) until all its files are in
// place, so the marks and the files that carry them go together. Every
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

// One file step of a commit, as recorded until the file is in place: the
// temporary file `tempName` goes to `finalName` (both in the export
// folder), or with no temporary file the final file is removed. The
// temporary file's identity (device, inode, size) tells its content again
// under the final name.
struct CommitStep
{
    XString tempName;
    XString finalName;
    int64_t device = 0;
    int64_t inode = 0;
    int64_t size = 0;
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

    // What went wrong with the cache file and what to do about it, from the
    // error a cache operation raised, to follow the file's name in a
    // message: "is damaged ... Delete it to rebuild it ...", "is held by
    // another program ...", "cannot be written: the disk is full ..." and
    // the like, with the error's own text.
    static XString Problem(const XException& error);
    // The same from SQLite's result code (-1: the failure is not SQLite's)
    // and the error's text.
    static XString Problem(int sqliteCode, const char* text);
    // SQLite's result code of `error`, or -1 when SQLite did not raise it.
    static int SqliteCode(const XException& error);

    // Opens (creating when missing) the database file; raises when it cannot
    // be opened or is not a database.
    void Open(const XFileSpec& file);
    bool IsOpen() const { return m_db.IsOpen(); }
    // Rolls back an open transaction and closes the database.
    void Close();
    const XString& FileName() const { return m_db.FileName(); }

    // Creates the table unless it exists already, and brings a table of an
    // older cache up to date: the columns of what each record last sent and
    // of the batch that marked it are added, and a record already sent
    // counts as sent with the excused flag and reason it holds.
    void CreateTable(const XString& table);
    bool TableExists(const XString& table);
    void DropTable(const XString& table);

    // A refresh of `table` reads the records dated from `from` to `to` again
    // (both included; a null `from` has no lower bound): EndRefresh blanks
    // the new code of every record of those dates not stored in between, so
    // that a record that vanished from the source is exported as a blank
    // code. Records the source still holds are not written at all unless a
    // value changed. Both run inside the refresh's transaction.
    void BeginRefresh(const XString& table, const XDate& from, const XDate& to);
    void EndRefresh();

    // Stores one record: an existing record (same student, date, reference
    // and header) takes the new values, keeping its old code; a new record
    // is inserted with a NULL old code unless its code is empty. Returns the
    // number of rows changed or inserted (0 for a record that holds those
    // values already).
    int SaveRecord(const XString& table, const AttendanceRecord& record);

    // The records of `table` stored under the reference header `header`
    // (and, with `orBlankHeader`, under an empty one) that are to be sent:
    // a new code is set, and it, the excused flag or the reason differs from
    // what was last sent, or the record was never sent.
    UnexportedRecords Unexported(const XString& table, const XString& header, bool orBlankHeader);

    // ---- the commit of an export's files ----

    // A new batch number for the marks of one export; never one used before.
    int64_t NewBatch();
    // Records the steps of the commit of `batch`, in order, in the open
    // transaction: they become durable with its commit, and with them the
    // marks of the batch.
    void RecordCommit(int64_t batch, const std::vector<CommitStep>& steps);
    // The commit an interrupted run recorded and never cleared; false when
    // there is none.
    bool PendingCommit(int64_t& batch, std::vector<CommitStep>& steps);
    // Forgets the record of `batch`: its files are all in place.
    void ClearCommit(int64_t batch);
    // Puts every record that `batch` marked back to what it had last sent
    // before, so that it goes out again with the next export.
    void UndoBatch(int64_t batch);

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
    void Upgrade(const XString& table);
    void CreateCommitTables();
    bool HasColumn(const XString& table, const char* column);

    sqlite::Database m_db;
    std::map<XString, std::unique_ptr<Statements>> m_statements;
    // The refresh in progress: its table and dates, and the statement that
    // remembers each record stored (none when nothing can vanish).
    XString m_refreshTable;
    XString m_refreshFrom;
    XString m_refreshTo;
    std::unique_ptr<sqlite::Query> m_refreshed;
};

// A walk over the records Unexported selects. The records are marked sent
// together once the walk is done (MarkWritten), all but those the caller
// skipped: it marks only what it has written.
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
    // The current record is not written: it stays unmarked.
    void Skip();
    // After the last record: marks every record walked but those skipped as
    // sent with the values it was selected with, in batch `batch`, in one
    // statement.
    void MarkWritten(int64_t batch);

private:
    friend class AttendanceCache;
    UnexportedRecords(sqlite::Database& db, const XString& table, const XString& header, bool orBlankHeader);

    sqlite::Database* m_db;
    XString m_table;
    XString m_selection;  // the WHERE clause the select and the mark share
    std::unique_ptr<sqlite::Query> m_select;
    AttendanceRecord m_record;
    XString m_rowid;
    int64_t m_walked = 0;
    std::vector<XString> m_skipped;  // rowids
};
