// Writes a 1,000,000-row table through the whole writer path (column model,
// value functions, DelimitedTextWriter, temporary file and rename) and the
// same bytes with plain buffered fwrite, in the same run. The "ratio"
// counter is the best writer time over the best fwrite time, which keeps
// the noise of a shared machine out of the comparison.
#include "export/PDEWriter.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// The writer knows query fields only by pointer; here a field is a column index.
class DataAccessField
{
public:
    explicit DataAccessField(int c) : column(c) {}
    int column;
};
class DataAccessTable
{
};

namespace {

constexpr int kRows = 1000000;
const char* const kColumns[] = {"StudentNumber", "LastName", "FirstName", "BirthDate", "Grade", "Phone"};
constexpr int kColumnCount = 6;

// Rows of typical export values, made once.
const std::vector<std::vector<XString>>& SampleRows()
{
    static const std::vector<std::vector<XString>> rows = [] {
        std::vector<std::vector<XString>> r;
        r.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            const std::string n = std::to_string(100000 + i);
            r.push_back({XString(n.c_str()), XString(("Lastname" + n.substr(3)).c_str()),
                         XString(i % 3 ? "Christopher" : "Ann"), XString("09/14/2011"),
                         XString(std::to_string(i % 12 + 1).c_str()), XString("555 123-4567")});
        }
        return r;
    }();
    return rows;
}

class BenchWriter : public PDEWriter, public RowSource
{
public:
    BenchWriter() { SetRowSource(this); }

    DataAccessTable table;
    size_t row = 0;

    XString Text() { return SampleRows()[row][CurrentColumn()->GetQueryField()->column]; }

    void FilterAttendance(const XDate&, const XDate&) override {}
    void ClearFilter() override {}
    void CreateStudentAttendanceFromDB() override {}
    bool OpenTable(bool) override { return true; }
    bool ReadTable(const std::function<void()>& readRows, const std::function<void()>&) override
    {
        readRows();
        return true;
    }
    bool GetFirstRecord() override { return (row = 0) < SampleRows().size(); }
    bool GetNextRecord() override { return ++row < SampleRows().size(); }
    void ClearQuery() override { fields.clear(); }
    XString BuildQuery() override { return "SELECT"; }
    XString GetDataSource() override { return "bench"; }
    DataAccessField* AddQueryField(DataAccessTable*, const XString& name, bool) override
    {
        for (int i = 0; i < kColumnCount; ++i)
            if (name == kColumns[i]) {
                fields.push_back(std::make_unique<DataAccessField>(i));
                return fields.back().get();
            }
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<DataAccessField>> fields;
};

double WriteWithWriter(const QString& folder)
{
    BenchWriter writer;
    writer.SetPDEFolder(ToXString(folder));
    const auto start = std::chrono::steady_clock::now();
    writer.StartImport();
    writer.StartTable("Students", "Students.pef");
    for (const char* column : kColumns)
        writer.AddColumn(ColumnDeclaration(column).From(&writer.table)
                         .Value(writer.BindValue(&BenchWriter::Text)).Header(column));
    writer.WriteTable();
    writer.EndTable();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double WriteWithFwrite(const QString& folder)
{
    const auto start = std::chrono::steady_clock::now();
    FILE* file = std::fopen((folder + "/plain.pef").toLocal8Bit().constData(), "wb");
    for (const auto& r : SampleRows()) {
        for (int c = 0; c < kColumnCount; ++c) {
            if (c > 0)
                std::fputc('\t', file);
            std::fwrite(r[c].GetText(), 1, r[c].GetLength(), file);
        }
        std::fwrite("\r\n", 1, 2, file);
    }
    std::fclose(file);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_TableWriterVsFwrite(benchmark::State& state)
{
    QTemporaryDir dir;
    SampleRows();
    double writerSeconds = 1e9, plainSeconds = 1e9;
    for (auto _ : state) {
        plainSeconds = std::min(plainSeconds, WriteWithFwrite(dir.path()));
        writerSeconds = std::min(writerSeconds, WriteWithWriter(dir.path()));
    }
    state.counters["fwrite_s"] = plainSeconds;
    state.counters["writer_s"] = writerSeconds;
    state.counters["ratio"] = writerSeconds / plainSeconds;
}
BENCHMARK(BM_TableWriterVsFwrite)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
