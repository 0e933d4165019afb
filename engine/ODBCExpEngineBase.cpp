// Shared services of the MORV table declarations: quoting, the student filter
// and its condition blocks, and the included-students list with its row test.
#include "engine/ODBCExpEngineBase.h"

#include "data/DatabaseTypes.h"

#include <algorithm>
#include <cstring>

namespace {
// Existence checks on, so optional tables and columns can be skipped; the
// bit without effect is kept as the engine has always set it.
constexpr uint32_t kEngineOptions = DataAccessOption::NoEffect | DataAccessOption::VerifySchema;

// The order of the included-students list: plain bytes, the same for
// sorting and searching.
bool BytewiseLess(const XString& a, const XString& b)
{
    return std::strcmp(a.c_str(), b.c_str()) < 0;
}
} // namespace

ODBCExpEngineBase::ODBCExpEngineBase(QObject* parent)
    : ODBCDataAccess(kEngineOptions, DatabaseType::MSSQL, parent)
{
}

ODBCExpEngineBase::~ODBCExpEngineBase() = default;

QStringList ODBCExpEngineBase::SplitActiveCodes(const XString& codes)
{
    QStringList result;
    for (const QString& item : QString::fromLatin1(codes.c_str()).split(',')) {
        const QString code = item.trimmed();
        if (!code.isEmpty())
            result << code;
    }
    return result;
}

bool ODBCExpEngineBase::IsActiveStatus(const XString& status) const
{
    const QString code = QString::fromLatin1(status.c_str()).trimmed();
    return code == "A" || code == "N" || code == "U" || m_activeCodes.contains(code);
}

bool ODBCExpEngineBase::IsIncludedStudent(const XString& studentNumber) const
{
    const XString key = XString(studentNumber).Trim();
    return std::binary_search(m_includedStudents.begin(), m_includedStudents.end(), key,
                              BytewiseLess);
}

int ODBCExpEngineBase::IncludedStudentCount() const
{
    return static_cast<int>(m_includedStudents.size());
}

bool ODBCExpEngineBase::IncludedStudentRowTest()
{
    if (!m_fldStudentNumber)
        return false;
    return IsIncludedStudent(GetText(m_fldStudentNumber));
}

ODBCField* ODBCExpEngineBase::ConditionField(ODBCTable* table, const char* name)
{
    m_conditionFields.push_back(std::make_unique<ODBCField>(table, XString(name), 0));
    return m_conditionFields.back().get();
}

void ODBCExpEngineBase::ReleaseConditionFields()
{
    m_conditionFields.clear();
}

void ODBCExpEngineBase::AddActiveStatusGroup(ODBCField* statusField)
{
    if (!m_inactiveCutoff.IsNull())
        return;
    AddCondition("AND (", statusField, "=", "'A'", 0);
    AddCondition("OR", statusField, "=", "'N'", 0);
    for (const QString& code : m_activeCodes)
        AddCondition("OR", statusField, "=", QuoteText(XString(code.toLatin1().constData())), 0);
    AddCondition("OR", statusField, "=", "'U')", 0);
}

void ODBCExpEngineBase::AddStudentFilter(ODBCTable* table)
{
    AddCondition("", ConditionField(table, "_DistBldg"), "=", QuoteText(m_schoolNumber), 0);
    AddActiveStatusGroup(ConditionField(table, "Status"));
    AddCondition("AND", ConditionField(table, "_Year"), "=", QuoteText(m_schoolYear), 0);
}

void ODBCExpEngineBase::AddSchoolYearConditions(ODBCTable* table, const char* conjunction)
{
    AddCondition(conjunction, ConditionField(table, "_DistBldg"), "=", QuoteText(m_schoolNumber), 0);
    AddCondition("AND", ConditionField(table, "_Year"), "=", QuoteText(m_schoolYear), 0);
}

void ODBCExpEngineBase::AddOwnStatusBlock(ODBCTable* table)
{
    AddSchoolYearConditions(table);
    AddActiveStatusGroup(ConditionField(table, "Status"));
}

void ODBCExpEngineBase::AddJoinedStatusConditions(ODBCTable* table)
{
    AddSchoolYearConditions(table);
    AddJoinedStatusBlock(table);
}

void ODBCExpEngineBase::AddJoinedStatusBlock(ODBCTable* table)
{
    if (!m_inactiveCutoff.IsNull())
        return;
    ODBCTable* students = AddTable("StudentDemographic", "S", true);
    AddCondition("AND", ConditionField(students, "_Year"), "=", QuoteText(m_schoolYear), 0);
    // Without the building a student enrolled in two buildings would join
    // twice and be exported twice.
    AddCondition("AND", ConditionField(students, "_DistBldg"), "=", QuoteText(m_schoolNumber), 0);
    AddCondition("AND", ConditionField(table, "StudentNumber"), "=",
                 ConditionField(students, "StudentNumber"), 0);
    AddActiveStatusGroup(ConditionField(students, "Status"));
}

void ODBCExpEngineBase::ClearIncludedStudents()
{
    m_includedStudents.clear();
}

void ODBCExpEngineBase::BuildIncludedStudents()
{
    StartTable("Included Students", "", 0);
    ClearQuery();
    ODBCTable* students = AddTable("StudentDemographic", "STU", true);
    ODBCField* number = AddQueryField(students, "StudentNumber", true);
    AddStudentFilter(students);

    if (OpenTable(true)) {
        for (bool more = GetFirstRecord(); more; more = GetNextRecord())
            m_includedStudents.push_back(GetText(number));
    }
    // The row test compares trimmed texts byte-wise; sort the same way. A
    // student with several rows of the school and year is listed once.
    std::sort(m_includedStudents.begin(), m_includedStudents.end(), BytewiseLess);
    m_includedStudents.erase(std::unique(m_includedStudents.begin(), m_includedStudents.end()),
                             m_includedStudents.end());
    EndTable();
}
