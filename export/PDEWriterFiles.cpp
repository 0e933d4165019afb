// The writer's files around the tables: the import header file with its
// banner, pragmas, custom fields and table entries; the update file's head
// and timing; and the run bookkeeping record.
#include "export/PDEWriter.h"

#include "export/BridgeConfig.h"
#include "export/ExportCommit.h"
#include "util/DelimitedTextWriter.h"
#include "util/XDateSpan.h"
#include "util/XException.h"
#include "util/XFolderIterator.h"

#include <algorithm>
#include <vector>

namespace {
const char* const kCrLf = "\r\n";
} // namespace

ExportIdentity PDEWriter::Identity() const
{
    return {AppInfo("appTitle_"), AppInfo("appType_"), AppInfo("appVersion_"), AppInfo("appBuildDate_"),
            AppInfo("appAlias_")};
}

XString PDEWriter::AppInfo(const char* key) const
{
    return Param(QString::fromLatin1(key));
}

void PDEWriter::WritePragmaBlock(DelimitedTextWriter& output)
{
    if (m_pragmas.crsKeyInSecKey)
        LogAndThrow(LogLevel::Critical, "CrsKeyInSecKey Pragma is deprecated. Do not use!");
    m_pragmas.exportDate = XDateTime::Now();
    WritePragmas(output, m_pragmas, Identity());
}

void PDEWriter::WriteSectionHead(DelimitedTextWriter& output, const SISExpHeader& table)
{
    output.WriteRaw("// " + table.GetDisplayName() + kCrLf);
    output.WriteRaw(table.JoinFieldNames() + kCrLf);
}

DelimitedTextWriter& PDEWriter::BeginUpdateSection()
{
    if (!m_currentTable || !Updating() || !m_updateFile)
        LogAndThrow(LogLevel::Critical, "An update section was started without a declared table and an open update file.");
    WriteSectionHead(*m_updateFile, *m_currentTable);
    return *m_updateFile;
}

void PDEWriter::EndUpdateSection()
{
    if (m_updateFile)
        m_updateFile->WriteRaw(XString("*") + kCrLf + kCrLf);
}

void PDEWriter::WriteTableEntry(DelimitedTextWriter& output, const SISExpHeader& table)
{
    if (table.GetFieldCount() == 0)
        return;
    WriteSectionHead(output, table);
    const char* include = table.GetSafeInclude() ? "#safeinclude" : "#include";
    output.WriteRaw(XString(include) + " \"" + table.GetFileName() + "\"" + kCrLf);
    output.WriteRaw(XString("*") + kCrLf + kCrLf);
}

void PDEWriter::StartImport()
{
    const char* method = "PDEWriter::StartImport";
    Log(LogLevel::Informational, "Starting Import", method);
    m_mode = Mode::Full;
    m_startTime = XDateTime::Now();
    Log(LogLevel::Debug, "Clear Headers", method);
    ClearRunData();
    Log(LogLevel::Debug, "Clear Custom Field Lists", method);
    Log(LogLevel::Debug, "Start Import finished", method);
}

void PDEWriter::FinishImport()
{
    Log(LogLevel::Debug, "Begin Finish Import", "PDEWriter::FinishImport");
    RequireMode(m_mode == Mode::Full, "FinishImport called outside a full export.");

    // Put in place after every other file of the run: the importer starts
    // from this file, so it must only ever list table files that are complete.
    const XString name = AppInfo("appShortName_") + ".PDE";
    DelimitedTextWriter output('\t');
    try {
        output.Open(PendingExportFile(name, true));
        WriteHeaderFile(output);
        output.Close();
    } catch (...) {
        XFileSpec spec = m_pdeFolder;
        spec.AppendName(name);
        RunFiles().Drop(spec);
        RethrowWriteFailure(output, name);
    }
}

