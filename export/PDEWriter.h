// The export writer: turns the rows of the source database into the files the
// importer reads. The engine declares each export table (StartTable,
// AddColumn, WriteTable, EndTable); the writer fetches the rows through the
// data-access operations that the classes below it implement, writes one
// TAB-separated line per accepted row, and lists every table in the import
// header file (full export) or writes it as a section of the update file
// (update export).
//
// Every file of a run is written under a temporary name beside its final name
// and the whole set is moved onto the final names only when the run has
// succeeded (CommitExport), the import header file last, so the importer
// finds either the previous complete export or the new one, never a mix.
// The attendance cache records that commit, in the same transaction as the
// marks of the rows the update file carries, before the first rename: a run
// stopped at any point leaves either no trace or a record that the next run
// finishes (RecoverExportFolder), so every change reaches the importer once.
#pragma once

#include "cache/AttendanceCache.h"
#include "export/AttendanceRefresh.h"
#include "export/BridgeConfig.h"
#include "export/BridgeTaskBase.h"
#include "export/ExportColumn.h"
#include "export/ExportPragmas.h"
#include "export/RowSource.h"
#include "export/RunCommit.h"
#include "export/SISExpCustomField.h"
#include "export/SISExpHeader.h"
#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

class DataAccessField;
class DataAccessTable;
class DelimitedTextWriter;
class ExportCommit;

class PDEWriter : public BridgeTaskBase, private RunCommit::Host
{
    Q_OBJECT

public:
    explicit PDEWriter(QObject* parent = nullptr);
    ~PDEWriter() override;

    // "<the system's reason> writing <file name>".
    static XString WriteFailure(int writeError, const XString& fileName);
    // Inside a catch block: raises a write of `output` the system refused as
    // WriteFailure for `fileName` (the name the importer knows, not the
    // temporary one), and anything else as it came.
    [[noreturn]] static void RethrowWriteFailure(const DelimitedTextWriter& output, const XString& fileName);

    // ---- virtual operations, in the order the writer declares them ----

    // Column command 4: a derived writer may write something for `field`
    // here; the base writer writes nothing.
    virtual void FieldHook(DataAccessField* field);
    // The writer's start for one run (called when the connection opens):
    // reads the global folder from the bridge configuration record.
    virtual void StartPDEWriter();

    // End of a successful export: saves the bridge configuration record,
    // forgets the run's tables and closes the progress.
    virtual void ExportComplete();

    // Begins a full export: forgets earlier table declarations and takes the
    // start time. The custom-field list is kept.
    virtual void StartImport();
    // Writes the import header file (appShortName_ + ".PDE") listing every
    // declared table, then moves it onto its final name.
    virtual void FinishImport();

    // Begins an update export into `updateFile` (owned by the caller, who
    // keeps it alive until FinishUpdate): opens it on a new
    // "Update YYYYMMDDHHNNSS.PDU" and writes its head.
    virtual void StartUpdate(DelimitedTextWriter* updateFile);
    // Writes the timing block and closes the update file, which goes in
    // place with the run's other files. The marks of the attendance rows it
    // carries are committed only after that (CommitExportedAttendance).
    virtual void FinishUpdate();

    // ---- data-access operations, implemented by the classes below ----

    // Writes the changed cached attendance into the open update file,
    // without the student filter.
    virtual void CreateStudentAttendanceFromDB() = 0;
    // Runs the current table's query (`run` is always true); false when the
    // table could not be opened and is skipped.
    virtual bool OpenTable(bool run) = 0;
    // The name of the data source the run reads.
    virtual XString GetDataSource() = 0;
    // Where the rows of every table come from; not owned, and set before the
    // first table is declared.
    void SetRowSource(RowSource* rows) { m_rows = rows; }

    // The run state that reading a table's rows fills: kept when a table's
    // reading starts (SaveTableRunState) and put back (RestoreTableRunState)
    // when the link is lost part way, so that reading it again starts from
    // the same state. The writer's own is the cache's reference headers;
    // derived classes add theirs (counters, lists) and call the base.
    virtual void SaveTableRunState();
    virtual void RestoreTableRunState();

    // Deletes the ".pde" files of `folder`.
    virtual void DeletePDEFiles(const XFileSpec& folder);
    // True when the cached attendance table `element` should be rebuilt.
    virtual bool AttendanceTableExpired(const XString& element);


    // ---- table declaration and writing ----

    // Opens the declaration of one export table: one progress step
    // "Reading <display name>...", a new table header, no columns.
    void StartTable(const XString& displayName, const XString& fileName, int safeInclude = 0);

