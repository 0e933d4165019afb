// Recordsets through the real driver: the type code and value kind of each
// column type, NULL against empty, long and 8-bit values read whole, the two
// cursor kinds, table hints on a database without them, read errors while
// fetching, and the catalogue views of the test source.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoRecordset.h"
#include "tests/support/AdoDateTimeValue.h"
#include "tests/support/TestOdbcSource.h"

// Readable failure messages for values.
void PrintTo(const AdoVariant& v, std::ostream* os)
{
    *os << "kind " << static_cast<int>(v.Type()) << " ";
    switch (v.Type()) {
    case AdoVarType::String:
    case AdoVarType::ByteArray:
        *os << v.Text().size() << " bytes \"" << v.Text().substr(0, 40) << "\"";
        break;
    case AdoVarType::R4:
    case AdoVarType::R8:
        *os << v.AsDouble();
        break;
    case AdoVarType::Date: {
        const AdoDateTime t = v.AsDate();
        *os << t.year << "-" << int(t.month) << "-" << int(t.day) << " " << int(t.hour) << ":" << int(t.minute)
            << ":" << int(t.second) << "." << t.millisecond;
        break;
    }
    case AdoVarType::Bool:
        *os << v.AsBool();
        break;
    default:
        *os << v.AsInt64() << "/" << v.AsUInt64();
    }
}

namespace {

class AdoRecordsetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_connection.Open("Provider=MSDASQL;Persist Security Info=False;Data Source=" + m_source.Dsn() +
                          ";Trusted_Connection=yes;");
    }

    // The single value of a one-row, one-column statement.
    AdoVariant ValueOf(const std::string& statement, int cursorType = adOpenStatic)
    {
        AdoRecordset rs;
        rs.Open(statement, m_connection, cursorType);
        EXPECT_FALSE(rs.IsEOF()) << statement;
        return rs.Fields().Item(0L).Value();
    }

    TestOdbcSource m_source{"MorvRecordset"};
    AdoConnection m_connection;
};

