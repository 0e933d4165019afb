// Attendance.db: table creation, the refresh statements, the selection and
// marking of the records an update export sends, and the bookkeeping of
// UPDATECONFIG. Values go in as bound parameters, so a quote in a reason is
// stored as it is and can never change a statement.
#include "cache/AttendanceCache.h"

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

void AttendanceCache::Open(const XFileSpec& file)
{
    m_db.Open(file.ToNativePath().c_str(), nullptr, sqlite::Database::OpenReadWriteCreate);
    try {
        // SQLite opens any file lazily; reading the schema now turns a file
        // that is no database (or is locked, or unreadable) into an error
        // here instead of in the middle of the refresh.
        m_db.Execute("SELECT count(*) FROM sqlite_master");
        // Every refresh writes; a cache that cannot take it is named now.
        sqlite::Check(!m_db.IsReadOnly(), SQLITE_READONLY_CODE, nullptr, "AttendanceCache::Open",
                      (XString("The attendance cache is read-only: ") + file.GetPath()).c_str());
    } catch (...) {
        m_db.Close();
        throw;
    }
}

void AttendanceCache::Close()
{
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
    if (!reference || TableExists(table))
        return;
    m_db.ExecuteFormat(kCreate, table.c_str(), "stdkey", "attdate", reference, "reason", "excused",
                       "absent", "tardy", "truant", "discipline", "header", "oldcode", "newcode",
                       "stdkey", "attdate", reference, "header");
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

void AttendanceCache::BlankNewCode(const XString& table, const XDate& from)
{
    RequireKnown(table, ReferenceColumn(table));
    m_db.ExecuteFormat("UPDATE %s SET %s='' WHERE %s >= '%q'", table.c_str(), "newcode", "attdate",
                       from.Format("yyyy-mm-dd").c_str());
}

AttendanceCache::Statements& AttendanceCache::StatementsFor(const XString& table)
{
    auto found = m_statements.find(table);
    if (found != m_statements.end())
        return *found->second;
    const char* reference = ReferenceColumn(table);
    RequireKnown(table, reference);
    auto statements = std::make_unique<Statements>(m_db);
    statements->update.PrepareFormat(
        "UPDATE %s SET newcode=?1, excused=?2, absent=?3, tardy=?4, truant=?5, discipline=?6, "
        "reason=?7 WHERE stdkey=?8 AND attdate=?9 AND %s=?10 AND header=?11",
        table.c_str(), reference);
    statements->upsert.PrepareFormat(
        "INSERT INTO %s (stdkey, attdate, reason, excused, absent, tardy, truant, discipline, %s, "
        "header, newcode) VALUES (?8, ?9, ?7, ?2, ?3, ?4, ?5, ?6, ?10, ?11, ?1) "
        "ON CONFLICT (stdkey, attdate, %s, header) DO UPDATE SET newcode=?1, excused=?2, "
        "absent=?3, tardy=?4, truant=?5, discipline=?6, reason=?7",
        table.c_str(), reference, reference);
    return *m_statements.emplace(table, std::move(statements)).first->second;
}

int AttendanceCache::SaveRecord(const XString& table, const AttendanceRecord& record)
{
    Statements& statements = StatementsFor(table);
    // A record without a code is never inserted; it can only blank the code
    // of a record cached earlier.
    sqlite::Query& query = record.newCode.IsEmpty() ? statements.update : statements.upsert;
    query.Bind(1, record.newCode);
    query.Bind(2, record.excused);
    query.Bind(3, record.absent);
    query.Bind(4, record.tardy);
    query.Bind(5, record.truant);
    query.Bind(6, record.discipline);
    query.Bind(7, record.reason);
    query.Bind(8, record.student);
    query.Bind(9, record.date.Format("yyyy-mm-dd"));
    query.Bind(10, record.reference);
    query.Bind(11, record.referenceHeader);
    try {
        query.Step();
    } catch (...) {
        query.Reset();
        throw;
    }
    query.Reset();
    return m_db.Changes();
}

AttendanceCache::UnexportedRecords AttendanceCache::Unexported(const XString& table, const XString& header,
                                                               bool orBlankHeader)
{
    RequireKnown(table, ReferenceColumn(table));
    return UnexportedRecords(m_db, table, header, orBlankHeader);
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
    : m_select(std::make_unique<sqlite::Query>(db)), m_mark(std::make_unique<sqlite::Query>(db)), m_header(header)
{
    const char* reference = ReferenceColumn(table);
    // The header goes into the selecting text as a literal, so the logged
    // statement shows which records it selected.
    XString statement;
    statement.Format((XString("SELECT ") + kRecordColumns +
                      " FROM %s WHERE newcode IS NOT NULL AND (newcode <> oldcode OR oldcode IS NULL) AND %s")
                         .c_str(),
                     reference, table.c_str(), orBlankHeader ? "(header = '%q' OR header = '')" : "header = '%q'");
    m_select->PrepareFormat(statement.c_str(), header.c_str());
    m_mark->PrepareFormat("UPDATE %s SET oldcode=newcode WHERE stdkey=?1 AND attdate=?2 AND %s=?3 "
                          "AND newcode=?4 AND %s",
                          table.c_str(), reference,
                          orBlankHeader ? "(header = ?5 OR header = '')" : "header = ?5");
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
    m_record = ReadRecord(*m_select, m_dateText);
    return true;
}

void AttendanceCache::UnexportedRecords::MarkExported()
{
    m_mark->Bind(1, m_record.student);
    m_mark->Bind(2, m_dateText);
    m_mark->Bind(3, m_record.reference);
    m_mark->Bind(4, m_record.newCode);
    m_mark->Bind(5, m_header);
    m_mark->Step();
    m_mark->Reset();
}
