// Attendance.db: table creation, the refresh statements, the selection and
// marking of the records an update export sends, and the bookkeeping of
// UPDATECONFIG. Values go in as bound parameters, so a quote in a reason is
// stored as it is and can never change a statement.
#include "cache/AttendanceCache.h"

#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

// SQLite's result code for a write to a read-only database.
const int SQLITE_READONLY_CODE = 8;

const char* const kCreate =
    "CREATE TABLE %s (%s VARCHAR(100), %s DATETIME, %s VARCHAR(100), %s VARCHAR(100), "
    "%s VARCHAR(100), %s VARCHAR(100), %s VARCHAR(100), %s VARCHAR(100), %s VARCHAR(100), "
    "%s VARCHAR(10), %s VARCHAR(100), %s VARCHAR(100), PRIMARY KEY (%s, %s, %s, %s))";

void RequireKnown(const XString& table, const char* column)
{
    if (!column)
        XException::RaiseError(XErrorKind::Internal, 0, "Unknown attendance cache table: %s", table.c_str());
}

// What a record is sent for: a code was read (a blank one for a record gone
// from the source), and it, the excused flag or the reason differs from
// what was last sent, or nothing was ever sent. A record gone from the
// source before it was ever sent is not sent at all.
const char* const kToSend =
    "newcode IS NOT NULL AND (oldcode IS NOT NULL OR newcode <> '') AND (oldcode IS NULL OR newcode <> oldcode "
    "OR sentexcused IS NOT coalesce(excused, '') OR sentreason IS NOT coalesce(reason, ''))";

// A stored record differs from the values bound as ?1 to ?7.
const char* const kDiffers =
    "newcode IS NOT ?1 OR excused IS NOT ?2 OR absent IS NOT ?3 OR tardy IS NOT ?4 OR truant IS NOT ?5 "
    "OR discipline IS NOT ?6 OR reason IS NOT ?7";

// The columns a newer bridge adds to a table of an older cache: what the
// record last sent beyond its code, the batch that marked it last, and what
// it had sent before that batch (to undo it).
const struct {
    const char* name;
    const char* type;
} kAddedColumns[] = {
    {"sentexcused", "VARCHAR(100)"}, {"sentreason", "VARCHAR(100)"}, {"batch", "INTEGER"},
    {"prevcode", "VARCHAR(100)"},    {"prevexcused", "VARCHAR(100)"}, {"prevreason", "VARCHAR(100)"},
};

// The columns a record is read back from, in this order: the record's
// values 0 to 8, then oldcode (9) and newcode (10).
const char* const kRecordColumns = "stdkey, attdate, reason, excused, absent, tardy, truant, discipline, %s, "
                                   "oldcode, newcode";

// Column `index` of the current row; NULL (an older cache may hold it)
// reads as empty text.
XString Text(sqlite::Query& query, int index)
{
    const char* value = query.StringColumn(index);
    return XString(value ? value : "");
}

// The record of the current row of a statement selecting kRecordColumns;
// `dateText` gets the date as stored.
AttendanceRecord ReadRecord(sqlite::Query& query, XString& dateText)
{
    AttendanceRecord record;
    record.student = Text(query, 0);
    dateText = Text(query, 1);
    record.date.Parse("YYYY-MM-DD", dateText);
    record.reason = Text(query, 2);
    record.excused = Text(query, 3);
    record.absent = Text(query, 4);
    record.tardy = Text(query, 5);
    record.truant = Text(query, 6);
    record.discipline = Text(query, 7);
    record.reference = Text(query, 8);
    record.newCode = Text(query, 10);
    return record;
}

} // namespace

// The prepared statements of one table, kept for the whole refresh.
struct AttendanceCache::Statements
{
    explicit Statements(sqlite::Database& db) : update(db), upsert(db) {}
    sqlite::Query update;  // all values of an existing record
    sqlite::Query upsert;  // insert, or update the existing record
};

AttendanceCache::AttendanceCache() = default;
AttendanceCache::~AttendanceCache()
{
    Close();
}

const char* AttendanceCache::ReferenceColumn(const XString& table)
{
    if (table == DailyTable)
        return "timeframe";
    if (table == PeriodTable)
        return "perkey";
    return nullptr;
}