TEST_F(AdoRecordsetTest, ColumnTypesMapToTypeCodesAndValueKinds)
{
    struct Case
    {
        const char* declared;
        const char* literal;
        int adoType;
        AdoVariant value;
    };
    const Case cases[] = {
        {"INTEGER", "42", adInteger, AdoVariant::Integer(AdoVarType::I4, 42)},
        {"INTEGER", "-2147483648", adInteger, AdoVariant::Integer(AdoVarType::I4, INT32_MIN)},
        // SQLite lets a wider number into a narrow column: it stays whole.
        {"INTEGER", "5000000000", adInteger, AdoVariant::Integer(AdoVarType::I8, 5000000000LL)},
        {"SMALLINT", "-7", adSmallInt, AdoVariant::Integer(AdoVarType::I2, -7)},
        {"SMALLINT", "70000", adSmallInt, AdoVariant::Integer(AdoVarType::I4, 70000)},
        {"TINYINT", "5", adTinyInt, AdoVariant::Integer(AdoVarType::I1, 5)},
        {"BIGINT", "-9223372036854775807", adBigInt, AdoVariant::Integer(AdoVarType::I8, -9223372036854775807LL)},
        {"FLOAT", "3.1", adDouble, AdoVariant::Real(AdoVarType::R8, 3.1)},
        {"DOUBLE", "-0.5", adDouble, AdoVariant::Real(AdoVarType::R8, -0.5)},
        {"NUMERIC(10,2)", "12.50", adDouble, AdoVariant::Real(AdoVarType::R8, 12.5)},
        {"BIT", "1", adBoolean, AdoVariant::Boolean(true)},
        {"BIT", "0", adBoolean, AdoVariant::Boolean(false)},
        {"DATE", "'2009-03-15'", adDBDate, AdoVariant::Date(Dt(2009, 3, 15))},
        {"DATETIME", "'2009-03-15 08:05:00.123'", adDBTimeStamp, AdoVariant::Date(Dt(2009, 3, 15, 8, 5, 0, 123))},
        {"DATE", "'2009-03-15 08:05'", adDBDate, AdoVariant::Date(Dt(2009, 3, 15, 8, 5))},
        {"TIME", "'08:05:07'", adDBTime, AdoVariant::Date(Dt(1899, 12, 30, 8, 5, 7))},
        {"VARCHAR(20)", "'abc'", adVarChar, AdoVariant::String("abc")},
        {"VARCHAR(20)", "''", adVarChar, AdoVariant::String("")},
        {"TEXT", "'memo'", adLongVarChar, AdoVariant::String("memo")},
        {"BLOB", "x'00ff10'", adBinary, AdoVariant::Bytes(std::string("\0\xff\x10", 3))},
        // Texts this layer does not parse itself are converted by the driver.
        {"INTEGER", "12.5", adInteger, AdoVariant::Integer(AdoVarType::I4, 12)},
        {"DATE", "'2009/03/15'", adDBDate, AdoVariant::Date(Dt(2009, 3, 15))},
        {"FLOAT", "' 2.5'", adDouble, AdoVariant::Real(AdoVarType::R8, 2.5)},
        {"INTEGER", "NULL", adInteger, AdoVariant::Null()},
        {"DATE", "NULL", adDBDate, AdoVariant::Null()},
        // An empty text in a date or number column means "no value".
        {"DATE", "''", adDBDate, AdoVariant::Null()},
        {"INTEGER", "' '", adInteger, AdoVariant::Null()},
        {"VARCHAR(20)", "NULL", adVarChar, AdoVariant::Null()},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string table = "t" + std::to_string(n++);
        m_source.Exec("CREATE TABLE " + table + " (v " + c.declared + "); INSERT INTO " + table + " VALUES (" +
                      c.literal + ");");
        for (int cursor : {adOpenStatic, adOpenForwardOnly}) {
            AdoRecordset rs;
            rs.Open("SELECT v FROM " + table, m_connection, cursor);
            AdoField& field = rs.Fields().Item("V");
            EXPECT_EQ(field.Type(), c.adoType) << c.declared << " " << c.literal;
            EXPECT_EQ(field.Value(), c.value) << c.declared << " " << c.literal << " kind "
                                             << static_cast<int>(field.Value().Type());
            EXPECT_EQ(field.Status(), c.value.IsNull() ? adFieldIsNull : adFieldOK) << c.literal;
        }
    }
}

