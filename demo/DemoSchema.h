// The tables and views of the demo school database, shaped like the SIS the
// engine reads, and the SQL-Server-style catalogue views over SQLite's own.
#pragma once

#include "demo/DemoOptions.h"

#include <string>

namespace demo {

class DemoDatabase;

class DemoSchema {
public:
    // Creates every table and view the options ask for, then the catalogue
    // views. Column types are declared so that the SQLite ODBC driver reports
    // proper SQL types: DATETIME as timestamps, NUMERIC(p,s) as doubles,
    // INT and BIT as integers and bits, VARCHAR(n) and TEXT as texts.
    static void Create(DemoDatabase& db, const DemoOptions& options);

    // Indexes of the large tables; faster to build after the rows are in.
    static void CreateIndexes(DemoDatabase& db);

    // `sysobjects` (name, id, and xtype and type: 'U' table, 'V' view, 'S'
    // the two catalogue views) and `syscolumns` (name, id, colid) over
    // sqlite_master and pragma_table_info, so that catalogue statements
    // written for SQL Server run unchanged. Usable on any SQLite database,
    // new or already holding the views; SQLite's internal tables are left out.
    static std::string CatalogueViewsSql();
};

}  // namespace demo
