// Generation of the demo school: buildings, calendars, staff, sections and,
// per student, every row the extraction reads. All choices come from one
// seeded generator in a fixed order, so a seed always gives the same file.
#include "demo/DemoGenerator.h"

#include "demo/DemoDatabase.h"
#include "demo/DemoSchema.h"

#include <cstdio>
#include <stdexcept>

namespace demo {

namespace {

const char* const kPlaceholderDate = "1900-01-01 00:00:00.000";

std::string SqlDate(const QDate& date)
{
    return date.toString("yyyy-MM-dd").toStdString() + " 00:00:00.000";
}

std::string SqlDateTime(const QDate& date, int hour, int minute)
{
    char time[32];
    std::snprintf(time, sizeof time, " %02d:%02d:00.000", hour, minute);
    return date.toString("yyyy-MM-dd").toStdString() + time;
}

// The rotation day code of a school day is its weekday letter, the keys of
// the built-in Days table.
std::string DayCode(const QDate& date)
{
    static const char* const codes[] = {"", "M", "T", "W", "R", "F", "S", "U"};
    return codes[date.dayOfWeek()];
}

std::string GradeText(int grade)
{
    if (grade == 0)
        return "KG";
    char text[16];
    std::snprintf(text, sizeof text, "%02d", grade);
    return text;
}

std::string LowerAscii(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c >= 'A' && c <= 'Z')
            result += static_cast<char>(c - 'A' + 'a');
        else if (c >= 'a' && c <= 'z')
            result += c;
    }
    return result;
}

QDate NthWeekday(int year, int month, int weekday, int nth)
{
    QDate date(year, month, 1);
    while (date.dayOfWeek() != weekday)
        date = date.addDays(1);
    return date.addDays(7 * (nth - 1));
}

// Names as sites have them: apostrophes, blanks, hyphens and Latin-1 bytes.
const std::vector<std::string> kFirstNames = {
    "Ann", "Sean", "Ren\xE9" "e", "Jos\xE9", "Zo\xEB", "Liam", "Olivia", "Noah", "Emma", "Mateo",
    "Sof\xED" "a", "Aiden", "Chlo\xE9", "Ethan", "Ava", "Lucas", "Mia", "Jackson", "Isabella", "Elijah",
    "Harper", "Andr\xE9", "Fran\xE7" "ois", "Bj\xF6rn", "Jo Ann", "Mary-Kate", "D'Andre", "Grace", "Owen", "Lily"};
const std::vector<std::string> kLastNames = {
    "Smith", "O'Brien", "D'Angelo", "M\xFCller", "Pe\xF1" "a", "Garc\xED" "a", "Johnson", "Nguyen", "Williams",
    "Brown", "Jones", "Miller", "Davis", "Rodr\xED" "guez", "Mart\xED" "nez", "L\xF3pez", "Wilson", "Anderson",
    "Taylor", "Moore", "Lee", "Thompson", "White", "Harris", "Clark", "Lewis", "Walker", "Young", "King",
    "Wright", "Scott", "Torres", "Hill", "Green", "Adams", "Baker", "Nelson", "Carter", "Mitchell", "Patel",
    "Kim", "Van der Berg", "St. John", "McDonald", "Gonz\xE1lez", "Jim\xE9nez", "Schmidt", "Murphy"};
const std::vector<std::string> kStreets = {"Oak St", "Maple Ave", "N High St", "Elm Dr", "Cedar Ln",
                                           "Riverside Dr", "E Broad St", "Main St", "Chestnut Ct", "Lake Shore Blvd"};
const std::vector<std::string> kCities = {"Columbus", "Dublin", "Worthington", "Westerville",
                                          "Hilliard", "Gahanna", "Grove City", "Bexley"};
const std::vector<std::string> kBirthplaces = {"Columbus", "Montr\xE9" "al", "San Jos\xE9", "Cleveland",
                                               "Guadalajara", "K\xF6ln", "Toledo", ""};

struct Course {
    const char* code;
    const char* name;
    const char* room;
};
const std::vector<Course> kCourses = {
    {"ENG9", "English 9", ""},        {"ENG10", "English 10", ""},      {"ALG1", "Algebra I", ""},
    {"GEOM", "Geometry", ""},         {"BIO", "Biology", "Lab 2"},      {"CHEM", "Chemistry", "Lab 1"},
    {"USHIST", "U.S. History", ""},   {"FREN1", "Fran\xE7" "ais I", ""}, {"SPAN1", "Espa\xF1" "ol I", ""},
    {"ART", "Studio Art", "Art Room"}, {"PE", "Physical Education", "Gym"}, {"WSTUD", "Women's Studies", ""},
    {"MATH1", "Math 1", ""},          {"BAND", "Concert Band", "Band Room"}, {"HLTH", "Health", ""}};

// Absence codes with their weights and whether they are excused by default.
struct AbsenceCode {
    const char* code;
    int weight;
    bool excused;
    bool fullDay;  // counts as a day absent
};
const std::vector<AbsenceCode> kDailyCodes = {
    {"A", 30, false, true}, {"U", 10, false, true}, {"H", 10, false, true}, {"T", 15, true, false},
    {"S", 8, true, true},   {"O", 3, true, true},   {"I", 3, true, true},   {"E", 3, true, false},
    {"W", 2, true, true},   {"F", 2, true, true},   {"L", 2, true, true},   {"J", 1, true, false},
    {"R", 1, true, false},  {"Y", 1, true, false},  {"B", 1, true, false},  {"C", 1, true, false},
    {"D", 1, true, false},  {"G", 1, true, false}};

}  // namespace

struct DemoGenerator::Building {
    std::string number;
    std::string name;
    int students;
    int lowGrade;
    int highGrade;
    int index;
};

struct DemoGenerator::Staffer {
    std::string id;
    std::string code;
    std::string first;
    std::string last;
    std::string position;
};

struct DemoGenerator::Section {
    const Course* course;
    std::string section;
    std::string term;
    std::string period;
    std::string days;
    const Staffer* teacher;
    DemoValue location{nullptr};
};

struct DemoGenerator::Student {
    std::string number;
    std::string first;
    std::string middle;
    std::string last;
    std::string status;
    int grade;
    std::string calendar;
    QDate entry;
    QDate leave;  // null while enrolled
    int absencePerMille;
    std::string homeroomTeacherCode;
    std::string counselorCode;
};