TEST_F(AdoRecordsetTest, ValuesThatCannotBeConvertedFailTheRead)
{
    // The driver answers NULL (or nonsense) for these; a stored value must
    // never silently turn into an empty one.
    struct Case
    {
        const char* declared;
        const char* good;  // a first row that reads
        const char* literal;
        const char* shown;  // the stored value, named in the message
    };
    const Case cases[] = {
        {"INTEGER", "1", "'abc'", "abc"},
        {"BIT", "1", "'Y'", "Y"},
        {"DATE", "'2009-03-15'", "'x'", "x"},
        {"DATE", "'2009-03-15'", "'20090315'", "20090315"},
        {"FLOAT", "1.5", "'abc'", "abc"},
        {"BIGINT", "1", "'99999999999999999999'", "1.0e+20"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string table = "u" + std::to_string(n++);
        m_source.Exec("CREATE TABLE " + table + " (Grade " + c.declared + "); INSERT INTO " + table +
                      " VALUES (" + c.good + "), (" + c.literal + ");");
        AdoRecordset rs;
        rs.Open("SELECT Grade FROM " + table, m_connection, adOpenForwardOnly);
        try {
            rs.MoveNext();
            ADD_FAILURE() << c.declared << " " << c.literal << " read as kind "
                          << static_cast<int>(rs.Fields().Item(0L).Value().Type());
        } catch (const AdoException& e) {
            EXPECT_EQ(e.Code(), AdoCode::ConversionFailed) << e.Description();
            EXPECT_NE(e.Description().find("Grade"), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(std::string("\"") + c.shown + "\""), std::string::npos) << e.Description();
        }
        EXPECT_THROW(rs.Open("SELECT Grade FROM " + table, m_connection, adOpenStatic), AdoException);
    }
}

TEST_F(AdoRecordsetTest, LongAndEightBitValuesAreReadWhole)
{
    std::string longText(70000, 'x');
    longText.front() = 'A';
    longText.back() = 'Z';
    const std::string eightBit = "caf\xe9 \x80\xff\xa0";
    // Short columns hold long values too (SQLite does not enforce sizes):
    // nothing may be cut at a buffer's end.
    m_source.Exec("CREATE TABLE m (id INTEGER, memo TEXT, blob BLOB, name VARCHAR(10));"
                  "INSERT INTO m VALUES (1, '" + longText + "', zeroblob(100000), '" + longText + "');"
                  "INSERT INTO m VALUES (2, '" + eightBit + "', x'', '" + eightBit + "');"
                  // Exactly the declared size, and one byte beyond it.
                  "INSERT INTO m VALUES (3, '', x'', '0123456789'), (4, '', x'', '0123456789A');");
    // Also without bound columns, the only path for drivers that read
    // values in column order alone.
    for (const bool binding : {true, false})
    for (int cursor : {adOpenStatic, adOpenForwardOnly}) {
        SCOPED_TRACE(std::string(binding ? "bound" : "SQLGetData only") + ", cursor " + std::to_string(cursor));
        AdoRecordset rs;
        rs.SetAllowBinding(binding);
        rs.Open("SELECT memo, blob, name FROM m ORDER BY id", m_connection, cursor);
        AdoField& memo = rs.Fields().Item(0L);
        AdoField& blob = rs.Fields().Item(1L);
        AdoField& name = rs.Fields().Item(2L);
        EXPECT_FALSE(name.Attributes() & adFldLong);
        EXPECT_EQ(name.Value().Text(), longText);
        EXPECT_TRUE(memo.Attributes() & adFldLong);
        EXPECT_EQ(memo.Value().Text(), longText);
        EXPECT_EQ(memo.ActualSize(), 70000);
        EXPECT_EQ(blob.Value().Type(), AdoVarType::ByteArray);
        EXPECT_EQ(blob.Value().Text(), std::string(100000, '\0'));

        // GetChunk hands out the value in order and then NULL.
        std::string joined;
        for (AdoVariant part = memo.GetChunk(30000); !part.IsNull(); part = memo.GetChunk(30000))
            joined += part.Text();
        EXPECT_EQ(joined, longText);

        rs.MoveNext();
        EXPECT_EQ(memo.Value().Text(), eightBit);
        EXPECT_EQ(name.Value().Text(), eightBit);
        EXPECT_EQ(memo.ActualSize(), static_cast<long long>(eightBit.size()));
        EXPECT_EQ(blob.Value(), AdoVariant::Bytes(""));
        EXPECT_EQ(blob.ActualSize(), 0);
        rs.MoveNext();
        EXPECT_EQ(name.Value().Text(), "0123456789");
        rs.MoveNext();
        EXPECT_EQ(name.Value().Text(), "0123456789A");
    }
}

TEST_F(AdoRecordsetTest, StaticCountsRowsAndForwardOnlyStreams)
{
    m_source.Exec("CREATE TABLE r (id INTEGER); INSERT INTO r VALUES (1), (2), (3);"
                  "CREATE TABLE e (id INTEGER);");
    struct Case
    {
        int cursor;
        long long count;
    };
    for (const Case& c : {Case{adOpenStatic, 3}, Case{adOpenForwardOnly, -1}}) {
        AdoRecordset rs;
        rs.Open("SELECT id FROM r ORDER BY id", m_connection, c.cursor);
        EXPECT_EQ(rs.RecordCount(), c.count);
        EXPECT_FALSE(rs.IsBOF());
        // Walk to the end, then MoveFirst starts again at the first row.
        for (int pass = 0; pass < 2; ++pass) {
            std::string seen;
            for (; !rs.IsEOF(); rs.MoveNext())
                seen += std::to_string(rs.Fields().Item(0L).Value().AsInt64());
            EXPECT_EQ(seen, "123") << "cursor " << c.cursor << " pass " << pass;
            EXPECT_THROW(rs.MoveNext(), AdoException);
            EXPECT_THROW(rs.Fields().Item(0L).Value(), AdoException);
            rs.MoveFirst();
        }
        rs.Close();
        EXPECT_THROW(rs.RecordCount(), AdoException);

        rs.Open("SELECT id FROM e", m_connection, c.cursor);
        EXPECT_TRUE(rs.IsEOF());
        EXPECT_TRUE(rs.IsBOF());
        EXPECT_EQ(rs.RecordCount(), c.count == -1 ? -1 : 0);
        rs.MoveFirst();
        EXPECT_TRUE(rs.IsEOF());
        try {
            rs.Fields().Item(0L).Value();
            ADD_FAILURE() << "a value of an empty result";
        } catch (const AdoException& e) {
            EXPECT_EQ(e.Code(), AdoCode::NoCurrentRecord);
        }
    }
}

TEST_F(AdoRecordsetTest, FieldsAreFoundByPositionAndByNameIgnoringCase)
{
    m_source.Exec("CREATE TABLE f (StaffID INTEGER, LastName TEXT); INSERT INTO f VALUES (7, 'Lee');");
    AdoRecordset rs;
    rs.Open("SELECT STF.\"StaffID\", STF.\"LastName\" FROM \"f\" STF", m_connection, adOpenStatic);
    ASSERT_EQ(rs.Fields().Count(), 2);
    EXPECT_EQ(rs.Fields().Item(1L).Name(), "LastName");
    EXPECT_EQ(rs.Fields().Item("lastname").Value().Text(), "Lee");
    EXPECT_EQ(rs.Fields().Item("STAFFID").Index(), 0);
    EXPECT_EQ(rs.Fields().Find("Missing"), nullptr);
    for (long bad : {-1L, 2L}) {
        try {
            rs.Fields().Item(bad);
            ADD_FAILURE() << bad;
        } catch (const AdoException& e) {
            EXPECT_EQ(e.Code(), AdoCode::ItemNotFound);
        }
    }
    EXPECT_THROW(rs.Fields().Item("Missing"), AdoException);
}

TEST_F(AdoRecordsetTest, TableHintsAreDroppedForSqliteButNotInsideLiterals)
{
    m_source.Exec("CREATE TABLE \"Staff\" (\"StaffID\" INTEGER, \"LastName\" TEXT);"
                  "INSERT INTO \"Staff\" VALUES (1, ' WITH (NOLOCK) ');"
                  "INSERT INTO \"Staff\" VALUES (2, 'Lee');");
    const std::string statement =
        "SELECT STF.\"LastName\", ' WITH (NOLOCK) ' AS lit FROM \"Staff\" STF WITH (NOLOCK)   "
        "WHERE STF.\"LastName\" = ' WITH (NOLOCK) '";
    AdoRecordset rs;
    rs.Open(statement, m_connection, adOpenStatic);
    EXPECT_EQ(rs.Source(), statement);  // the statement as built and logged
    ASSERT_EQ(rs.RecordCount(), 1);
    EXPECT_EQ(rs.Fields().Item(0L).Value().Text(), " WITH (NOLOCK) ");
    EXPECT_EQ(rs.Fields().Item(1L).Value().Text(), " WITH (NOLOCK) ");
}

TEST_F(AdoRecordsetTest, AFailedFetchRaisesInsteadOfEndingTheRows)
{
    // The third row fails while it is computed: the failure must surface and
    // never look like the end of the data.
    m_source.Exec("CREATE TABLE g (x INTEGER); INSERT INTO g VALUES (1), (2), (3), (4);");
    const std::string statement =
        "SELECT CASE WHEN x = 3 THEN abs(-9223372036854775807 - 1) ELSE x END FROM g";

    AdoRecordset streamed;
    streamed.Open(statement, m_connection, adOpenForwardOnly);
    EXPECT_EQ(streamed.Fields().Item(0L).Value().Text(), "1");
    streamed.MoveNext();
    EXPECT_FALSE(streamed.IsEOF());
    try {
        streamed.MoveNext();
        FAIL() << "the failing row was not reported";
    } catch (const AdoException& e) {
        EXPECT_NE(e.Description().find("overflow"), std::string::npos) << e.Description();
        EXPECT_FALSE(m_connection.Errors().empty());
    }

    AdoRecordset buffered;
    EXPECT_THROW(buffered.Open(statement, m_connection, adOpenStatic), AdoException);
    EXPECT_EQ(buffered.State(), adStateClosed);
}

TEST_F(AdoRecordsetTest, ClosingTheConnectionReleasesStreamedResults)
{
    m_source.Exec("CREATE TABLE c (x INTEGER); INSERT INTO c VALUES (1), (2);");
    AdoRecordset streamed;
    AdoRecordset buffered;
    streamed.Open("SELECT x FROM c", m_connection, adOpenForwardOnly);
    buffered.Open("SELECT x FROM c", m_connection, adOpenStatic);
    m_connection.Close();
    // Buffered rows stay readable; the stream can no longer fetch.
    buffered.MoveNext();
    EXPECT_EQ(buffered.Fields().Item(0L).Value().AsInt64(), 2);
    EXPECT_THROW(streamed.MoveNext(), AdoException);
}

TEST_F(AdoRecordsetTest, CatalogueViewsAnswerSqlServerStyleStatements)
{
    m_source.Exec("CREATE TABLE \"StudentDemographic\" (\"StudentID\" TEXT, \"Status\" TEXT);"
                  "CREATE VIEW \"vwStaff\" AS SELECT 1 AS \"StaffID\";");
    struct Case
    {
        std::string statement;
        long long rows;
    };
    const auto tableCheck = [](const std::string& name) {
        return "SELECT name FROM sysobjects WHERE (xtype = 'U' OR xtype = 'V') AND UPPER(name) = UPPER('" + name +
               "')";
    };
    const auto fieldCheck = [](const std::string& table, const std::string& field) {
        return "SELECT syscolumns.name FROM syscolumns JOIN sysobjects ON syscolumns.id=sysobjects.id WHERE "
               "UPPER(sysobjects.name) = UPPER('" + table + "') AND UPPER(syscolumns.name) = UPPER('" + field + "')";
    };
    const Case cases[] = {
        {tableCheck("StudentDemographic"), 1},
        {tableCheck("studentdemographic"), 1},
        {tableCheck("vwStaff"), 1},
        {tableCheck("Missing"), 0},
        {tableCheck("sysobjects"), 0},
        {fieldCheck("studentdemographic", "STATUS"), 1},
        {fieldCheck("vwStaff", "StaffID"), 1},
        {fieldCheck("StudentDemographic", "Missing"), 0},
        {"SELECT name FROM sysobjects WHERE xtype IN ('U','V') AND name = 'vwStaff'", 1},
        {"SELECT c.name FROM syscolumns c, sysobjects o WHERE c.id = o.id AND o.name = 'StudentDemographic'", 2},
        {"SELECT name FROM sysobjects WHERE (type = 'U' OR type = 'V') AND UPPER(name) = UPPER('vwstaff')", 1},
    };
    for (const Case& c : cases) {
        AdoRecordset rs;
        rs.Open(c.statement, m_connection, adOpenStatic);
        EXPECT_EQ(rs.RecordCount(), c.rows) << c.statement;
    }
    // A quote in a name breaks the statement; the failure is an error, not rows.
    AdoRecordset rs;
    EXPECT_THROW(rs.Open(tableCheck("O'Brien"), m_connection, adOpenForwardOnly), AdoException);
}

}  // namespace
