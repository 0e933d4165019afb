// A writer whose data-access operations read rows held in memory, so the
// writer's files can be checked byte for byte without a database.
#pragma once

#include "export/PDEWriter.h"
#include "tests/support/WholeFile.h"
#include "util/XException.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <set>
#include <string>
#include <vector>

// The writer knows query fields and tables only by pointer; here a field is
// the index of its column in the in-memory rows.
class DataAccessField
{
public:
    explicit DataAccessField(int c) : column(c) {}
    int column;
};
class DataAccessTable
{
};

class MemoryWriter : public PDEWriter, public RowSource
{
public:
    // Column names of the rows below.
    std::vector<std::string> schema;
    std::vector<std::vector<std::string>> rows;
    // Source columns that do not exist (AddQueryField returns none).
    std::set<std::string> missingFields;
    bool openFails = false;
    // Called by Execute when set.
    std::function<bool(MemoryWriter&, QString&)> run;
    std::vector<int> hookedColumns;

    DataAccessTable table;

    MemoryWriter() { SetRowSource(this); }
    ~MemoryWriter() override = default;

    using PDEWriter::AbandonRun;
    using PDEWriter::m_dailyAttTotal;
    using PDEWriter::m_importTotal;
    using PDEWriter::m_lutTotal;
    using PDEWriter::m_parameters;
    using PDEWriter::m_pragmas;
    using PDEWriter::m_periodAttTotal;
    using PDEWriter::m_setupTotal;

    // The standard text value function: the current column's field of the
    // current row.
    XString Text()
    {
        const DataAccessField* field = CurrentColumn()->GetQueryField();
        return field ? XString(rows[row][field->column].c_str()) : XString();
    }

    bool Execute(ParamMap, RunFlags, QString& errorText) override
    {
        return run ? run(*this, errorText) : PDEWriter::Execute(ParamMap(), RunFlags::Both, errorText);
    }

    void FieldHook(DataAccessField* field) override { hookedColumns.push_back(field ? field->column : -1); }

    void FilterAttendance(const XDate&, const XDate&) override {}
    void ClearFilter() override {}
    void CreateStudentAttendanceFromDB() override {}
    bool OpenTable(bool) override { return !openFails; }
    // Memory never loses its link: the rows are read once.
    bool ReadTable(const std::function<void()>& readRows, const std::function<void()>&) override
    {
        if (!OpenTable(true))
            return false;
        readRows();
        return true;
    }
    bool GetFirstRecord() override
    {
        row = 0;
        return !rows.empty();
    }
    bool GetNextRecord() override { return ++row < rows.size(); }
    void ClearQuery() override { fields.clear(); }
    XString BuildQuery() override { return "SELECT * FROM Memory"; }
    XString GetDataSource() override { return "MemoryDSN"; }
    DataAccessField* AddQueryField(DataAccessTable*, const XString& name, bool) override
    {
        if (missingFields.count(name.str()))
            return nullptr;
        for (size_t i = 0; i < schema.size(); ++i)
            if (schema[i] == name.str()) {
                fields.push_back(std::make_unique<DataAccessField>(static_cast<int>(i)));
                return fields.back().get();
            }
        throw XException(("unknown column " + name.str()).c_str());
    }

    size_t row = 0;

private:
    std::vector<std::unique_ptr<DataAccessField>> fields;
};

// The whole content of a file, or "<missing>" so that a missing file never
// passes for an empty one.
inline std::string ReadFile(const QString& path)
{
    return QFile::exists(path) ? ReadWholeFile(path).toStdString() : std::string("<missing>");
}

inline void WriteFile(const QString& path, const std::string& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// Names of the files in a folder, sorted.
inline QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}
