// Fills the demo school database with realistic rows: several buildings and
// years, every student status, names with apostrophes and Latin-1 accents,
// NULLs next to empty texts, 1900-01-01 placeholder dates, texts with TABs
// and line breaks, phone numbers and zip codes in the shapes sites type them.
#pragma once

#include "demo/DemoOptions.h"
#include "demo/DemoRandom.h"

#include <QDate>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace demo {

class DemoDatabase;
class DemoInserter;
class DemoValue;

// Row count of one table or view of a written database.
struct DemoTableCount {
    std::string name;
    long long rows = 0;
};

class DemoGenerator {
public:
    DemoGenerator(DemoDatabase& db, const DemoOptions& options);
    ~DemoGenerator();

    // Writes a complete database to `path`. The file is built beside the
    // target and renamed over it only when complete, so a failed run leaves
    // the previous file as it was. Throws std::runtime_error on failure.
    static std::vector<DemoTableCount> WriteFile(const std::string& path, const DemoOptions& options);

    // Creates the schema and every row in the open database, in one
    // transaction.
    void Generate();

private:
    struct Building;
    struct Staffer;
    struct Section;
    struct Student;

    void PrepareInserters();
    void WriteSchools();
    void WriteBuilding(const Building& building);
    std::vector<QDate> SchoolDays(int year) const;
    void WriteCalendar(const Building& building, int year);
    void WriteTerms(const Building& building, int year);
    std::vector<Staffer> WriteStaff(const Building& building);
    std::vector<Section> MakeSections(const Building& building, const std::vector<Staffer>& staff);
    Student MakeStudent(const Building& building, int index, const std::vector<Staffer>& staff);
    void WriteDemographic(const Building& building, const Student& student, int year, const std::string& status,
                          int grade);
    void WriteContacts(const Building& building, const Student& student);
    void WriteLockerAndTransport(const Building& building, const Student& student);
    void WriteSchedule(const Building& building, const Student& student, const std::vector<Section>& sections);
    void WriteFees(const Building& building, const Student& student);
    void WriteDiscipline(const Building& building, const Student& student, const std::vector<Staffer>& staff);
    void WriteServiceAlertsMedical(const Building& building, const Student& student);
    void WriteAbsences(const Building& building, const Student& student);

    DemoValue Phone();
    std::pair<DemoValue, DemoValue> ZipAndZip4();
    DemoValue MaybeNull(const std::string& text, int nullPercent, int emptyPercent);
    std::string StreetAddress();
    std::string Combination();
    std::string FirstName();
    std::string LastName();

    DemoDatabase& db_;
    DemoOptions options_;
    DemoRandom random_;
    std::vector<QDate> liveDays_;
    std::vector<QDate> previousDays_;
    long long nextContactId_ = 1;
    long long nextFeeId_ = 1;
    long long nextIncidentNumber_ = 1;
    std::vector<std::unique_ptr<DemoInserter>> inserters_;
    DemoInserter* schools_ = nullptr;
    DemoInserter* demographic_ = nullptr;
    DemoInserter* calendar_ = nullptr;
    DemoInserter* lunch_ = nullptr;
    DemoInserter* contacts_ = nullptr;
    DemoInserter* lockers_ = nullptr;
    DemoInserter* transport_ = nullptr;
    DemoInserter* summary_ = nullptr;
    DemoInserter* schedule_ = nullptr;
    DemoInserter* terms_ = nullptr;
    DemoInserter* staff_ = nullptr;
    DemoInserter* marks_ = nullptr;
    DemoInserter* fees_ = nullptr;
    DemoInserter* discipline_ = nullptr;
    DemoInserter* service_ = nullptr;
    DemoInserter* alerts_ = nullptr;
    DemoInserter* medical_ = nullptr;
    DemoInserter* daily_ = nullptr;
    DemoInserter* period_ = nullptr;
};

}  // namespace demo
