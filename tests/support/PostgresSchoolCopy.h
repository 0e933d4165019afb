// PostgresSchoolCopy: a school database of the demo's kind (SQLite) made into
// the same school on a test PostgreSQL server, for tests and benchmarks that
// read a school through a real networked server.
#pragma once

#include <ostream>

namespace demo {
class DemoDatabase;
}

namespace PostgresSchoolCopy {

// SQL Server turns '' into a date where a date column is compared with it;
// PostgreSQL refuses the comparison. The date columns the engine compares
// with '' are declared as text holding the same ISO dates in `source`, so
// that both servers meet the same statement with the same column.
void HoldDatesAsText(demo::DemoDatabase& source);

// psql input that makes `source` on the server: every table with its rows
// (COPY; text turned from code page 1252 into the server's UTF-8, an empty
// date NULL, since a timestamp cannot hold ''), the two views, and SQL
// Server's catalogue views (sysobjects, syscolumns), so the engine's
// statements run as written.
void Write(demo::DemoDatabase& source, std::ostream& out);

}  // namespace PostgresSchoolCopy