    // Declares one column. With a query table, its source column is added
    // to the query; when the data-access layer returns no field (an optional
    // column that is missing), nothing is declared and nullptr is returned.
    // A header name adds a header field, a custom key a custom field. The
    // command applies only without a value function.
    DataAccessField* AddColumn(const ColumnDeclaration& column);

    // Writes the current table: a table file in the PDE folder (full export)
    // or a section of the update file. Rows rejected by `rowFilter` are left
    // out; a non-empty `preamble` is written as a line before the first row.
    // Returns the number of rows written. Any failure is logged and thrown;
    // the table file is then not replaced.
    int WriteTable(const RowFilter& rowFilter = RowFilter(), const XString& preamble = XString());

    // Closes the declaration of the current table. A data-access layer that
    // holds the table's record set closes it before calling this.
    virtual void EndTable();

    // Deletes the current table's columns and the query description.
    void ClearColumns();

    // The column being written; valid only while a value function runs.
    const ExportColumn* CurrentColumn() const { return m_currentColumn; }

    // Binds a member function of a derived class as a value function or row
    // filter, e.g. BindValue(&ExpEngine::ZipValue).
    template <class T>
    ValueFunction BindValue(XString (T::*function)())
    {
        T* self = static_cast<T*>(this);
        return [self, function]() { return (self->*function)(); };
    }
    template <class T>
    RowFilter BindFilter(bool (T::*function)())
    {
        T* self = static_cast<T*>(this);
        return [self, function]() { return (self->*function)(); };
    }

    // ---- attendance cache ----

    // Opens the attendance cache of `folder` (the PDE folder when `folder`
    // does not exist) unless a cache is open already; false when it cannot
    // be opened.
    bool SetAttendanceDatabase(const XFileSpec& folder);
    // Closes the cache and deletes the PDE folder's cache file; raises when
    // the file stays.
    void DeleteAttendanceDatabase();
    // Drops `table` of the open cache when AttendanceTableExpired says so.
    void DropAttendanceTable(const XString& table);
    bool AttendanceTableExists(const XString& table);
    AttendanceCache& Cache() { return m_cache; }
    // The refresh of the cache from the source and the export of its changes.
    AttendanceRefresh& Attendance() { return m_attendance; }

    // The batch number of this run's marks, taken at its first use inside
    // the transaction that CommitExport commits with the record of its files.
    int64_t ExportBatch();
    // Turns a failure of the attendance cache into a failed run whose message
    // names the cache file, the cause and what to do.
    [[noreturn]] void FailCache(const XException& error);
    [[noreturn]] void FailCache(int sqliteCode, const char* text);

    // ---- run bookkeeping ----

    // True when SchoolConfig.xml does not match the current run (missing,
    // not fourteen items, or a source item differs; each difference logged).
    bool BridgeConfigChanged();
    // The clean-up after a change of source: update files, the record, the
    // PAT and DAT folders, AATP* and AATD* entries and the attendance caches.
    void DeleteUpdateFiles(const XFileSpec& folder);
    // Records that this run exported attendance up to `date`: the next save
    // stores it (one day back) as where the next update export starts. Runs
    // that never call it keep the stored date as it was.
    void SetExportedUpdate(const XDate& date, const XDateTime& dateTime);
    // Writes SchoolConfig.xml in the PDE folder from the current state (as
    // part of the run's files, in place once CommitExport succeeds).
    void SaveBridgeConfig();
    // A new temporary file for `fileName` in the PDE folder that joins the
    // run's files; `last` ones are put in place after all others.
    XFileSpec PendingExportFile(const XString& fileName, bool last = false);
    // Puts every file of the run in place at once (see RunCommit); after a
    // full export, also removes the table files an earlier run wrote that
    // this one neither wrote nor lists. The attendance cache records the
    // commit, and commits the marks of the run, before the first rename.
    // Raises when anything fails; the previous files and marks are then as
    // they were, or the record stays for the next run to finish.
    void CommitExport();
    // Finishes the commit of a run that was stopped in it: the files its
    // record names are put in place, and when one of them is not as that run
    // wrote it, the rows it carried are set to be sent again. Runs before
    // anything else touches the export folder.
    void RecoverExportFolder() override;
    // The run's files, pending until CommitExport.
    ExportCommit& RunFiles();
    // The name of every table file this bridge writes.
    static const std::vector<const char*>& TableFileNames();
    // Forgets every declared table.
    void ClearRunData();

    // ---- state read by the data-access layer and the tests ----

