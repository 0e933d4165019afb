// The export writer's table declarations and the row-writing loop: one
// TAB-separated line per accepted row, into a table file (full export) or a
// section of the update file (update export).
#include "export/PDEWriter.h"

#include "export/ExportCommit.h"
#include "util/DelimitedTextWriter.h"
#include "util/XException.h"

#include <cstring>

PDEWriter::PDEWriter(QObject* parent) : BridgeTaskBase(parent) {}

// Out of line: ExportCommit is complete only here.
PDEWriter::~PDEWriter() = default;

void PDEWriter::FieldHook(DataAccessField* /*field*/) {}

RowSource& PDEWriter::Rows()
{
    if (!m_rows)
        LogAndThrow(LogLevel::Critical, "The export writer has no row source.");
    return *m_rows;
}

void PDEWriter::StartTable(const XString& displayName, const XString& fileName, int safeInclude)
{
    m_currentFileName = fileName;
    m_currentDisplayName = displayName;
    PutJobText("Reading " + displayName + "...");
    m_tables.push_back(std::make_unique<SISExpHeader>(displayName, fileName, safeInclude));
    m_currentTable = m_tables.back().get();
    ClearColumns();
}

DataAccessField* PDEWriter::AddColumn(const ColumnDeclaration& column)
{
    if (!m_currentTable)
        LogAndThrow(LogLevel::Critical, "Column " + column.text + " declared outside of a table.");

    DataAccessField* field = nullptr;
    if (column.table) {
        // A missing optional source column drops the whole column: no
        // output, no header field, no custom field.
        field = Rows().AddQueryField(column.table, column.text, column.required);
        if (!field)
            return nullptr;
    }
    m_columns.push_back(std::make_unique<ExportColumn>(field, column.text, column.value, column.command));
    if (column.plainText)
        m_columns.back()->SetPlainText();
    if (!column.header.IsEmpty())
        m_currentTable->AddField(column.header);
    const CustomFieldDeclaration& custom = column.custom;
    if (!custom.key.IsEmpty())
        m_customFields.Add(custom.key, custom.title, custom.type, custom.format, 1);
    return field;
}

void PDEWriter::ClearColumns()
{
    m_currentColumn = nullptr;
    m_columns.clear();
    Rows().ClearQuery();
}

void PDEWriter::EndTable()
{
    ClearColumns();
    Log(LogLevel::Debug, "Finished " + m_currentDisplayName + " table/query.");
}

int PDEWriter::WriteTable(const RowFilter& rowFilter, const XString& preamble)
{
    if (!m_currentTable)
        LogAndThrow(LogLevel::Critical, "WriteTable called without a declared table.");
    RequireMode(m_mode != Mode::Idle, "WriteTable called before an export began.");

    Log(LogLevel::Debug, "Opening Table");
    std::unique_ptr<DelimitedTextWriter> tableFile;
    XFileSpec finalSpec;
    int count = 0;
    bool writing = false;  // the query is open and the rows are being written

    // Closes and removes what this table was writing; the previous complete
    // table file (full export) stays, and an update file that lost a section
    // is never finished.
    auto abandon = [&]() {
        m_currentColumn = nullptr;
        DelimitedTextWriter* output = Updating() ? m_updateFile : tableFile.get();
        try {
            if (output && output->IsOpen())
                output->Close();
        } catch (...) {
            // The file is being thrown away; the original error is reported.
        }
        if (Updating()) {
            AbandonRun();
        } else if (!finalSpec.IsEmpty()) {
            RunFiles().Drop(finalSpec);
        }
    };

    // The file being written; read before `abandon` lets go of the update
    // file's writer, it tells a write the system refused.
    DelimitedTextWriter* output = nullptr;
    auto writeError = [&]() { return output ? output->WriteError() : 0; };

    // One reading of the table's rows into its file.
    auto write = [&]() {
        writing = true;
        count = 0;
        Log(LogLevel::Debug, "Writing " + m_currentFileName);
        output = nullptr;
        if (Updating()) {
            Log(LogLevel::Debug, "Writing PDU File");
            if (!m_updateFile)
                XException::RaiseError(XErrorKind::Internal, 0, "No update file is open.");
            WriteSectionHead(*m_updateFile, *m_currentTable);
            Log(LogLevel::Debug, "Wrote Current Header");
            output = m_updateFile;
        } else {
            Log(LogLevel::Debug, "Writing PDE File");
            finalSpec = m_pdeFolder;
            finalSpec.AppendName(m_currentFileName);
            tableFile = std::make_unique<DelimitedTextWriter>('\t');
            tableFile->Open(PendingExportFile(m_currentFileName));
            Log(LogLevel::Debug, "Opened PDE FIle");
            output = tableFile.get();
        }

        if (!preamble.IsEmpty()) {
            output->WriteRaw(preamble);
            output->EndLine();
        }

        Log(LogLevel::Debug, "Generating PDE Entries");
        WriteRows(*output, rowFilter, count);

        if (Updating()) {
            Log(LogLevel::Debug, "Writing pdu footer");
            output->WriteRaw("*\r\n\r\n");
            Log(LogLevel::Debug, "Finished PDU File. Lines= " + XString(count));
        } else {
            Log(LogLevel::Debug, "Closing Table file");
            tableFile->Close();
            Log(LogLevel::Debug, "Closed Table File. Lines= " + XString(count));
        }
    };
    // A table file read part way is dropped and written again; a section of
    // the update file cannot be taken back, so there the loss fails the run.
    std::function<void()> again;
    if (!Updating()) {
        again = [&]() {
            abandon();
            writing = false;
        };
    }

    bool opened = false;
    try {
        opened = Rows().ReadTable(write, again);
    } catch (const std::exception& e) {
        if (!writing)
            throw;  // the query itself failed; OpenTable said why
        const int error = writeError();
        abandon();
        FailTable(&e, count, error);
    } catch (...) {
        if (!writing)
            throw;
        abandon();
        FailTable(nullptr, count);
    }
    if (!opened) {
        // The query could not run, so there are no rows to trust: an empty
        // file would replace the previous export of this table and the
        // importer would take it for "no rows". The table is left out of
        // this export instead; its previous file, if any, is not touched.
        Log(LogLevel::Informational, "Skipped " + m_currentFileName + ": its query could not be opened.");
        m_tables.pop_back();
        m_currentTable = nullptr;
        return 0;
    }

    Log(LogLevel::Debug, "Wrote " + m_currentFileName);
    return count;
}