DemoGenerator::DemoGenerator(DemoDatabase& db, const DemoOptions& options)
    : db_(db), options_(options), random_(options.seed)
{
    liveDays_ = SchoolDays(std::stoi(school::kLiveYear));
    previousDays_ = SchoolDays(std::stoi(school::kPreviousYear));
}

DemoGenerator::~DemoGenerator() = default;

std::vector<DemoTableCount> DemoGenerator::WriteFile(const std::string& path, const DemoOptions& options)
{
    if (options.students < 1)
        throw std::runtime_error("The number of students must be at least 1.");
    // Build beside the target and rename at the end: a failed or interrupted
    // run never leaves a half-written database under the requested name.
    const std::string partial = path + ".partial";
    std::remove(partial.c_str());
    std::vector<DemoTableCount> counts;
    try {
        {
            DemoDatabase db(partial);
            DemoGenerator generator(db, options);
            generator.Generate();
            for (const std::string& name : db.ObjectNames())
                if (name != "sysobjects" && name != "syscolumns" && name.rfind("sqlite_", 0) != 0)
                    counts.push_back({name, db.QueryInt("SELECT COUNT(*) FROM [" + name + "]")});
        }
        if (std::rename(partial.c_str(), path.c_str()) != 0)
            throw std::runtime_error("Cannot rename " + partial + " to " + path);
    } catch (...) {
        std::remove(partial.c_str());
        throw;
    }
    return counts;
}

void DemoGenerator::Generate()
{
    // Nothing else reads this file while it is built: no journal, no syncs.
    db_.Execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA page_size = 8192;");
    db_.Execute("BEGIN");
    DemoSchema::Create(db_, options_);
    PrepareInserters();
    WriteSchools();
    const int others = std::max(8, options_.students / 5);
    WriteBuilding({school::kMainBuilding, "Maple Grove High School", options_.students, 9, 12, 0});
    WriteBuilding({"0302", "Cedar Ridge Middle School", others, 6, 8, 1});
    WriteBuilding({"0303", "St. Brigid's Elementary", others, 0, 5, 2});
    inserters_.clear();
    DemoSchema::CreateIndexes(db_);
    db_.Execute("COMMIT");
    // Statistics for the query planner, as a real server keeps them: without
    // them SQLite joins StudentDemographic through its building-and-year
    // index, one scan of the whole school per joined row.
    db_.Execute("ANALYZE");
}

void DemoGenerator::PrepareInserters()
{
    auto make = [this](const std::string& table, std::vector<std::string> columns) {
        inserters_.push_back(std::make_unique<DemoInserter>(db_, table, columns));
        return inserters_.back().get();
    };
    std::vector<std::string> schoolColumns = {"_DistBldg", "_Year", "SchoolName", "Principal", "Telephone"};
    if (options_.schoolIsLive)
        schoolColumns.push_back("IsLive");
    schools_ = make("Schools", schoolColumns);
    demographic_ = make("StudentDemographic",
        {"StudentNumber", "_DistBldg", "_Year", "Status", "EMISId", "FirstName", "MiddleName", "LastName",
         "NameSuffix", "CalledName", "Address", "Address2", "City", "State", "Zip", "Zip4", "StudentHomePhone",
         "Gender", "Birthdate", "GradeLevel", "Homeroom", "HomeroomTeacherCode", "Program", "Counselor",
         "SpecialEducation", "NativeLanguage", "BirthplaceCity", "GraduationYear", "Ethnicity", "CalendarCode",
         "EntryDate", "LeaveDate"});
    calendar_ = make("SchoolCalendar",
        {"_DistBldg", "_Year", "IsLive", "MasterCalendar_CalendarCode", "MasterCalendar_CalendarName",
         "DefaultCalendar", "Day_CalendarDate", "Rotation_Actual_RotationDayCode"});
    lunch_ = make("StudentEmisFD", {"StudentNumber", "_DistBldg", "_Year", "StudentFreeLunchStatus"});
    contacts_ = make("StudentContacts",
        {"StudentNumber", "_DistBldg", "_Year", "Status", "ContactId", "Is_Active", "Name_Prefix", "First_Name",
         "Middle_Name", "Last_Name", "Name_Suffix", "Name", "Address", "Address2", "City", "State", "Zip", "Zip4",
         "Home_Phone", "Cell_Phone", "Work_Phone", "Work_Phone_Ext", "Is_Avail_At_Work", "Pager", "Pager_Ext",
         "Email_Address", "Occupation", "Place_Of_Employeement", "Is_Migrant_Worker", "Primary_Language",
         "Contact_Comments", "Is_Primary", "Is_Guardian", "Is_Emergency_Contact", "Is_Living_With_Student",
         "Is_Willing_To_Volunteer", "Is_Medical", "Comments", "PhoneNumberType", "Number"});
    transport_ = make("StudentTransportation",
        {"StudentNumber", "_DistBldg", "_Year", "ParkingPermit", "AssignedSpaces", "VehicleDescription",
         "LicensePlate", "DriversLicenseNumber", "DriversLicenseState", "StudentDriver", "StudentBussed",
         "StudentWalker", "DistanceToSchool", "BusNumber", "SecondBusNumber"});
    summary_ = make("StudentAbsenceSummary",
        {"StudentNumber", "Building", "Year", "DaysAttended", "DaysAbsentExcused", "DaysAbsentUnexcused",
         "DaysPartial"});
    schedule_ = make("StudentSchedule",
        {"StudentNumber", "_DistBldg", "_Year", "Status", "CourseCode", "Section", "Term", "Period", "CourseName",
         "Days", "StaffID", "TeacherName", "Location", "StartDate", "StopDate"});
    terms_ = make("ReportingTerms",
        {"_DistBldg", "_Year", "CourseTerm", "CourseTermName", "CourseSectionStartDate", "CourseSectionStopDate"});
    staff_ = make("Staff",
        {"StaffID", "StaffCode", "_DistBldg", "_Year", "NamePrefix", "FirstName", "MiddleName", "LastName",
         "Address", "Address2", "City", "State", "Zip", "Zip4", "Telephone", "EMailAddress", "Position",
         "StartDate", "StopDate", "Comments"});
    marks_ = make("StudentCourseMarks",
        {"StudentNumber", "_DistBldg", "_Year", "Status", "CourseCode", "SectionNumber", "ReportingTermCode",
         "MarkAlpha", "MarkNumeric"});
    service_ = make("CommunityService", {"StudentNumber", "_DistBldg", "_Year", "DateServed", "Description", "Hours"});
    alerts_ = make("StudentAlert",
        {"StudentNumber", "_DistBldg", "_Year", "AlertName", "IsCritical", "StartDate", "Comments"});
    medical_ = make("StudentMedical",
        {"StudentNumber", "_DistBldg", "_Year", "prescr_DateReceived", "prescr_Prescription", "prescr_DoctorName",
         "prescr_Dosage", "prescr_ExpirationDate", "prescr_Comments", "prescr_IsRefrigerated", "vision_ExamDate",
         "vision_comments", "growth_ExamDate", "growth_Comments", "immun_ImmunizationType",
         "immun_ImmunizationDate", "immun_Comments", "screen_Type", "screen_Result", "screen_ExamDate",
         "screen_ReferralDate", "screen_Comments"});
    daily_ = make("StudentDailyAbsence",
        {"StudentNumber", "_DistBldg", "_Year", "CalendarDate", "AbsenceTypeCode", "IsExcused", "Reason",
         "DateModified"});
    period_ = make("StudentPeriodAbsence",
        {"StudentNumber", "_DistBldg", "_Year", "CalendarDate", "CalendarPeriodCode", "AbsenceTypeCode",
         "IsExcused"});
    if (options_.optionalTables) {
        lockers_ = make("StudentLocker", {"StudentNumber", "_DistBldg", "_Year", "LockerNumber", "CombinationSeries"});
        fees_ = make("StudentFees",
            {"StudentNumber", "_DistBldg", "_Year", "FeeId", "FeeType", "FeeDescription", "FeeAmount", "TotalPaid",
             "FeeDate", "FeeCode"});
        discipline_ = make("StudentDiscipline",
            {"StudentNumber", "_DistBldg", "_Year", "IncidentNumber", "IncidentName", "IncidentDate",
             "InfrReferrer", "InfrDescription", "InfrReferrerStaff", "InfrTypeDescr", "InfrLocationDescr",
             "InfrLocationSchName", "Comments", "Note", "ActionName", "ActionDate", "NumberOfDays", "StartDate",
             "StopDate", "Modified", "AltProgram", "Demerits", "HasServed", "DiscPolicyDescr"});
    }
}