void PDEWriter::WriteHeaderFile(DelimitedTextWriter& output)
{
    const XString& separator = SeparatorLine();
    WriteBanner(output, Identity());
    WritePragmaBlock(output);

    output.WriteRaw(separator);
    output.WriteRaw(XString("// Custom Fields ") + kCrLf + "//" + kCrLf + kCrLf);
    m_customFields.WriteLines(output, false);
    output.WriteRaw(kCrLf);

    output.WriteRaw(separator);
    output.WriteRaw(XString("// Import Files and Headers") + kCrLf + "//" + kCrLf + kCrLf);
    for (const auto& table : m_tables)
        WriteTableEntry(output, *table);

    m_endTime = XDateTime::Now();
    WriteTimingBlock(output, m_startTime, m_endTime);
}

XFileSpec PDEWriter::NewUpdateFileSpec() const
{
    // Update files are named by their creation time, and the importer takes
    // them in name order. When the clock went back (a time-zone change, a
    // corrected clock, the repeated hour of daylight saving), the stamp moves
    // on past the newest name in the folder: a new file never sorts before
    // one already there, and never takes an existing name.
    XString newest;
    XFolderIterator files(m_pdeFolder, "Update *.PDU", false);
    XFileSpec entry;
    for (bool more = files.First(entry); more; more = files.Next(entry)) {
        const XString name = entry.GetFilePart();
        if (IsUpdateFileName(name) && name.Compare(newest) > 0)
            newest = name;
    }
    XDateTime stamp = XDateTime::Now();
    XString name = "Update " + stamp.Format("YYYYMMDDHHNNSS") + ".PDU";
    if (!newest.IsEmpty() && name.Compare(newest) <= 0) {
        const XString digits = newest.Range(7, 21);
        XDateTime last;
        if (last.Parse("YYYYMMDDHHNNSS", digits))
            last.Add(XDateSpan(0, 0, 0, 0, 0, 1));
        name = "Update " + last.Format("YYYYMMDDHHNNSS") + ".PDU";
        // A name of that form that is no time (a month 13) still has one
        // after it: the next number.
        if (!IsUpdateFileName(name) || name.Compare(newest) <= 0)
            name = "Update " + XString(std::to_string(std::stoull(digits.str()) + 1).c_str()) + ".PDU";
    }
    XFileSpec spec = m_pdeFolder;
    spec.AppendName(name);
    return spec;
}

