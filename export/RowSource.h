// Where the export writer's rows come from: the query a table declares and
// the walk over its rows. The data-access layer implements it over ODBC; a
// test can implement it over rows held in memory. The writer knows query
// tables and fields only by pointer; the source that made them reads them.
#pragma once

#include "util/XString.h"

#include <functional>

class DataAccessField;
class DataAccessTable;
class XDate;
class DelimitedTextWriter;
class ExportColumn;

class RowSource
{
public:
    virtual ~RowSource() = default;

    // Adds the field `name` of `table` to the query and returns it, or
    // nullptr when an optional field is missing (a missing required field
    // throws).
    virtual DataAccessField* AddQueryField(DataAccessTable* table, const XString& name, bool required) = 0;
    // Forgets the query description (tables, fields, conditions, orders).
    virtual void ClearQuery() = 0;
    // The SQL text of the current query description.
    virtual XString BuildQuery() = 0;
    // Limits the attendance query to change dates in [from, to]; a null (or
    // day 0) bound is left open. A second call replaces the first range.
    virtual void FilterAttendance(const XDate& from, const XDate& to) = 0;
    // Forgets the attendance filter settings.
    virtual void ClearFilter() = 0;

    // Opens the current table's query and walks its rows with `readRows`.
    // When the link to the source is lost part way, `undo` puts back what
    // the rows read so far changed (files, cache rows), the run state is
    // restored and the table is opened and read again from its start, once,
    // on a new connection; a second loss in the same table is raised naming
    // the lost connection. An empty `undo` means the rows cannot be read
    // again: the loss is raised. False when the table could not be opened
    // and is skipped.
    virtual bool ReadTable(const std::function<void()>& readRows, const std::function<void()>& undo) = 0;
    // Moves to the first / next row of the open query; false when there is none.
    virtual bool GetFirstRecord() = 0;
    virtual bool GetNextRecord() = 0;

    // A plain text column's value of the current row written straight into
    // `output`, as its value function would give it; false when the value
    // has to take the value function's way (a source without the shortcut:
    // always).
    virtual bool WritePlainText(DelimitedTextWriter& /*output*/, const ExportColumn& /*column*/) { return false; }
};