// Weekdays from late August to early June, without the usual breaks.
std::vector<QDate> DemoGenerator::SchoolDays(int year) const
{
    QDate first(year - 1, 8, 24);
    while (first.dayOfWeek() != 1)
        first = first.addDays(1);
    QDate last(year, 6, 1);
    while (last.dayOfWeek() != 5)
        last = last.addDays(1);
    const QDate laborDay = NthWeekday(year - 1, 9, 1, 1);
    const QDate thanksgiving = NthWeekday(year - 1, 11, 4, 4);
    const QDate springBreak = NthWeekday(year, 3, 1, 3);
    QDate memorialDay = NthWeekday(year, 5, 1, 4);
    if (memorialDay.addDays(7).month() == 5)
        memorialDay = memorialDay.addDays(7);
    std::vector<QDate> days;
    for (QDate day = first; day <= last; day = day.addDays(1)) {
        if (day.dayOfWeek() > 5 || day == laborDay || day == thanksgiving || day == thanksgiving.addDays(1)
            || day == memorialDay || (day >= QDate(year - 1, 12, 22) && day <= QDate(year, 1, 2))
            || (day >= springBreak && day < springBreak.addDays(5)))
            continue;
        days.push_back(day);
    }
    return days;
}

void DemoGenerator::WriteSchools()
{
    struct Row {
        const char* number;
        const char* name;
    };
    const Row rows[] = {{school::kMainBuilding, "Maple Grove High School"},
                        {"0302", "Cedar Ridge Middle School"},
                        {"0303", "St. Brigid's Elementary"}};
    // A rolled-over next year already exists at most sites; only IsLive tells
    // it from the live one, so it is written only where that column is.
    std::vector<int> years = {2024, 2025, 2026};
    if (options_.schoolIsLive)
        years.push_back(std::stoi(school::kNextYear));
    const int liveYear = std::stoi(school::kLiveYear);
    for (const Row& row : rows)
        for (int year : years) {
            if (options_.schoolIsLive)
                schools_->Insert({row.number, year, row.name, "Dr. Helen O'Neil", "(614) 555-0100",
                                  year == liveYear ? "Y" : "N"});
            else
                schools_->Insert({row.number, year, row.name, "Dr. Helen O'Neil", "(614) 555-0100"});
        }
}

void DemoGenerator::WriteCalendar(const Building& building, int year)
{
    const bool live = year == std::stoi(school::kLiveYear);
    const std::vector<QDate>& days = live ? liveDays_ : previousDays_;
    const char* isLive = live ? "Y" : "N";
    for (const QDate& day : days) {
        calendar_->Insert({building.number, year, isLive, "REG", "Regular Calendar", "Y", SqlDate(day), DayCode(day)});
        // The alternative program meets Monday to Thursday.
        if (day.dayOfWeek() <= 4)
            calendar_->Insert({building.number, year, isLive, "ALT", "Alternative Program (4-day)", "N", SqlDate(day),
                               DayCode(day)});
    }
    // A calendar being drafted: present in the year but not live.
    if (live)
        for (std::size_t i = 0; i < 10 && i < days.size(); ++i)
            calendar_->Insert({building.number, year, "N", "DRAFT", "Draft Calendar", "N", SqlDate(days[i]),
                               DayCode(days[i])});
}

void DemoGenerator::WriteTerms(const Building& building, int year)
{
    const std::vector<QDate>& days = year == std::stoi(school::kLiveYear) ? liveDays_ : previousDays_;
    const std::size_t n = days.size();
    auto term = [&](const char* key, const char* name, std::size_t first, std::size_t last) {
        terms_->Insert({building.number, year, key, name, SqlDate(days[first]), SqlDate(days[last])});
    };
    term("YR", "Full Year", 0, n - 1);
    term("S1", "Semester 1", 0, n / 2 - 1);
    // Sites list a term once per reporting period that uses it.
    term("S1", "Semester 1", 0, n / 2 - 1);
    term("S2", "Semester 2", n / 2, n - 1);
    term("Q1", "Quarter 1", 0, n / 4 - 1);
    term("Q2", "Quarter 2", n / 4, n / 2 - 1);
    term("Q3", "Quarter 3", n / 2, 3 * n / 4 - 1);
    term("Q4", "Quarter 4", 3 * n / 4, n - 1);
    // Summer school has no dates yet.
    terms_->Insert({building.number, year, "SUM", "Summer School", "", ""});
}