XFileSpec AttendanceCache::DatabaseFile(const XFileSpec& folder)
{
    XFileSpec file = folder;
    file.AppendFolder("Attendance");
    file.AppendName("Attendance.db");
    return file;
}

int AttendanceCache::SqliteCode(const XException& error)
{
    if (dynamic_cast<const sqlite::SqlError*>(&error))
        return error.GetCode();
    // Told again on the way up (Rephrase): a database failure without the
    // driver's SQLSTATE is SQLite's, its native code SQLite's result code.
    if (error.Kind() == XErrorKind::Database && error.SqlState().empty() && error.NativeCode() != 0)
        return error.NativeCode();
    return -1;
}

XString AttendanceCache::Problem(const XException& error)
{
    return Problem(SqliteCode(error), error.what());
}

// SQLite answers some damaged files with "out of memory" (a size it read
// from a damaged page). When a fresh database in memory still takes a
// megabyte, memory was not what failed: the file is damaged.
static bool MemoryServesSqlite()
{
    sqlite3* db = nullptr;
    const bool served = sqlite3_open(":memory:", &db) == SQLITE_OK &&
                        sqlite3_exec(db, "CREATE TABLE t(a); INSERT INTO t VALUES (zeroblob(1048576));", nullptr,
                                     nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return served;
}

XString AttendanceCache::Problem(int sqliteCode, const char* text)
{
    // SQLite's primary result codes; a failure of the bridge's own making
    // carries none.
    int code = sqliteCode < 0 ? -1 : sqliteCode & 0xff;
    if (code == SQLITE_NOMEM && MemoryServesSqlite())
        code = SQLITE_CORRUPT;
    const XString cause = XString("(") + text + "). ";
    switch (code) {
    case 11:  // SQLITE_CORRUPT
    case 26:  // SQLITE_NOTADB
    case 1:   // SQLITE_ERROR: tables or columns not as this bridge makes them
        return "is damaged or is not an attendance cache of this bridge " + cause +
               "Delete it to rebuild it: the next update export then reads all attendance again and sends every "
               "current absence.";
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
        return "is held by another program " + cause +
               "Close the program that has it open (or wait until it is done) and run the extraction again.";
    case 13:  // SQLITE_FULL
        return "cannot be written: the disk is full " + cause + "Free space on the disk and run the extraction again.";
    case 3:   // SQLITE_PERM
    case 8:   // SQLITE_READONLY
    case 23:  // SQLITE_AUTH
        return "cannot be written " + cause +
               "Let the bridge's user write the file and its folder, and run the extraction again.";
    case 14:  // SQLITE_CANTOPEN
        return "cannot be opened " + cause +
               "It must be a file the bridge's user may read and write: correct its permissions, or remove what "
               "stands in its place to rebuild it.";
    case 10:  // SQLITE_IOERR
        return "could not be read or written " + cause + "Check the disk and run the extraction again.";
    default:
        return "failed " + cause + "Delete it to rebuild it if the failure stays.";
    }
}

void AttendanceCache::Open(const XFileSpec& file)
{
    m_db.Open(file.ToNativePath().c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
    try {
        // SQLite opens any file lazily; reading the schema now turns a file
        // that is no database (or is locked, or unreadable) into an error
        // here instead of in the middle of the refresh.
        m_db.Execute("SELECT count(*) FROM sqlite_master");
        // A commit is on the disk when it returns, its journal's removal
        // included (EXTRA also flushes the folder after it): the record of a
        // run's files, committed with the marks, must never be rolled back
        // by a power cut after the files took their names.
        m_db.Execute("PRAGMA synchronous = EXTRA");
        // Every refresh writes; a cache that cannot take it is named now.
        // SQLite also opens a file read-only when its header names a format
        // it cannot write: when the file itself may be written, that is a
        // damaged (or foreign) file, not a matter of permissions.
        const bool writable = ::access(file.ToNativePath().c_str(), W_OK) == 0;
        sqlite::Check(!m_db.IsReadOnly() || writable, SQLITE_READONLY_CODE, nullptr, "AttendanceCache::Open",
                      (XString("The attendance cache is read-only: ") + file.GetPath()).c_str());
        sqlite::Check(!m_db.IsReadOnly(), SQLITE_CORRUPT, nullptr, "AttendanceCache::Open",
                      (XString("The attendance cache's header names a format this bridge cannot write: ") +
                       file.GetPath()).c_str());
    } catch (...) {
        m_db.Close();
        throw;
    }
}

void AttendanceCache::Close()
{
    m_refreshed.reset();
    m_statements.clear();
    if (!m_db.IsOpen())
        return;
    Rollback();
    try {
        m_db.Close();
    } catch (const XException&) {
        // Statements are finalized above, so closing can only fail on a
        // broken connection; the next Open starts afresh either way.
    }
}

void AttendanceCache::CreateTable(const XString& table)
{
    const char* reference = ReferenceColumn(table);
    if (!reference)
        return;
    if (!TableExists(table))
        m_db.ExecuteFormat(kCreate, table.c_str(), "stdkey", "attdate", reference, "reason", "excused",
                           "absent", "tardy", "truant", "discipline", "header", "oldcode", "newcode",
                           "stdkey", "attdate", reference, "header");
    Upgrade(table);
}

bool AttendanceCache::HasColumn(const XString& table, const char* column)
{
    sqlite::Query query(m_db);
    query.PrepareFormat("SELECT name FROM pragma_table_info('%q') WHERE name = '%q'", table.c_str(), column);
    return query.Step();
}

void AttendanceCache::Upgrade(const XString& table)
{
    // All or nothing: a cache left with the new columns but without their
    // values would send every record again.
    m_db.Execute("SAVEPOINT upgrade");
    try {
        bool addedSent = false;
        for (const auto& column : kAddedColumns) {
            if (HasColumn(table, column.name))
                continue;
            m_db.ExecuteFormat("ALTER TABLE %s ADD COLUMN %s %s", table.c_str(), column.name, column.type);
            addedSent = addedSent || std::string(column.name) == "sentexcused";
        }
        // An older bridge sent the code only; what it sent of the excused
        // flag and the reason is unknown, so the values held count as sent
        // (an upgrade must not send a whole year again).
        if (addedSent)
            m_db.ExecuteFormat("UPDATE %s SET sentexcused = coalesce(excused, ''), sentreason = coalesce(reason, '') "
                               "WHERE oldcode IS NOT NULL",
                               table.c_str());
        m_db.Execute("RELEASE upgrade");
    } catch (...) {
        try {
            m_db.Execute("ROLLBACK TO upgrade");
            m_db.Execute("RELEASE upgrade");
        } catch (const XException&) {
            // A failed statement may have ended the transaction already.
        }
        throw;
    }
}

bool AttendanceCache::TableExists(const XString& table)
{
    sqlite::Query query(m_db);
    query.PrepareFormat("SELECT * FROM sqlite_master WHERE type='table' AND name='%q'", table.c_str());
    return query.Step();
}

void AttendanceCache::DropTable(const XString& table)
{
    RequireKnown(table, ReferenceColumn(table));
    m_statements.erase(table);
    m_db.ExecuteFormat("DROP TABLE %s", table.c_str());
}

void AttendanceCache::BeginRefresh(const XString& table, const XDate& from, const XDate& to)
{
    const char* reference = ReferenceColumn(table);
    RequireKnown(table, reference);
    m_refreshed.reset();
    m_refreshTable = table;
    // A null date formats as the empty text, which sorts before every date.
    m_refreshFrom = from.Format("yyyy-mm-dd");
    m_refreshTo = to.Format("yyyy-mm-dd");
    // Nothing cached at all (a first run, a cache rebuilt): nothing can
    // vanish, and the records stored need not be remembered.
    sqlite::Query cached(m_db);
    cached.PrepareFormat("SELECT EXISTS (SELECT 1 FROM %s)", table.c_str());
    if (!cached.Step() || std::atoi(cached.StringColumn(0)) == 0)
        return;
    // The keys stored from now on, in a temporary table (on the disk when it
    // grows, so memory stays flat); it goes with the transaction and its
    // savepoints like the records themselves.
    m_db.Execute("CREATE TEMP TABLE IF NOT EXISTS REFRESHED (stdkey, attdate, reference, header, "
                 "PRIMARY KEY (stdkey, attdate, reference, header)) WITHOUT ROWID");
    m_db.Execute("DELETE FROM temp.REFRESHED");
    m_refreshed = std::make_unique<sqlite::Query>(m_db);
    m_refreshed->Prepare("INSERT OR IGNORE INTO temp.REFRESHED VALUES (?1, ?2, ?3, ?4)");
}

void AttendanceCache::EndRefresh()
{
    if (!m_refreshed)
        return;
    m_refreshed.reset();
    const char* reference = ReferenceColumn(m_refreshTable);
    m_db.ExecuteFormat("UPDATE %s SET newcode='' WHERE attdate >= '%q' AND attdate <= '%q' AND newcode <> '' AND "
                       "NOT EXISTS (SELECT 1 FROM temp.REFRESHED R WHERE R.stdkey = %s.stdkey AND "
                       "R.attdate = %s.attdate AND R.reference = %s.%s AND R.header = %s.header)",
                       m_refreshTable.c_str(), m_refreshFrom.c_str(), m_refreshTo.c_str(), m_refreshTable.c_str(),
                       m_refreshTable.c_str(), m_refreshTable.c_str(), reference, m_refreshTable.c_str());
    m_db.Execute("DELETE FROM temp.REFRESHED");
}

AttendanceCache::Statements& AttendanceCache::StatementsFor(const XString& table)
{
    auto found = m_statements.find(table);
    if (found != m_statements.end())
        return *found->second;
    const char* reference = ReferenceColumn(table);
    RequireKnown(table, reference);
    auto statements = std::make_unique<Statements>(m_db);
    // A record that holds the values already is left as it is: a refresh
    // reads the same records again every night, and writing each of them
    // would rewrite (and journal) pages all over the table.
    statements->update.PrepareFormat(
        "UPDATE %s SET newcode=?1, excused=?2, absent=?3, tardy=?4, truant=?5, discipline=?6, "
        "reason=?7 WHERE stdkey=?8 AND attdate=?9 AND %s=?10 AND header=?11 AND (%s)",
        table.c_str(), reference, kDiffers);
    statements->upsert.PrepareFormat(
        "INSERT INTO %s (stdkey, attdate, reason, excused, absent, tardy, truant, discipline, %s, "
        "header, newcode) VALUES (?8, ?9, ?7, ?2, ?3, ?4, ?5, ?6, ?10, ?11, ?1) "
        "ON CONFLICT (stdkey, attdate, %s, header) DO UPDATE SET newcode=?1, excused=?2, "
        "absent=?3, tardy=?4, truant=?5, discipline=?6, reason=?7 WHERE %s",
        table.c_str(), reference, reference, kDiffers);
    return *m_statements.emplace(table, std::move(statements)).first->second;
}

int AttendanceCache::SaveRecord(const XString& table, const AttendanceRecord& record)
{
    Statements& statements = StatementsFor(table);
    // A record without a code is never inserted; it can only blank the code
    // of a record cached earlier.
    sqlite::Query& query = record.newCode.IsEmpty() ? statements.update : statements.upsert;
    // Every value stays as it is until both statements are stepped and
    // reset, so none is copied on the way into SQLite; each call binds
    // every parameter again.
    const XString date = record.date.Format("yyyy-mm-dd");
    query.BindUncopied(1, record.newCode);
    query.BindUncopied(2, record.excused);
    query.BindUncopied(3, record.absent);
    query.BindUncopied(4, record.tardy);
    query.BindUncopied(5, record.truant);
    query.BindUncopied(6, record.discipline);
    query.BindUncopied(7, record.reason);
    query.BindUncopied(8, record.student);
    query.BindUncopied(9, date);
    query.BindUncopied(10, record.reference);
    query.BindUncopied(11, record.referenceHeader);
    int changes = 0;
    try {
        query.Step();
        changes = m_db.Changes();
        if (m_refreshed) {
            m_refreshed->BindUncopied(1, record.student);
            m_refreshed->BindUncopied(2, date);
            m_refreshed->BindUncopied(3, record.reference);
            m_refreshed->BindUncopied(4, record.referenceHeader);
            m_refreshed->Step();
            m_refreshed->Reset();
        }
    } catch (...) {
        query.Reset();
        if (m_refreshed)
            m_refreshed->Reset();
        throw;
    }
    query.Reset();
    return changes;
}

AttendanceCache::UnexportedRecords AttendanceCache::Unexported(const XString& table, const XString& header,
                                                               bool orBlankHeader)
{
    RequireKnown(table, ReferenceColumn(table));
    Upgrade(table);
    return UnexportedRecords(m_db, table, header, orBlankHeader);
}

void AttendanceCache::CreateCommitTables()
{
    m_db.Execute("CREATE TABLE IF NOT EXISTS EXPORT_BATCH (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                 "started VARCHAR(30))");
    m_db.Execute("CREATE TABLE IF NOT EXISTS EXPORT_COMMIT (batch INTEGER, step INTEGER, tempname VARCHAR(260), "
                 "finalname VARCHAR(260), device INTEGER, inode INTEGER, size INTEGER, PRIMARY KEY (batch, step))");
}

int64_t AttendanceCache::NewBatch()
{
    CreateCommitTables();
    // AUTOINCREMENT never hands out a number twice, also once older rows
    // are gone; only the last one is kept.
    m_db.Execute("INSERT INTO EXPORT_BATCH (started) VALUES (datetime('now'))");
    sqlite::Query last(m_db, "SELECT max(id) FROM EXPORT_BATCH");
    last.Step();
    const int64_t batch = std::strtoll(Text(last, 0).c_str(), nullptr, 10);
    last.Finalize();
    m_db.ExecuteFormat("DELETE FROM EXPORT_BATCH WHERE id < %lld", static_cast<long long>(batch));
    return batch;
}

void AttendanceCache::RecordCommit(int64_t batch, const std::vector<CommitStep>& steps)
{
    CreateCommitTables();
    int step = 0;
    for (const CommitStep& s : steps)
        m_db.ExecuteFormat("INSERT INTO EXPORT_COMMIT (batch, step, tempname, finalname, device, inode, size) "
                           "VALUES (%lld, %d, '%q', '%q', %lld, %lld, %lld)",
                           static_cast<long long>(batch), step++, s.tempName.c_str(), s.finalName.c_str(),
                           static_cast<long long>(s.device), static_cast<long long>(s.inode),
                           static_cast<long long>(s.size));
}

bool AttendanceCache::PendingCommit(int64_t& batch, std::vector<CommitStep>& steps)
{
    steps.clear();
    if (!TableExists("EXPORT_COMMIT"))
        return false;
    sqlite::Query query(m_db, "SELECT batch, tempname, finalname, device, inode, size FROM EXPORT_COMMIT "
                              "WHERE batch = (SELECT min(batch) FROM EXPORT_COMMIT) ORDER BY step");
    auto number = [&](int column) { return static_cast<int64_t>(std::strtoll(Text(query, column).c_str(), nullptr, 10)); };
    while (query.Step()) {
        batch = number(0);
        steps.push_back({Text(query, 1), Text(query, 2), number(3), number(4), number(5)});
    }
    return !steps.empty();
}

void AttendanceCache::ClearCommit(int64_t batch)
{
    if (TableExists("EXPORT_COMMIT"))
        m_db.ExecuteFormat("DELETE FROM EXPORT_COMMIT WHERE batch = %lld", static_cast<long long>(batch));
}

void AttendanceCache::UndoBatch(int64_t batch)
{
    for (const char* table : {DailyTable, PeriodTable}) {
        if (!TableExists(table) || !HasColumn(table, "batch"))
            continue;
        m_db.ExecuteFormat("UPDATE %s SET oldcode = prevcode, sentexcused = prevexcused, sentreason = prevreason, "
                           "batch = NULL WHERE batch = %lld",
                           table, static_cast<long long>(batch));
    }
}

std::vector<CachedAttendance> AttendanceCache::Records(const XString& table)
{
    const char* reference = ReferenceColumn(table);
    RequireKnown(table, reference);
    sqlite::Query query(m_db);
    query.PrepareFormat((XString("SELECT ") + kRecordColumns + ", header FROM %s ORDER BY stdkey, attdate, %s, header")
                            .c_str(),
                        reference, table.c_str(), reference);
    std::vector<CachedAttendance> records;
    XString dateText;
    while (query.Step()) {
        CachedAttendance cached{ReadRecord(query, dateText), std::nullopt};
        cached.record.referenceHeader = Text(query, 11);
        if (const char* oldCode = query.StringColumn(9))
            cached.oldCode = XString(oldCode);
        records.push_back(std::move(cached));
    }
    return records;
}

XDateTime AttendanceCache::LastUpdated(const XString& element)
{
    XDateTime updated;
    sqlite::Query query(m_db);
    query.PrepareFormat("SELECT UPDATED FROM UPDATECONFIG WHERE ELEMENT='%q'", element.c_str());
    while (query.Step())
        updated.ParseTimestamp(query.StringColumn("UPDATED"));
    return updated;
}

void AttendanceCache::Begin()
{
    m_db.Execute("begin transaction");
}

void AttendanceCache::Commit()
{
    m_db.Execute("commit transaction");
}

void AttendanceCache::Rollback() noexcept
{
    // The refresh goes with the transaction.
    m_refreshed.reset();
    try {
        if (m_db.InTransaction())
            m_db.Execute("rollback transaction");
    } catch (const XException&) {
        // SQLite has rolled back already when a statement failed that way.
    }
}

void AttendanceCache::SetSavepoint()
{
    m_db.Execute("savepoint cache_savepoint");
}

void AttendanceCache::RollbackToSavepoint()
{
    m_db.Execute("rollback to cache_savepoint");
}

void AttendanceCache::ReleaseSavepoint()
{
    m_db.Execute("release cache_savepoint");
}

AttendanceCache::UnexportedRecords::UnexportedRecords(sqlite::Database& db, const XString& table,
                                                      const XString& header, bool orBlankHeader)
    : m_db(&db), m_table(table), m_select(std::make_unique<sqlite::Query>(db))
{
    const char* reference = ReferenceColumn(table);
    // The header goes into the selecting text as a literal, so the logged
    // statement shows which records it selected; the mark uses the same
    // selection, so it marks exactly the records walked.
    const char* headerTest = orBlankHeader ? "(header = '%q' OR header = '')" : "header = '%q'";
    XString selection;
    selection.Format("%s AND %s", kToSend, headerTest);
    char* text = sqlite3_mprintf(selection.c_str(), header.c_str());
    m_selection = text ? text : "";
    sqlite3_free(text);
    XString statement;
    statement.Format((XString("SELECT ") + kRecordColumns + ", rowid FROM %s WHERE %s").c_str(), reference,
                     table.c_str(), m_selection.c_str());
    m_select->Prepare(statement.c_str());
}

AttendanceCache::UnexportedRecords::UnexportedRecords(UnexportedRecords&&) noexcept = default;
AttendanceCache::UnexportedRecords::~UnexportedRecords() = default;

const char* AttendanceCache::UnexportedRecords::Sql() const
{
    return m_select->Sql();
}

bool AttendanceCache::UnexportedRecords::Next()
{
    if (!m_select->Step())
        return false;
    XString dateText;
    m_record = ReadRecord(*m_select, dateText);
    m_rowid = Text(*m_select, 11);
    ++m_walked;
    return true;
}

void AttendanceCache::UnexportedRecords::Skip()
{
    m_skipped.push_back(m_rowid);
}

void AttendanceCache::UnexportedRecords::MarkWritten(int64_t batch)
{
    m_select->Reset();
    // Nothing walked, nothing to mark: no second pass over the table.
    if (m_walked == 0)
        return;
    m_db->ExecuteFormat("UPDATE %s SET prevcode = oldcode, prevexcused = sentexcused, prevreason = sentreason, "
                        "oldcode = newcode, sentexcused = coalesce(excused, ''), sentreason = coalesce(reason, ''), "
                        "batch = %lld WHERE %s",
                        m_table.c_str(), static_cast<long long>(batch), m_selection.c_str());
    // Rare (a student filter): the records not written go back one by one.
    for (const XString& rowid : m_skipped)
        m_db->ExecuteFormat("UPDATE %s SET oldcode = prevcode, sentexcused = prevexcused, sentreason = prevreason, "
                            "batch = NULL WHERE rowid = %s",
                            m_table.c_str(), rowid.c_str());
    m_skipped.clear();
}
