// Each SQL Server column type a MORV database uses, read by the recordset
// layer through FreeTDS from the stand-in server, with each protocol version
// a site may set: values keep their kind and their whole value (fractions of
// seconds, the last digits of money and big integers, text outside the code
// page as "?", long text sent in chunks), and NULL stays NULL in each type.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include "data/ValueText.h"
#include "data/odbc/AdoConnection.h"
#include "data/odbc/AdoError.h"
#include "data/odbc/AdoRecordset.h"
#include "demo/DemoDatabase.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestTdsServer.h"

namespace {

// A value as kind and exact content, so that a test names what differs.
std::string Describe(const AdoVariant& v)
{
    char buffer[64];
    switch (v.Type()) {
    case AdoVarType::Null:
        return "NULL";
    case AdoVarType::I1:
    case AdoVarType::I2:
    case AdoVarType::I4:
    case AdoVarType::I8:
    case AdoVarType::Int:
        return "int " + std::to_string(v.AsInt64());
    case AdoVarType::UI1:
    case AdoVarType::UI2:
    case AdoVarType::UI4:
    case AdoVarType::UI8:
    case AdoVarType::UInt:
        return "int " + std::to_string(v.AsUInt64());
    case AdoVarType::R4:
    case AdoVarType::R8:
        std::snprintf(buffer, sizeof buffer, "real %.17g", v.AsDouble());
        return buffer;
    case AdoVarType::Bool:
        return v.AsBool() ? "bool 1" : "bool 0";
    case AdoVarType::Currency:
        return "money " + std::to_string(v.AsCurrency());
    case AdoVarType::Decimal:
        return "decimal " + VariantToText(v).str();
    case AdoVarType::Date: {
        const AdoDateTime d = v.AsDate();
        std::snprintf(buffer, sizeof buffer, "date %04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day, d.hour,
                      d.minute, d.second, d.millisecond);
        return buffer;
    }
    case AdoVarType::String:
        return "text " + v.Text();
    default:
        return "other " + VariantToText(v).str();
    }
}

// A double as Describe writes it: every digit that tells it apart.
std::string RealText(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "real %.17g", value);
    return buffer;
}

std::string Repeat(const std::string& part, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

struct TypeCase
{
    const char* type;        // as the type table names it
    std::string sqlite;      // row 1 as a SQLite literal
    std::string value;       // row 1 as read
    std::string downLevel;   // row 1 as read with TDS 7.2, when it differs
};

// "é" and "€" in code page 1252, the bytes SQLite holds for varchar.
const std::string kCafe = "caf\xe9 \x80";
const std::string kLongCodePage = Repeat("Gr\xfc\xdf Gott, ", 1500);       // 18,000 bytes
const std::string kLongUtf8 = Repeat("Zo\xc3\xab \xf0\x9f\x98\x80 ", 2000);  // "Zoë 😀 "
const std::string kLongRead = Repeat("Zo\xeb ? ", 2000);

const std::vector<TypeCase>& Cases()
{
    static const std::vector<TypeCase> cases = {
        {"int", "2147483647", "int 2147483647", ""},
        {"smallint", "-32768", "int -32768", ""},
        {"tinyint", "255", "int 255", ""},
        {"bigint", "9007199254740993", "int 9007199254740993", ""},
        {"bit", "1", "bool 1", ""},
        {"decimal(12,4)", "'-12345678.1234'", "decimal -12345678.1234", ""},
        {"numeric(5,1)", "9999.9", "decimal 9999.9", ""},
        {"money", "'922337203685477.5807'", "money 9223372036854775807", ""},
        {"smallmoney", "-214748.3648", "money -2147483648", ""},
        {"float", "1.5e300", RealText(1.5e300), ""},
        {"real", "3.25", RealText(3.25), ""},
        {"datetime", "'2026-03-04 05:06:07.123'", "date 2026-03-04 05:06:07.123", ""},
        {"smalldatetime", "'2026-03-04 05:06:00'", "date 2026-03-04 05:06:00.000", ""},
        {"date", "'2026-03-04'", "date 2026-03-04 00:00:00.000", "text 2026-03-04"},
        {"time(7)", "'05:06:07.1234567'", "date 1899-12-30 05:06:07.123", "text 05:06:07.1234567"},
        {"datetime2(7)", "'2026-03-04 05:06:07.1234567'", "date 2026-03-04 05:06:07.123",
         "text 2026-03-04 05:06:07.1234567"},
        {"varchar(20)", "'" + kCafe + "'", "text " + kCafe, ""},
        {"char(8)", "'ab'", "text ab      ", ""},
        {"nvarchar(20) utf8", "'Zo\xc3\xab \xc5\x81\xc3\xb3" "d\xc5\xba \xf0\x9f\x98\x80'", "text Zo\xeb ?\xf3" "d? ?", ""},
        {"nchar(4) utf8", "'\xc3\xa9'", "text \xe9   ", ""},
        {"text", "'" + kLongCodePage + "'", "text " + kLongCodePage, ""},
        {"ntext utf8", "'" + kLongUtf8 + "'", "text " + kLongRead, ""},
        {"varchar(max)", "'" + kLongCodePage + "'", "text " + kLongCodePage, ""},
        {"nvarchar(max) utf8", "'" + kLongUtf8 + "'", "text " + kLongRead, ""},
    };
    return cases;
}

class FreeTdsTypes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string missing = TestTdsServer::Missing();
        if (!missing.empty())
            MISSING_PREREQUISITE(missing);
        ASSERT_TRUE(m_work.isValid());
        // One column a type: row 1 the values above, row 2 NULL in each.
        const std::string file = m_work.filePath("types.db").toStdString();
        std::ofstream types(m_work.filePath("types.txt").toStdString());
        std::string create = "CREATE TABLE Samples (id INT", values = "1", nulls = "2";
        for (size_t i = 0; i < Cases().size(); ++i) {
            const std::string column = "c" + std::to_string(i);
            types << "Samples." << column << " " << Cases()[i].type << "\n";
            create += ", " + column;
            values += ", " + Cases()[i].sqlite;
            nulls += ", NULL";
        }
        types.close();
        demo::DemoDatabase db(file);
        db.Execute(create + ");INSERT INTO Samples VALUES (" + values + ");INSERT INTO Samples VALUES (" + nulls +
                   ");");
        m_server = std::make_unique<TestTdsServer>(file, m_work.filePath("types.txt").toStdString());
        m_server->AddDsn("MorvTds73", "TDS_Version=7.3");
        m_server->AddDsn("MorvTds72", "TDS_Version=7.2");
        // A site may name the client character set itself; the bridge keeps
        // it, and text must still reach it in the code page.
        m_server->AddDsn("MorvTdsUtf8", "ClientCharset=UTF-8");
    }

    QTemporaryDir m_work;
    std::unique_ptr<TestTdsServer> m_server;
};

