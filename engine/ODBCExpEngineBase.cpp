// Shared services of the MORV table declarations: quoting, the student filter
// and its condition blocks, and the included-students list with its row test.
#include "engine/ODBCExpEngineBase.h"

#include "data/DatabaseTypes.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace {
// Existence checks on, so optional tables and columns can be skipped; the
// bit without effect is kept as the engine has always set it.
constexpr uint32_t kEngineOptions = DataAccessOption::NoEffect | DataAccessOption::VerifySchema;

// A text without the isspace bytes at its ends, as XString::Trim leaves it,
// up to a zero byte.
std::string_view Trimmed(const char* text)
{
    std::string_view view(text);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.front())))
        view.remove_prefix(1);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.back())))
        view.remove_suffix(1);
    return view;
}

// Byte-wise order of an entry of the included-students list (zero-ended)
// and a number looked up in it (holding no zero byte), as strcmp orders.
int CompareEntry(const char* entry, std::string_view key)
{
    for (size_t i = 0; i < key.size(); ++i) {
        const unsigned char a = static_cast<unsigned char>(entry[i]);
        const unsigned char b = static_cast<unsigned char>(key[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return entry[key.size()] == '\0' ? 0 : 1;
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
    // Plain bytes, the order the list was sorted in.
    const char* const text = m_includedText.data();
    const std::string_view key = Trimmed(studentNumber.c_str());
    const auto found = std::lower_bound(m_includedStarts.begin(), m_includedStarts.end(), key,
                                        [text](uint32_t entry, std::string_view k) { return CompareEntry(text + entry, k) < 0; });
    return found != m_includedStarts.end() && CompareEntry(text + *found, key) == 0;
}

int ODBCExpEngineBase::IncludedStudentCount() const
{
    return static_cast<int>(m_includedStarts.size());
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
    m_includedText.clear();
    m_includedStarts.clear();
}

void ODBCExpEngineBase::BuildIncludedStudents()
{
    StartTable("Included Students", "", 0);
    ClearQuery();
    ODBCTable* students = AddTable("StudentDemographic", "STU", true);
    ODBCField* number = AddQueryField(students, "StudentNumber", true);
    AddStudentFilter(students);

    if (OpenTable(true)) {
        for (bool more = GetFirstRecord(); more; more = GetNextRecord()) {
            const XString text = GetText(number);
            m_includedStarts.push_back(static_cast<uint32_t>(m_includedText.size()));
            m_includedText.append(text.c_str(), text.GetLength() + 1);
        }
    }
    // The row test compares trimmed texts byte-wise; sort the same way. A
    // student with several rows of the school and year is listed once.
    const char* const text = m_includedText.data();
    std::sort(m_includedStarts.begin(), m_includedStarts.end(),
              [text](uint32_t a, uint32_t b) { return std::strcmp(text + a, text + b) < 0; });
    m_includedStarts.erase(std::unique(m_includedStarts.begin(), m_includedStarts.end(),
                                       [text](uint32_t a, uint32_t b) { return std::strcmp(text + a, text + b) == 0; }),
                           m_includedStarts.end());
    m_includedText.shrink_to_fit();
    m_includedStarts.shrink_to_fit();
    EndTable();
}