std::vector<DemoGenerator::Staffer> DemoGenerator::WriteStaff(const Building& building)
{
    std::vector<Staffer> staff;
    const int teachers = std::max(6, building.students / 20);
    int number = 0;
    auto add = [&](const std::string& first, const std::string& last, const std::string& position) {
        ++number;
        char id[32], code[32];
        std::snprintf(id, sizeof id, "E%d%04d", building.index + 1, number);
        std::snprintf(code, sizeof code, "%d%03d", building.index + 1, number);
        staff.push_back({id, code, first, last, position});
    };
    for (int i = 0; i < teachers; ++i)
        add(FirstName(), LastName(), "Teacher");
    add(FirstName(), LastName(), "Counselor");
    add(FirstName(), LastName(), "Counselor");
    add(FirstName(), LastName(), "Nurse");
    add("Helen", "O'Neil", "Principal");
    // Placeholder accounts: numbers where names belong, no last name.
    add("0", "", "Teacher");
    add("000", "Substitute", "Teacher");
    add("12", "Vacancy", "Teacher");

    const std::string street = kStreets[static_cast<std::size_t>(building.index)];
    for (const char* year : {school::kPreviousYear, school::kLiveYear}) {
        DemoRandom random(options_.seed + static_cast<std::uint32_t>(building.index) * 7919u);
        for (const Staffer& person : staff) {
            const bool placeholder = person.first == "0" || person.first == "000" || person.first == "12";
            auto [zip, zip4] = ZipAndZip4();
            DemoValue stop = nullptr;
            int roll = random.Below(100);
            if (roll < 8)
                stop = "";
            else if (roll < 18)
                stop = SqlDate(QDate{2025, 1 + random.Below(11), 1 + random.Below(28)});
            else if (roll < 25)
                stop = "2027-06-30 00:00:00.000";
            DemoValue start = random.Chance(5) ? DemoValue(kPlaceholderDate)
                                               : DemoValue(SqlDate(QDate(1990 + random.Below(35), 8, 15)));
            const char* prefixes[] = {"Mr.", "Ms.", "Mrs.", "Dr.", ""};
            std::string comments;
            if (random.Chance(15))
                comments = "Certified: " + std::string(random.Chance(50) ? "Math\tScience" : "ESL\r\nReading");
            staff_->Insert({person.id, person.code, building.number, std::stoi(year),
                            prefixes[random.Below(5)], person.first,
                            placeholder ? DemoValue("0") : MaybeNull(random.Chance(50) ? "A" : "Lee", 20, 30),
                            person.last, std::to_string(100 + random.Below(900)) + " " + street,
                            MaybeNull("Apt 2", 40, 50), kCities[static_cast<std::size_t>(random.Below(8))], "OH",
                            zip, zip4, Phone(),
                            placeholder ? DemoValue("") : DemoValue(LowerAscii(person.first) + "." + LowerAscii(person.last)
                                                                        + "@maplegrove.example.org"),
                            person.position, start, stop, comments});
        }
    }
    return staff;
}

std::vector<DemoGenerator::Section> DemoGenerator::MakeSections(const Building& building,
                                                                const std::vector<Staffer>& staff)
{
    std::vector<Section> sections;
    const int perPeriod = std::max(2, (building.students + 24) / 25);
    std::vector<int> sectionsOfCourse(kCourses.size(), 0);
    std::size_t teacher = 0;
    for (int period = 1; period <= 7; ++period)
        for (int i = 0; i < perPeriod; ++i) {
            std::size_t courseIndex = static_cast<std::size_t>(random_.Below(static_cast<int>(kCourses.size())));
            const Course& course = kCourses[courseIndex];
            char number[16];
            std::snprintf(number, sizeof number, "%02d", ++sectionsOfCourse[courseIndex]);
            int roll = random_.Below(100);
            std::string term = roll < 70 ? "YR" : roll < 85 ? "S1" : "S2";
            std::string days = random_.Chance(80) ? "MTWRF" : random_.Chance(50) ? "MWF" : "TR";
            DemoValue location = course.room[0] ? DemoValue(course.room)
                                 : random_.Chance(3)  ? DemoValue(nullptr)
                                 : random_.Chance(3)  ? DemoValue("")
                                                      : DemoValue("Room " + std::to_string(100 + random_.Below(150)));
            // Teachers first; now and then a placeholder account teaches.
            const Staffer* who = random_.Chance(3) ? &staff[staff.size() - 1 - static_cast<std::size_t>(random_.Below(3))]
                                                   : &staff[teacher++ % static_cast<std::size_t>(std::max(6, building.students / 20))];
            sections.push_back({&course, number, term, std::to_string(period), days, who, location});
        }
    return sections;
}

DemoGenerator::Student DemoGenerator::MakeStudent(const Building& building, int index,
                                                  const std::vector<Staffer>& staff)
{
    Student s;
    char number[32];
    std::snprintf(number, sizeof number, "%d%05d", building.index + 1, index + 1);
    s.number = number;
    s.first = FirstName();
    s.middle = random_.Chance(40) ? "" : FirstName();
    s.last = LastName();
    s.grade = random_.Between(building.lowGrade, building.highGrade);
    // Active, new, U and the site's own active codes P and S; inactive ones
    // leave during the year.
    int roll = random_.Below(100);
    s.status = roll < 80 ? "A" : roll < 84 ? "N" : roll < 86 ? "U" : roll < 88 ? "P" : roll < 89 ? "S"
             : roll < 93 ? "W" : roll < 96 ? "I" : roll < 98 ? "T" : "G";
    const bool active = s.status == "A" || s.status == "N" || s.status == "U" || s.status == "P" || s.status == "S";
    roll = random_.Below(1000);
    s.calendar = roll < 5 ? "NONE" : roll < 100 ? "ALT" : "REG";
    s.entry = s.status == "N" ? liveDays_[static_cast<std::size_t>(random_.Below(static_cast<int>(liveDays_.size()) / 2))]
                              : liveDays_.front();
    if (!active)
        s.leave = liveDays_[static_cast<std::size_t>(random_.Between(10, static_cast<int>(liveDays_.size()) - 1))];
    const int rates[] = {0, 10, 20, 30, 45, 60, 90, 150};
    s.absencePerMille = rates[random_.Below(8)];
    const std::size_t teachers = static_cast<std::size_t>(std::max(6, building.students / 20));
    // Codes of former staff (not in the Staff table) and blanks occur too.
    s.homeroomTeacherCode = random_.Chance(5) ? "9999" : random_.Chance(5) ? "" : staff[static_cast<std::size_t>(random_.Below(static_cast<int>(teachers)))].code;
    s.counselorCode = random_.Chance(10) ? "" : staff[teachers + static_cast<std::size_t>(random_.Below(2))].code;
    return s;
}