TEST_F(FreeTdsTypes, EachTypeKeepsItsKindAndWholeValueAndNull)
{
    // The last pass with the server's smallest packets, so that every value
    // of some length is split across them.
    for (const char* dsn : {TestTdsServer::Dsn, "MorvTds73", "MorvTds72", "MorvTdsUtf8", "small packets"}) {
        const bool smallPackets = std::string(dsn) == "small packets";
        if (smallPackets) {
            m_server->SetFaults("{\"packet_size\": 512}");
            dsn = TestTdsServer::Dsn;
        }
        for (const int cursor : {adOpenForwardOnly, adOpenStatic}) {
            SCOPED_TRACE(std::string(dsn) + (smallPackets ? ", small packets" : "") +
                         (cursor == adOpenStatic ? ", static" : ", forward-only"));
            const bool downLevel = std::string(dsn) == "MorvTds72";
            AdoConnection connection;
            connection.Open(m_server->ConnectionString(dsn));
            AdoRecordset rows;
            rows.Open("SELECT * FROM [Samples] WITH (NOLOCK) ORDER BY id", connection, cursor);
            ASSERT_EQ(rows.Fields().Count(), static_cast<long>(Cases().size() + 1));
            for (int row = 1; row <= 2; ++row) {
                ASSERT_FALSE(rows.IsEOF());
                for (size_t i = 0; i < Cases().size(); ++i) {
                    const TypeCase& c = Cases()[i];
                    const std::string expected =
                        row == 2 ? "NULL" : downLevel && !c.downLevel.empty() ? c.downLevel : c.value;
                    const std::string actual = Describe(rows.Fields().Item(static_cast<long>(i + 1)).Value());
                    EXPECT_EQ(actual.substr(0, 200), expected.substr(0, 200)) << c.type;
                    EXPECT_EQ(actual.size(), expected.size()) << c.type;
                    EXPECT_TRUE(actual == expected) << c.type;
                }
                rows.MoveNext();
            }
            EXPECT_TRUE(rows.IsEOF());
        }
    }
    EXPECT_NE(m_server->Log().find("packets of 512"), std::string::npos);
}

}  // namespace

namespace {

// A reply the server holds back past the command time-out: the statement
// fails when the time-out runs out (the driver cancels it), not when the
// server finally answers, and the connection serves the next statement.
TEST_F(FreeTdsTypes, AReplyLatePastTheCommandTimeOutFailsTheStatementAtTheTimeOut)
{
    m_server->SetFaults("{\"delay\": {\"query\": \"FROM [Samples]\", \"seconds\": 120, \"times\": 1}}");
    AdoConnection connection;
    connection.SetCommandTimeout(1);
    connection.Open(m_server->ConnectionString());
    AdoRecordset late;
    try {
        late.Open("SELECT id FROM [Samples] ORDER BY id", connection, adOpenForwardOnly);
        ADD_FAILURE() << "the statement waited for the late reply";
    } catch (const AdoException& error) {
        EXPECT_FALSE(error.IsConnectionLost()) << error.what();
        EXPECT_NE(std::string(error.what()).find("Timeout expired"), std::string::npos) << error.what();
    }
    AdoRecordset next;
    next.Open("SELECT id FROM Samples ORDER BY id", connection, adOpenForwardOnly);
    ASSERT_FALSE(next.IsEOF());
    EXPECT_EQ(Describe(next.Fields().Item(0L).Value()), "int 1");
}

}  // namespace