    const std::vector<std::unique_ptr<SISExpHeader>>& DeclaredTables() const { return m_tables; }
    const SISExpCustomFieldList& CustomFields() const { return m_customFields; }
    const XString& CurrentTableFileName() const { return m_currentFileName; }
    const XString& CurrentDisplayName() const { return m_currentDisplayName; }
    const XString& DateFormat() const { return m_pragmas.dateFormat; }

    // The writer's mode. Every export of a run ends in the run's one commit,
    // so a full export followed by an update export waits for it as
    // UpdateAfterFull. The entry points check the mode they need.
    enum class Mode {
        Idle,             // no export begun since the last commit or failed run
        Full,             // writing a full export's table files and header file
        Update,           // writing the update file of a run without a full export
        UpdateAfterFull,  // writing the update file after this run's full export
    };

    // Whether `name` has the form of an update file's name:
    // "Update " + 14 digits + ".PDU".
    static bool IsUpdateFileName(const XString& name);

protected:
    // Removes the run's temporary files when a run fails.
    void AbandonRun() override;

    // A section of the update file for the current table written by the
    // caller itself: the head now, the footer at EndUpdateSection.
    DelimitedTextWriter& BeginUpdateSection();
    void EndUpdateSection();

    // Pragma settings of the header and update files.
    ExportPragmas m_pragmas;

    // What identifies the source in the bridge configuration record.
    XString m_schoolNumber;
    XString m_district;
    XString m_schoolYear;
    XFileSpec m_masterFile;
    XFileSpec m_masterFolder;
    XFileSpec m_securityFile;
    XFileSpec m_globalFolder;
    XString m_overlapText;
    // The record's dates as the run found them (null after a change); a run
    // that did not export attendance writes them back unchanged.
    XDate m_storedUpdateDate;
    XDateTime m_storedUpdateDateTime;
    // Set when this run exported cached attendance and moved the update date.
    bool m_updateDateSet = false;

    XDateTime m_startTime;
    XDateTime m_endTime;

private:
    void WriteHeaderFile(DelimitedTextWriter& output);
    // The pragma lines of the run's settings, stamped with the time of
    // writing; a deprecated pragma is refused (logged and raised).
    void WritePragmaBlock(DelimitedTextWriter& output);
    ExportIdentity Identity() const;
    // The record the current run would save (update dates not set).
    RunRecord CurrentRunRecord();
    void WriteTableEntry(DelimitedTextWriter& output, const SISExpHeader& table);
    void WriteSectionHead(DelimitedTextWriter& output, const SISExpHeader& table);
    void WriteRows(DelimitedTextWriter& output, const RowFilter& rowFilter, int& count);
    void WriteColumn(DelimitedTextWriter& output, const ExportColumn& column, bool trace);
    // Logs and raises the failure of the current table, keeping the kind of
    // `cause` (nullptr: an unknown failure). A write the system refused
    // (`writeError`, an errno) is raised as its reason and the file, "No
    // space left on device writing Students.pef"; the log keeps the whole
    // message.
    [[noreturn]] void FailTable(const std::exception* cause, int lines, int writeError = 0);
    XString AppInfo(const char* key) const;
    XFileSpec NewUpdateFileSpec() const;

    std::vector<std::unique_ptr<SISExpHeader>> m_tables;
    SISExpHeader* m_currentTable = nullptr;
    XString m_currentFileName;
    XString m_currentDisplayName;
    std::vector<std::unique_ptr<ExportColumn>> m_columns;
    const ExportColumn* m_currentColumn = nullptr;
    SISExpCustomFieldList m_customFields;
    RowSource* m_rows = nullptr;
    // The row source; a writer without one is a programming error.
    RowSource& Rows();
    Mode m_mode = Mode::Idle;
    bool Updating() const { return m_mode == Mode::Update || m_mode == Mode::UpdateAfterFull; }
    // Logs and raises, as an internal failure, a call the current mode does
    // not allow.
    void RequireMode(bool allowed, const char* what);
    // The name the update file of this run will have, for its failures.
    XString m_updateFileName;

    AttendanceCache m_cache;
    // Why the cache last failed to open, for the run's failure message.
    XString m_attendanceDatabaseError;
    int m_attendanceDatabaseCode = -1;
    // Whether this run has checked that the cache it found is whole.
    bool m_cacheChecked = false;
    void CheckCacheNotLost();

    // The run's files and the record of their commit in the cache.
    RunCommit m_runCommit{*this, m_cache, m_pdeFolder};
    void OpenCommitCache() override;
    [[noreturn]] void FailCommitCache(const XException& error) override;
    void LogCommit(LogLevel::Level level, const XString& text) override;

    // Works on this writer's table, columns, update file and cache.
    friend class AttendanceRefresh;
    AttendanceRefresh m_attendance{*this};
};