void DemoGenerator::WriteBuilding(const Building& building)
{
    const int liveYear = std::stoi(school::kLiveYear);
    const int previousYear = std::stoi(school::kPreviousYear);
    WriteCalendar(building, previousYear);
    WriteCalendar(building, liveYear);
    WriteTerms(building, previousYear);
    WriteTerms(building, liveYear);
    const std::vector<Staffer> staff = WriteStaff(building);
    const std::vector<Section> sections = MakeSections(building, staff);

    for (int i = 0; i < building.students; ++i) {
        const Student student = MakeStudent(building, i, staff);
        WriteDemographic(building, student, liveYear, student.status, student.grade);
        lunch_->Insert({student.number, building.number, liveYear, random_.Chance(10) ? DemoValue(nullptr) : DemoValue(random_.Pick(std::vector<std::string>{"F", "R", "P", "P", "P", ""}))});
        // Last year's row of a returning student, one grade lower, with last
        // year's lunch status, which often differs from this year's (taken
        // from the student's place so the random stream stays as it was).
        if (student.grade > building.lowGrade && student.status != "N" && random_.Chance(90)) {
            WriteDemographic(building, student, previousYear, "A", student.grade - 1);
            static const char* const kPreviousLunch[] = {"F", "R", "P", ""};
            lunch_->Insert({student.number, building.number, previousYear, kPreviousLunch[i % 4]});
            schedule_->Insert({student.number, building.number, previousYear, "A", "HLTH", "01", "YR", "1", "Health",
                               "MTWRF", staff[0].id, staff[0].last + ", " + staff[0].first, "Room 101",
                               SqlDate(previousDays_.front()), SqlDate(previousDays_.back())});
            if (random_.Chance(30))
                daily_->Insert({student.number, building.number, previousYear, SqlDate(previousDays_[20]), "A", "N",
                                "Illness", SqlDateTime(previousDays_[20], 9, 5)});
        }
        WriteContacts(building, student);
        WriteLockerAndTransport(building, student);
        WriteSchedule(building, student, sections);
        WriteFees(building, student);
        WriteDiscipline(building, student, staff);
        WriteServiceAlertsMedical(building, student);
        WriteAbsences(building, student);
    }
    // Last year's leavers: graduated or moved away, no row in the live year.
    for (int i = 0; i < std::max(2, building.students / 10); ++i) {
        Student gone = MakeStudent(building, building.students + i, staff);
        WriteDemographic(building, gone, previousYear, random_.Chance(70) ? "G" : "W", building.highGrade);
    }
}

void DemoGenerator::WriteDemographic(const Building& building, const Student& s, int year, const std::string& status,
                                     int grade)
{
    auto [zip, zip4] = ZipAndZip4();
    const int liveYear = std::stoi(school::kLiveYear);
    QDate birth{liveYear - 6 - grade, 1 + random_.Below(12), 1 + random_.Below(28)};
    const char* ethnicities[] = {"W", "W", "W", "B", "B", "H", "A", "M", "I", "w", "Other", ""};
    DemoValue ethnicity = random_.Chance(3) ? DemoValue(nullptr) : DemoValue(ethnicities[random_.Below(12)]);
    const char* specialEducation[] = {"0", "0", "0", "0", "0", "0", "0", "", "1", "SE", "504", " 0"};
    DemoValue special = random_.Chance(3) ? DemoValue(nullptr) : DemoValue(specialEducation[random_.Below(12)]);
    const char* programs[] = {"Regular", "Regular", "Regular", "IB Diploma", "Career Tech", ""};
    const char* languages[] = {"English", "English", "English", "English", "Spanish", "Vietnamese", "Somali", ""};
    const char* suffixes[] = {"", "", "", "", "", "", "Jr.", "III"};
    DemoValue entry = random_.Chance(3) ? DemoValue(kPlaceholderDate) : DemoValue(SqlDate(s.entry));
    DemoValue leave = s.leave.isValid() && year == liveYear ? DemoValue(SqlDate(s.leave))
                      : random_.Chance(5)                   ? DemoValue(kPlaceholderDate)
                                                            : DemoValue(nullptr);
    std::string emis = random_.Chance(5) ? "" : "XQ" + random_.Digits(7);
    std::string called = random_.Chance(15) ? s.first.substr(0, 3) : "";
    demographic_->Insert({s.number, building.number, year, status, MaybeNull(emis, 3, 0), s.first,
                          MaybeNull(s.middle, 10, 0), s.last, suffixes[random_.Below(8)], MaybeNull(called, 20, 0),
                          StreetAddress(),
                          MaybeNull(random_.Chance(50) ? "Apt " + std::to_string(1 + random_.Below(40)) : "Unit B", 50, 35),
                          random_.Pick(kCities), "OH", zip, zip4, Phone(), random_.Chance(50) ? "F" : "M",
                          SqlDate(birth), GradeText(grade),
                          std::to_string(100 + random_.Below(60)), s.homeroomTeacherCode,
                          programs[random_.Below(6)], s.counselorCode, special, languages[random_.Below(8)],
                          random_.Pick(kBirthplaces), liveYear + 12 - grade, ethnicity, s.calendar, entry, leave});
}