bool PDEWriter::IsUpdateFileName(const XString& name)
{
    if (name.GetLength() != 25 || name.Left(7) != "Update " || name.From(21) != ".PDU")
        return false;
    for (const char* p = name.c_str() + 7; p < name.c_str() + 21; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

void PDEWriter::StartUpdate(DelimitedTextWriter* updateFile)
{
    if (!updateFile)
        LogAndThrow(LogLevel::Critical, "StartUpdate called without an update file.");
    RequireMode(!Updating(), "StartUpdate called while an update file is open.");
    m_mode = m_mode == Mode::Full ? Mode::UpdateAfterFull : Mode::Update;
    m_startTime = XDateTime::Now();

    // Joins the run's files: the update file appears only with the rest of
    // a successful run.
    updateFile->Open(RunFiles().Add(NewUpdateFileSpec()));
    m_updateFile = updateFile;

    WriteBanner(*updateFile, Identity());
    updateFile->WriteRaw(QuotedPragma("update", XDateTime::Now().Format("YYYYMMDDHHNNSS")) + kCrLf +
                         kCrLf);
    WritePragmaBlock(*updateFile);
    updateFile->WriteRaw(SeparatorLine());
    updateFile->WriteRaw(XString("// Import Files and Headers") + kCrLf + "//" + kCrLf + kCrLf);
}

void PDEWriter::FinishUpdate()
{
    if (!m_updateFile)
        LogAndThrow(LogLevel::Critical, "FinishUpdate called without an open update file.");
    m_endTime = XDateTime::Now();
    try {
        WriteTimingBlock(*m_updateFile, m_startTime, m_endTime);
        m_updateFile->Close();
    } catch (...) {
        // The writer belongs to the caller and outlives the abandoned run.
        const DelimitedTextWriter& output = *m_updateFile;
        AbandonRun();
        RethrowWriteFailure(output, m_updateFileName);
    }
    // The rows the file carries count as exported once the file is where
    // the importer looks for it, with the rest of the run: their marks are
    // committed with the record of the run's files (CommitExport).
    m_updateFile = nullptr;
}

void PDEWriter::StartPDEWriter()
{
    Log(LogLevel::Informational, "Starting PDE Writer");
    // The settings a user may edit in the record survive a clean-up: they
    // are read before it and written back by the next save.
    m_globalFolder = GetGlobalFolder(m_pdeFolder);
    m_overlapText = GetOverlapInDays(m_pdeFolder);
    if (BridgeConfigChanged()) {
        Log(LogLevel::Informational, "Bridge Configuration Changed.");
        DeleteUpdateFiles(m_pdeFolder);
        m_updateDate = XDate();
    } else {
        Log(LogLevel::Informational, "Bridge Configuration Did Not Change.");
    }
    m_storedUpdateDate = m_updateDate;
    m_storedUpdateDateTime = m_updateDateTime;
    m_updateDateSet = false;
    Log(LogLevel::Informational, XString("Import Folder: ") + m_pdeFolder.GetPath());
}

RunRecord PDEWriter::CurrentRunRecord()
{
    RunRecord record;
    record.Set(RunRecordField::Sis, m_pragmas.bridgeAlias);
    record.Set(RunRecordField::BridgeVersion, AppInfo("appVersion_"));
    record.Set(RunRecordField::SchoolNumber, m_schoolNumber);
    record.Set(RunRecordField::District, m_district);
    record.Set(RunRecordField::SchoolYear, m_schoolYear);
    record.Set(RunRecordField::Dsn, GetDataSource());
    record.Set(RunRecordField::MasterFile, m_masterFile.GetPath());
    record.Set(RunRecordField::MasterFolder, m_masterFolder.GetPath());
    record.Set(RunRecordField::SecurityFile, m_securityFile.GetPath());
    record.Set(RunRecordField::GlobalFolder, m_globalFolder.GetPath());
    record.Set(RunRecordField::OverlapInDays, m_overlapText);
    record.Set(RunRecordField::LogLevel, XString(int32_t(LogLevel::Informational)));
    return record;
}

bool PDEWriter::BridgeConfigChanged()
{
    BridgeConfigItems stored;
    ReadBridgeConfig(m_pdeFolder, stored);
    return CurrentRunRecord().SourceChanged(stored, [this](const XString& change) { Log(LogLevel::Informational, change); });
}

void PDEWriter::DeleteUpdateFiles(const XFileSpec& folder)
{
    try {
        Log(LogLevel::Debug, "DeleteUpdateFiles: Assigned import folder");
        folder.PatternDelete("*.pdu");
        Log(LogLevel::Debug, "Deleted pdu files");
        Log(LogLevel::Debug, "Changed FileName to SchoolConfig");
        const XFileSpec record = BridgeConfigSpec(folder);
        if (record.Exists())
            record.Delete();
        Log(LogLevel::Debug, "Deleted SchoolConfig");

        const XFileSpec parent = record.GetParent();
        Log(LogLevel::Debug, "Got Parent Folder");
        const struct { const char* name; const char* append; const char* found; const char* deleted; } subfolders[] = {
            {"PAT", "Appended PAT", "Found PAT Folder", "Deleted PAT Folder"},
            {"DAT", "Appended DAT Folder", "Found DAT Folder", "Deleted DAT Folder"},
        };
        for (const auto& sub : subfolders) {
            if (sub.name[0] == 'D')
                Log(LogLevel::Debug, "Reset PDE Folder");
            XFileSpec spec = parent;
            spec.AppendFolder(sub.name);
            Log(LogLevel::Debug, sub.append);
            if (spec.Exists()) {
                Log(LogLevel::Debug, sub.found);
                spec.Delete();
                Log(LogLevel::Debug, sub.deleted);
            }
        }

        for (const char* pattern : {"AATP*", "AATD*"}) {
            XFolderIterator entries(folder, pattern, true);
            Log(LogLevel::Debug, XString("Assigned ") + XString(pattern).Left(4) + " Iterator");
            XFileSpec entry;
            // Collected first: deleting while the folder is being read may
            // skip entries.
            std::vector<XFileSpec> found;
            for (bool more = entries.First(entry); more; more = entries.Next(entry))
                found.push_back(entry);
            for (const XFileSpec& item : found) {
                Log(LogLevel::Debug, XString("Iterating ") + XString(pattern).Left(4) + " Folder");
                item.Delete();
                Log(LogLevel::Debug, XString("Deleted ") + XString(pattern).Left(4) + " Folder");
            }
        }

        DeleteAttendanceDatabase();
        if (!m_globalFolder.IsEmpty() && m_globalFolder.Exists() && SetAttendanceDatabase(m_globalFolder)) {
            DropAttendanceTable(AttendanceCache::PeriodTable);
            DropAttendanceTable(AttendanceCache::DailyTable);
            // The run's own cache is the PDE folder's; the global one was
            // opened only for the drop.
            m_cache.Close();
        }
    } catch (const XException& e) {
        LogAndThrow(LogLevel::Critical, XString("Error: Failed while trying to remove PDU Files.\n Please manually remove "
                               "all .pdu files from the Import Directory, and try extracting again.\n") +
                           e.what() + "\nExiting Extractor.",
                    e);
    }
}

void PDEWriter::ExportComplete()
{
    Log(LogLevel::Debug, "Saving Bridge Config");
    SaveBridgeConfig();
    Log(LogLevel::Debug, "Putting the export files in place");
    CommitExport();
    Log(LogLevel::Debug, "Clearing Run Data");
    ClearRunData();
    Log(LogLevel::Progress, "Export complete.");
    Sink().Progress(QStringLiteral("end_progress"), -1);
    Log(LogLevel::Debug, "End Extract Log");
    Log(LogLevel::Debug, "Extract Log Ended");
    Sink().Progress(QStringLiteral("bridge_complete"), -1);
}

void PDEWriter::SetExportedUpdate(const XDate& date, const XDateTime& dateTime)
{
    m_updateDate = date;
    m_updateDateTime = dateTime;
    m_updateDateSet = true;
}

void PDEWriter::SaveBridgeConfig()
{
    if (m_updateDateSet) {
        // The stored dates lie one day back, so the next update export reads
        // the last day again.
        if (m_updateDate.IsNull() || m_updateDate == 0)
            m_updateDate = m_updateDateTime.GetDate();
        if (m_updateDate.IsNull() || m_updateDate == 0)
            m_updateDate = XDate();
        else
            m_updateDate -= 1;
        if (m_updateDateTime.GetDate().IsNull() || m_updateDateTime.GetTime().IsNull())
            m_updateDateTime = XDateTime(m_updateDate, XTime());
        else
            m_updateDateTime.Subtract(XDateSpan::FromDays(1));
    } else {
        // No attendance went out in this run: where the next update export
        // starts stays where it was.
        m_updateDate = m_storedUpdateDate;
        m_updateDateTime = m_storedUpdateDateTime;
    }
    RunRecord record = CurrentRunRecord();
    record.Set(RunRecordField::UpdateDate, m_updateDate.Format("dd-mmm-yyyy"));
    record.Set(RunRecordField::UpdateDateTime, m_updateDateTime.Format("dd-mmm-yyyy hh:nn:ss"));
    WriteBridgeConfigFile(PendingExportFile("SchoolConfig.xml"), record.Items());
}

void PDEWriter::DeletePDEFiles(const XFileSpec& folder)
{
    Log(LogLevel::Debug, "DeletePDEFiles: Assigned import folder");
    try {
        XFolderIterator files(folder, "*.pde", false);
        XFileSpec entry;
        for (bool more = files.First(entry); more; more = files.Next(entry)) {
            // The importer's own custom-field settings share the extension
            // but are not an export file.
            if (entry.GetFilePart().CompareNoCase("CustomFieldConfig.pde") == 0)
                continue;
            entry.Delete();
        }
    } catch (const XException& e) {
        LogAndThrow(LogLevel::Critical, XString("Error: Failed while trying to remove PDE Files.\n Please manually "
                               "remove all .pde (except for CustomFieldConfig.pde) files from the "
                               "Import Directory, and try extracting again.\n") +
                           e.what() + "\nExiting Extractor.",
                    e);
    }
}