void PDEWriter::SaveTableRunState()
{
    m_attendance.SaveRunState();
}

void PDEWriter::RestoreTableRunState()
{
    m_attendance.RestoreRunState();
}

void PDEWriter::WriteRows(DelimitedTextWriter& output, const RowFilter& rowFilter, int& count)
{
    for (bool more = Rows().GetFirstRecord(); more; more = Rows().GetNextRecord()) {
        CheckInterrupt();
        if (rowFilter && !rowFilter())
            continue;
        if (count == 0) {
            Log(LogLevel::Debug, "Generating First PDE Entry");
            Log(LogLevel::Debug, "Line Passed Filter");
        }
        ++count;
        const bool trace = count == 1;
        for (const auto& column : m_columns) {
            m_currentColumn = column.get();
            WriteColumn(output, *column, trace);
        }
        m_currentColumn = nullptr;
        output.EndLine();
    }
}

void PDEWriter::WriteColumn(DelimitedTextWriter& output, const ExportColumn& column, bool trace)
{
    if (!trace && column.HasValueFunction()) {
        // Every value of every row but the first: nothing to trace.
        if (column.IsPlainText() && Rows().WritePlainText(output, column))
            return;
        output.WriteField(column.GetValueFunction()());
        return;
    }
    // The trace of the first row shows how each column was produced.
    const XString name = trace ? (column.GetQueryField() ? column.GetText() : XString("**Blank FieldName**"))
                               : XString();
    if (trace) {
        Log(LogLevel::Debug, "Getting curColumns field...");
        Log(LogLevel::Proprietary, "Processing Field = " + name);
    }

    if (column.HasValueFunction()) {
        if (trace)
            Log(LogLevel::Debug, "Getting valueStr");
        const XString value = column.GetValueFunction()();
        if (trace)
            Log(LogLevel::Debug, "Got valueStr");
        // The writer turns any TAB, CR or LF left in a value into a blank,
        // so a value can never shift the fields or split the line.
        output.WriteField(value);
        if (trace)
            Log(LogLevel::Proprietary, "Wrote = " + name);
        return;
    }

    if (trace) {
        Log(LogLevel::Debug, "Getting command");
        Log(LogLevel::Debug, "Got command");
    }
    switch (column.GetCommand()) {
    case ExportColumn::WriteText:
        output.WriteField(column.GetText());
        break;
    case ExportColumn::EndLine:
        output.EndLine();
        break;
    case ExportColumn::FieldHook:
        FieldHook(column.GetQueryField());
        break;
    default:
        break;
    }
    if (trace) {
        Log(LogLevel::Debug, "Wrote Default Value Command " + XString(static_cast<int32_t>(column.GetCommand())) +
                   " for " + name);
        Log(LogLevel::Debug, "Wrote the value = " + column.GetText());
    }
}

void PDEWriter::FailTable(const std::exception* cause, int lines, int writeError)
{
    Log(LogLevel::Debug, "Error writing line= " + XString(static_cast<int32_t>(lines)));
    XString sql;
    try {
        sql = Rows().BuildQuery();
    } catch (...) {
        // The statement only completes the message; the table's own error matters.
    }
    if (cause && writeError != 0) {
        // The caller needs the system's reason and the file, not the
        // statement: the log keeps the whole story.
        Log(LogLevel::Critical, XString("Failed with error [") + cause->what() + "] while writing file [" + m_currentFileName +
                   "] with query: " + sql);
        throw XException(XErrorKind::InputOutput,
                         WriteFailure(writeError, Updating() ? m_updateFileName : m_currentFileName).GetText(),
                         writeError);
    }
    if (cause)
        LogAndThrow(LogLevel::Critical,
                    XString("Failed with error [") + cause->what() + "] while writing file [" + m_currentFileName +
                        "] with query: " + sql,
                    *cause);
    LogAndThrow(LogLevel::Critical, "Failed with unknown error while writing file [" + m_currentFileName +
                       "] with query: " + sql);
}

XString PDEWriter::WriteFailure(int writeError, const XString& fileName)
{
    return XString(std::strerror(writeError)) + " writing " + fileName;
}

void PDEWriter::RethrowWriteFailure(const DelimitedTextWriter& output, const XString& fileName)
{
    if (output.WriteError() == 0)
        throw;
    throw XException(XErrorKind::InputOutput, WriteFailure(output.WriteError(), fileName).GetText(),
                     output.WriteError());
}

void PDEWriter::ClearRunData()
{
    m_currentTable = nullptr;
    m_tables.clear();
}