void DemoGenerator::WriteContacts(const Building& building, const Student& s)
{
    struct Relation {
        const char* name;
        const char* prefix;
    };
    const Relation relations[] = {{"Mother", "Mrs."}, {"Father", "Mr."}, {"Grandmother", "Mrs."},
                                  {"Guardian", ""},   {"Step-Father", "Mr."}};
    const int liveYear = std::stoi(school::kLiveYear);
    const int contacts = random_.Between(1, 3);
    for (int c = 0; c < contacts; ++c) {
        const Relation& relation = relations[c < 2 ? c : random_.Between(2, 4)];
        const long long id = nextContactId_++;
        const std::string first = FirstName();
        const std::string last = random_.Chance(80) ? s.last : LastName();
        const std::string middle = random_.Chance(70) ? "" : FirstName().substr(0, 1);
        auto [zip, zip4] = ZipAndZip4();
        const char* isActive = random_.Chance(95) ? "Y" : "N";
        const std::string email = random_.Chance(30) ? "" : LowerAscii(first) + "." + LowerAscii(last) + "@mail.example.com";
        std::string contactComments;
        if (random_.Chance(10))
            contactComments = "Call after 5pm.\r\nPrefers email";
        else if (random_.Chance(5))
            contactComments = "Speaks Spanish\tonly";
        const char* yn[] = {"Y", "N"};
        DemoValue volunteer = random_.Chance(20) ? DemoValue(nullptr) : DemoValue(random_.Below(2));
        DemoValue medical = random_.Chance(20) ? DemoValue(nullptr) : DemoValue(random_.Below(2));
        DemoValue homePhone = Phone(), cellPhone = Phone(), workPhone = Phone(), pager = random_.Chance(90) ? DemoValue("") : Phone();
        std::string workExt = random_.Chance(30) ? std::to_string(random_.Between(1, 9999)) : "";
        std::string occupation = random_.Pick(std::vector<std::string>{"Nurse", "Electrician", "Teacher", "", "Engineer", "Caf\xE9 owner"});
        const char* guardian = c < 2 ? (random_.Chance(90) ? "Y" : "N") : yn[random_.Below(2)];
        // One row per contact, carrying the contact's main number: the
        // contact table and the contact-number table read the same rows.
        const char* kinds[] = {"Home Number", "Cell Number", "Work Number", "Pager Number", "Other number"};
        contacts_->Insert({s.number, building.number, liveYear, s.status, id, isActive, relation.prefix, first,
                           MaybeNull(middle, 10, 0), last, "", relation.name,
                           StreetAddress(),
                           MaybeNull("", 50, 50), random_.Pick(kCities), "OH", zip, zip4,
                           homePhone, cellPhone, workPhone, MaybeNull(workExt, 30, 0), yn[random_.Below(2)],
                           pager, random_.Chance(95) ? "" : "7", email, occupation,
                           occupation.empty() ? "" : "Riverside Methodist Hospital", "N",
                           random_.Chance(90) ? "English" : "Spanish", MaybeNull(contactComments, 20, 0),
                           c == 0 ? "Y" : "N", guardian, random_.Chance(70) ? "Y" : "N",
                           c < 2 ? "Y" : yn[random_.Below(2)], volunteer, medical,
                           random_.Chance(5) ? DemoValue("Custody papers\ron file") : DemoValue(nullptr),
                           kinds[random_.Below(5)], "614-555-" + random_.Digits(4)});
    }
}

void DemoGenerator::WriteLockerAndTransport(const Building& building, const Student& s)
{
    const int liveYear = std::stoi(school::kLiveYear);
    if (lockers_ && building.lowGrade >= 6 && random_.Chance(70)) {
        lockers_->Insert({s.number, building.number, liveYear, "B-" + std::to_string(100 + random_.Below(800)),
                          random_.Chance(80) ? Combination() : "Series 4"});
        // Last year's locker: the current-year view must hide it.
        if (random_.Chance(30))
            lockers_->Insert({s.number, building.number, std::stoi(school::kPreviousYear),
                              "A-" + std::to_string(100 + random_.Below(800)), "00-00-00"});
    }
    const bool driver = s.grade >= 11 && random_.Chance(35);
    const bool bussed = !driver && random_.Chance(65);
    const bool walker = !driver && !bussed;
    const char* vehicles[] = {"2012 Honda Civic, blue", "2009 Ford F-150\tred", "2015 Toyota Corolla", ""};
    transport_->Insert({s.number, building.number, liveYear, driver ? "P" + random_.Digits(4) : "",
                        driver ? "A-" + std::to_string(random_.Between(1, 300)) : "",
                        driver ? DemoValue(vehicles[random_.Below(4)]) : DemoValue(nullptr),
                        driver ? "HJK " + random_.Digits(4) : "", driver ? "RS" + random_.Digits(6) : "",
                        driver ? "OH" : "", driver ? "Y" : "N", bussed ? "Y" : "N", walker ? "Y" : "N",
                        random_.Between(1, 250) / 10.0, bussed ? std::to_string(random_.Between(1, 40)) : "",
                        bussed && random_.Chance(10) ? std::to_string(random_.Between(41, 60)) : ""});
}

void DemoGenerator::WriteSchedule(const Building& building, const Student& s, const std::vector<Section>& sections)
{
    const int liveYear = std::stoi(school::kLiveYear);
    const std::size_t perPeriod = sections.size() / 7;
    const std::size_t half = liveDays_.size() / 2;
    for (std::size_t period = 0; period < 7; ++period) {
        if (random_.Chance(15))
            continue;  // study hall: no section in this period
        const Section& sec = sections[period * perPeriod + static_cast<std::size_t>(random_.Below(static_cast<int>(perPeriod)))];
        QDate start = sec.term == "S2" ? liveDays_[half] : liveDays_.front();
        QDate stop = sec.term == "S1" ? liveDays_[half - 1] : liveDays_.back();
        if (s.entry > start)
            start = s.entry;
        if (s.leave.isValid() && s.leave < stop)
            stop = s.leave;
        // A dropped course ends early.
        if (random_.Chance(4))
            stop = start.addDays(random_.Between(7, 40));
        schedule_->Insert({s.number, building.number, liveYear, s.status, sec.course->code, sec.section, sec.term,
                           sec.period, sec.course->name, sec.days, sec.teacher->id,
                           sec.teacher->last.empty() ? sec.teacher->first : sec.teacher->last + ", " + sec.teacher->first,
                           sec.location, SqlDate(start), SqlDate(stop)});
        const char* letters[] = {"A+", "A", "A-", "B+", "B", "B-", "C+", "C", "C-", "D", "F"};
        for (const char* bin : {"S1", "S2"}) {
            if ((sec.term == "S1" && bin[1] == '2') || (sec.term == "S2" && bin[1] == '1'))
                continue;
            int roll = random_.Below(100);
            int score = random_.Between(55, 100);
            DemoValue alpha = letters[std::min(10, (100 - score) / 4)];
            DemoValue numeric = score + random_.Below(10) / 10.0;
            if (roll < 5) {
                alpha = nullptr;  // not graded: no row in the export
                numeric = nullptr;
            } else if (roll < 10) {
                alpha = nullptr;
            } else if (roll < 15) {
                alpha = random_.Chance(50) ? "P" : "I";
                numeric = nullptr;
            }
            marks_->Insert({s.number, building.number, liveYear, s.status, sec.course->code, sec.section, bin,
                            alpha, numeric});
        }
    }
}

