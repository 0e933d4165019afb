// Export tables about attendance codes, fees, conduct, medical history and
// notes, including the built-in look-up tables.
// Not built yet: each table fails the run with a message naming it, so a run
// that needs them never ends as "Succeeded" with tables missing.
#include "engine/ExpEngine.h"

#include "util/XException.h"

namespace {
[[noreturn]] void NotBuiltYet(const char* table)
{
    throw XException(XString("The export table \"") + table + "\" is not built yet.");
}
} // namespace

void ExpEngine::CreateAttendanceCodes() { NotBuiltYet("Attendance Codes"); }
void ExpEngine::CreateDays() { NotBuiltYet("Days"); }
void ExpEngine::CreateFeeAccounts() { NotBuiltYet("Fee Accounts"); }
void ExpEngine::CreateStudentSchoolFees() { NotBuiltYet("Student School Fees"); }
void ExpEngine::CreateStudentSchoolPayments() { NotBuiltYet("Student School Payments"); }
void ExpEngine::CreateStudentConductIncident() { NotBuiltYet("Student Conduct"); }
void ExpEngine::CreateStudentConductOutcomes() { NotBuiltYet("Student Conduct Outcomes"); }
void ExpEngine::CreateStudentCommunityService() { NotBuiltYet("Student Community Service"); }
void ExpEngine::CreateStudentMedicalHistory() { NotBuiltYet("Student Medical History"); }
void ExpEngine::CreateStudentNotes() { NotBuiltYet("Student Notes"); }
