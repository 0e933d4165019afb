// The export writer over a row source of its own: rows held in a vector, no
// database. What a table file holds depends only on the rows the source
// hands over, also when the source loses its link part way and reads the
// table again.
#include "MemoryWriter.h"

#include "util/XException.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Rows in memory; a field is the index of its column. It can lose its link
// once, after a number of rows, and then reads the table again from the
// start, as a database source does on a new connection.
class VectorRows : public RowSource
{
public:
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    int loseLinkAfter = -1;  // rows handed over before the loss; -1: never

    std::string Value(const DataAccessField* field) const { return rows[m_row][field->column]; }

    DataAccessField* AddQueryField(DataAccessTable*, const XString& name, bool required) override
    {
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i] == name.str()) {
                m_fields.push_back(std::make_unique<DataAccessField>(static_cast<int>(i)));
                return m_fields.back().get();
            }
        if (required)
            throw XException(("no column " + name.str()).c_str());
        return nullptr;
    }
    void ClearQuery() override { m_fields.clear(); }
    XString BuildQuery() override { return "SELECT * FROM Vector"; }
    void FilterAttendance(const XDate&, const XDate&) override {}
    void ClearFilter() override {}
    bool ReadTable(const std::function<void()>& readRows, const std::function<void()>& undo) override
    {
        try {
            readRows();
        } catch (const XException& e) {
            if (e.Kind() != XErrorKind::ConnectionLost || !undo)
                throw;
            undo();
            readRows();
        }
        return true;
    }
    bool GetFirstRecord() override
    {
        m_row = 0;
        return Serve();
    }
    bool GetNextRecord() override
    {
        ++m_row;
        return Serve();
    }

private:
    bool Serve()
    {
        if (!m_lost && loseLinkAfter >= 0 && static_cast<int>(m_row) == loseLinkAfter) {
            m_lost = true;
            throw XException(XErrorKind::ConnectionLost, "link lost");
        }
        return m_row < rows.size();
    }

    size_t m_row = 0;
    bool m_lost = false;
    std::vector<std::unique_ptr<DataAccessField>> m_fields;
};

// A writer with nothing of its own to read: every row comes from the source
// it is handed.
class PlainWriter : public PDEWriter
{
public:
    void CreateStudentAttendanceFromDB() override {}
    bool OpenTable(bool) override { return true; }
    XString GetDataSource() override { return "Vector"; }
    using PDEWriter::m_parameters;
};

TEST(RowSource, TheTableFileHoldsTheSourcesRowsOnceWhateverTheLink)
{
    const struct {
        const char* name;
        int loseLinkAfter;
    } cases[] = {
        {"link kept", -1},
        {"link lost before the first row", 0},
        {"link lost after two rows", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        VectorRows rows;
        rows.columns = {"number", "name"};
        rows.rows = {{"1001", "Ann"}, {"1002", "Bo"}, {"1003", "Cy"}};
        rows.loseLinkAfter = c.loseLinkAfter;
        PlainWriter writer;
        writer.m_parameters = {{"appShortName_", "MORV"}};
        ASSERT_TRUE(writer.SetPDEFolder(ToXString(folder.path())));
        writer.SetRowSource(&rows);

        writer.StartImport();
        writer.StartTable("Students", "Students.pef");
        DataAccessTable table;
        for (const char* column : {"number", "name"})
            writer.AddColumn(ColumnDeclaration(column).From(&table).Value([&rows, &writer] {
                return XString(rows.Value(writer.CurrentColumn()->GetQueryField()).c_str());
            }));
        EXPECT_EQ(writer.WriteTable(), 3);
        writer.EndTable();
        writer.CommitExport();

        EXPECT_EQ(ReadFile(folder.path() + "/Students.pef"), "1001\tAnn\r\n1002\tBo\r\n1003\tCy\r\n");
    }
}

}  // namespace