void DemoGenerator::WriteFees(const Building& building, const Student& s)
{
    if (!fees_ || !random_.Chance(35))
        return;
    struct Fee {
        const char* type;
        const char* description;
        const char* code;
        double amount;
    };
    const Fee fees[] = {{"General Fee", "Instructional fee", "GEN", 45.0},
                        {"Course Fee", "Chemistry lab fee", "LAB", 15.0},
                        {"Membership", "Drama Club dues", "CLUB", 10.0},
                        {"Field Trip", "Zoo trip", "TRIP", 12.5},
                        {"General Fee", "Parking permit", "PARK", 20.0}};
    const int count = random_.Between(1, 3);
    for (int i = 0; i < count; ++i) {
        const Fee& fee = fees[random_.Below(5)];
        double amount = fee.amount;
        double paid = random_.Chance(40) ? amount : random_.Chance(50) ? 0.0 : amount / 2;
        // A waived fee keeps the payment made before it was waived.
        if (random_.Chance(5)) {
            amount = 0.0;
            paid = random_.Chance(50) ? 5.0 : 0.0;
        }
        fees_->Insert({s.number, building.number, std::stoi(school::kLiveYear), nextFeeId_++, fee.type,
                       fee.description, amount, paid,
                       SqlDate(liveDays_[static_cast<std::size_t>(random_.Below(static_cast<int>(liveDays_.size())))]),
                       fee.code});
    }
}

void DemoGenerator::WriteDiscipline(const Building& building, const Student& s, const std::vector<Staffer>& staff)
{
    if (!discipline_ || !random_.Chance(12))
        return;
    struct Incident {
        const char* name;
        const char* type;
        const char* action;
        const char* policy;
    };
    const Incident incidents[] = {{"Tardiness", "Attendance", "Detention", "Policy 5.1 Tardiness"},
                                  {"Fighting", "Violence", "Out of School Suspension", "Policy 7.2\r\nFighting"},
                                  {"Disruption", "Conduct", "", "Policy 6.0 Classroom conduct"},
                                  {"Cell phone use", "Technology", "Confiscation", ""},
                                  {"Vandalism", "Property", "Restitution", "Policy 8.4 Property damage"}};
    const char* locations[] = {"Gym", "Cafeteria", "Room 204", "Bus 12", "Hallway"};
    const int count = random_.Between(1, 2);
    for (int i = 0; i < count; ++i) {
        const Incident& incident = incidents[random_.Below(5)];
        const Staffer& referrer = staff[static_cast<std::size_t>(random_.Below(6))];
        QDate date = liveDays_[static_cast<std::size_t>(random_.Below(static_cast<int>(liveDays_.size()) - 10))];
        const int days = incident.action[0] == 'O' ? random_.Between(1, 5) : 0;
        const int hour = random_.Between(8, 14);
        const int minute = random_.Below(60);
        discipline_->Insert({s.number, building.number, std::stoi(school::kLiveYear), nextIncidentNumber_++,
                             incident.name, SqlDateTime(date, hour, minute),
                             referrer.first + " " + referrer.last,
                             random_.Chance(30) ? "Student left class\r\nwithout permission.\tReturned later." : "Reported by staff.",
                             referrer.id, incident.type, locations[random_.Below(5)],
                             random_.Chance(20) ? "" : building.name,
                             MaybeNull("Parent contacted", 30, 20), MaybeNull("Follow up in one week.\nDone.", 30, 20),
                             incident.action, SqlDate(date.addDays(1)), days,
                             SqlDate(date.addDays(1)), SqlDate(date.addDays(1 + days)),
                             random_.Chance(10) ? "Y" : "N", random_.Chance(5) ? "Saturday School" : "",
                             random_.Below(6), random_.Chance(70) ? "Y" : "N", incident.policy});
    }
}

void DemoGenerator::WriteServiceAlertsMedical(const Building& building, const Student& s)
{
    const int liveYear = std::stoi(school::kLiveYear);
    auto someDay = [this]() {
        return liveDays_[static_cast<std::size_t>(random_.Below(static_cast<int>(liveDays_.size())))];
    };
    if (building.lowGrade >= 9 && random_.Chance(20)) {
        const char* places[] = {"Food bank", "Library helper", "Park clean-up", "Senior center visit"};
        const int count = random_.Between(1, 3);
        for (int i = 0; i < count; ++i)
            service_->Insert({s.number, building.number, liveYear, SqlDate(someDay()), places[random_.Below(4)],
                              random_.Between(2, 16) / 2.0});
    }
    if (random_.Chance(10)) {
        const char* names[] = {"Peanut allergy", "Asthma", "Custody order", "Fight", "Bee sting allergy", "Diabetes"};
        const char* critical[] = {"Y", "N", "Yes", "True", "t", "No", "", " y", "false"};
        const int count = random_.Between(1, 2);
        // A repeated alert name (two fights) gets two numbered keys.
        const char* repeated = names[random_.Below(6)];
        for (int i = 0; i < count; ++i)
            alerts_->Insert({s.number, building.number, liveYear, random_.Chance(50) ? repeated : names[random_.Below(6)],
                             random_.Chance(5) ? DemoValue(nullptr) : DemoValue(critical[random_.Below(9)]),
                             SqlDate(someDay()),
                             MaybeNull(random_.Chance(30) ? "EpiPen in office.\r\nCall 911 if used." : "See nurse", 20, 20)});
    }
    if (!random_.Chance(25))
        return;
    const int records = random_.Chance(10) ? 2 : 1;
    for (int r = 0; r < records; ++r) {
        // Now and then a record that holds nothing at all.
        if (random_.Chance(5)) {
            medical_->Insert({s.number, building.number, liveYear, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr});
            continue;
        }
        const bool prescr = random_.Chance(40), vision = random_.Chance(60), growth = random_.Chance(50);
        const bool immun = random_.Chance(70), screen = random_.Chance(50);
        auto when = [&](bool has) { return has ? DemoValue(SqlDate(someDay())) : DemoValue(random_.Chance(50) ? nullptr : ""); };
        auto text = [&](bool has, const std::vector<std::string>& values) {
            return has ? DemoValue(random_.Pick(values)) : DemoValue(random_.Chance(50) ? nullptr : "");
        };
        const bool referral = screen && random_.Chance(30);
        medical_->Insert({s.number, building.number, liveYear, when(prescr),
                          text(prescr, {"Albuterol inhaler", "Methylphenidate 10mg", "EpiPen", "Insulin"}),
                          text(prescr, {"Dr Who", "Dr. Ana Pe\xF1" "a", "Dr. O'Hara", ""}),
                          text(prescr, {"2 puffs as needed", "10 mg at noon", " ", "1 injection"}), when(prescr),
                          text(prescr, {"Keep in nurse's office.\r\nParent brings refill.", "Take with food", "", "\tSee chart"}),
                          text(prescr, {"Y", "y", "Yes", "True", "t", "N", "No", "", "false"}),
                          when(vision), text(vision, {"20/20 both eyes", "Glasses\nrecommended", ""}),
                          when(growth), text(growth, {"Height 152 cm\tWeight 45 kg", "Normal"}),
                          text(immun, {"MMR", "DTaP", "Hep B", "Varicella"}), when(immun),
                          text(immun, {"Booster due\r\nnext year", "", "Complete"}),
                          text(screen, {"Hearing", "Scoliosis", "Dental"}), text(screen, {"Pass", "Refer", "Fail"}),
                          when(screen), when(referral),
                          text(screen, {"Parent notified", "Follow-up\nwith specialist", ""})});
    }
}

void DemoGenerator::WriteAbsences(const Building& building, const Student& s)
{
    const int liveYear = std::stoi(school::kLiveYear);
    const std::vector<int> weights = [] {
        std::vector<int> w;
        for (const AbsenceCode& code : kDailyCodes)
            w.push_back(code.weight);
        return w;
    }();
    int totalWeight = 0;
    for (int w : weights)
        totalWeight += w;
    const char* reasons[] = {"Illness", "Medical appointment", "Family emergency", "Vacation", "", "Car trouble"};
    double enrolled = 0, excused = 0, unexcused = 0, partial = 0;
    for (const QDate& day : liveDays_) {
        if (s.calendar == "ALT" && day.dayOfWeek() == 5)
            continue;
        if (day < s.entry || (s.leave.isValid() && day > s.leave))
            continue;
        enrolled += 1;
        if (random_.ChancePerMille(s.absencePerMille)) {
            int pick = random_.Below(totalWeight);
            std::size_t c = 0;
            while (pick >= kDailyCodes[c].weight)
                pick -= kDailyCodes[c++].weight;
            const AbsenceCode& code = kDailyCodes[c];
            // A note from home excuses an absence now and then.
            const bool isExcused = random_.Chance(20) ? !code.excused : code.excused;
            const QDate modifiedDay = day.addDays(random_.Below(3));
            const int hour = random_.Between(7, 17);
            const std::string modified = SqlDateTime(modifiedDay, hour, random_.Below(60));
            daily_->Insert({s.number, building.number, liveYear, SqlDate(day), code.code, isExcused ? "Y" : "N",
                            random_.Chance(10) ? DemoValue(nullptr) : DemoValue(reasons[random_.Below(6)]),
                            modified});
            const double weight = std::string(code.code) == "H" ? 0.5 : code.fullDay ? 1.0 : 0.0;
            (isExcused ? excused : unexcused) += weight;
            if (std::string(code.code) == "H" || std::string(code.code) == "T")
                partial += 1;
        }
        if (random_.ChancePerMille(s.absencePerMille / 2 + 5)) {
            const int periods = random_.Between(1, 2);
            for (int p = 0; p < periods; ++p) {
                int roll = random_.Below(10);
                period_->Insert({s.number, building.number, liveYear, SqlDate(day), std::to_string(random_.Between(1, 7)),
                                 roll < 5 ? "T" : roll < 8 ? "A" : "U", random_.Chance(40) ? "Y" : "N"});
            }
        }
    }
    summary_->Insert({s.number, building.number, liveYear, enrolled - excused - unexcused, excused, unexcused, partial});
}

// Phone numbers in the shapes people type them, including blanks and NULLs.
DemoValue DemoGenerator::Phone()
{
    const std::string area = random_.Chance(70) ? "614" : "380";
    const std::string line = random_.Digits(4);
    switch (random_.Below(12)) {
    case 0: return "(" + area + ") 555-" + line;
    case 1: return area + "-555-" + line;
    case 2: return area + "555" + line;
    case 3: return "555-" + line;
    case 4: return area + ".555." + line;
    case 5: return "+1 " + area + " 555 " + line;
    case 6: return "";
    case 7: return nullptr;
    case 8: return " " + area + "-555-" + line + " ";
    case 9: return area + "-555-" + line + " x12";
    default: return area + "-555-" + line;
    }
}

// Zip and Zip4: five digits with or without the four-digit extension, and a
// few sites that typed all nine digits (with or without the hyphen) into Zip.
std::pair<DemoValue, DemoValue> DemoGenerator::ZipAndZip4()
{
    const std::string zip = "43" + random_.Digits(3);
    const std::string plus4 = random_.Digits(4);
    switch (random_.Below(20)) {
    case 0: return {zip + plus4, ""};
    case 1: return {zip + "-" + plus4, nullptr};
    case 2: return {"", ""};
    case 3: case 4: case 5: return {zip, nullptr};
    case 6: case 7: case 8: case 9: case 10: case 11: return {zip, ""};
    default: return {zip, plus4};
    }
}

std::string DemoGenerator::StreetAddress()
{
    const std::string number = std::to_string(100 + random_.Below(9900));
    return number + " " + random_.Pick(kStreets);
}

std::string DemoGenerator::Combination()
{
    const std::string first = random_.Digits(2);
    const std::string second = random_.Digits(2);
    return first + "-" + second + "-" + random_.Digits(2);
}

DemoValue DemoGenerator::MaybeNull(const std::string& text, int nullPercent, int emptyPercent)
{
    int roll = random_.Below(100);
    if (roll < nullPercent)
        return nullptr;
    if (roll < nullPercent + emptyPercent)
        return "";
    return text;
}

std::string DemoGenerator::FirstName()
{
    return random_.Pick(kFirstNames);
}

std::string DemoGenerator::LastName()
{
    return random_.Pick(kLastNames);
}

}  // namespace demo
