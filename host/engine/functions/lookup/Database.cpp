// The database functions (DSUM, DCOUNT, DGET, ...): a range whose first row names its columns,
// the column to reduce (by name or position), and a criteria range whose first row names the
// columns it tests. A record is selected when all the criteria of any one criteria row hold.

#include "engine/functions/dates/Calendar.hpp"
#include "engine/functions/Common.hpp"
#include "engine/Unicode.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

// A criteria cell: as COUNTIF's criterion, except that text without an operator finds text
// beginning with it.
std::function<bool(const Value&)> database_criterion(const Value& v, bool date1904) {
    if (v.is_text() && !v.as_text().empty() && v.as_text().find_first_not_of("<>=") == 0)
        return criterion_test(Value::text(std::string(v.as_text()) + "*"), date1904);
    return criterion_test(v, date1904);
}

// The values of the database's `field` column in the records the criteria select; false with
// the result set when an argument is wrong.
bool selected_values(Ctx& c, Item& out, std::vector<Value>& values, bool any_field) {
    if (c.argc < 3) { // DCOUNT(database, criteria): the field may be left empty, not out
        out.v = err(ErrorCode::Value);
        return false;
    }
    const Item& db = c.args[0];
    const Item& cr = c.args[2];
    if (db.kind != Item::Range || db.areas || cr.kind != Item::Range || cr.areas || db.area.r2 == db.area.r1) {
        out.v = err(ErrorCode::Value); // a database needs a row of names and at least one record
        return false;
    }
    const Area& d = db.area;
    const Area& k = cr.area;
    const Grid& g = c.ev.grid;
    auto header_column = [&](const Value& h) -> std::int32_t {
        if (h.is_empty())
            return -1;
        std::string name = to_text(h);
        for (std::int32_t col = d.c1; col <= d.c2; ++col)
            if (iequals(to_text(g.value_at(d.sheet, d.r1, col)), name))
                return col;
        return -1;
    };
    std::int32_t field = -1;
    if (!c.missing(1)) {
        Value f = c.arg(1);
        if (f.is_error()) {
            out.v = f;
            return false;
        }
        if (f.is_boolean()) // a position, not the name "TRUE"
            f = Value::number(f.as_boolean() ? 1 : 0);
        if (f.is_number()) {
            double n = std::trunc(f.as_number());
            if (n >= 1 && n <= double(d.c2 - d.c1 + 1))
                field = d.c1 + std::int32_t(n) - 1;
        } else {
            field = header_column(f);
        }
        if (field < 0) {
            out.v = err(ErrorCode::Value);
            return false;
        }
    } else if (!any_field) {
        out.v = err(ErrorCode::Value);
        return false;
    }
    // Each criteria row: (database column, test) pairs, all of which must hold. A criterion
    // under a name that is no column of the database holds for no record.
    struct Test {
        std::int32_t column;
        std::function<bool(const Value&)> holds;
    };
    std::vector<std::vector<Test>> rows;
    for (std::int32_t r = k.r1 + 1; r <= k.r2; ++r) {
        std::vector<Test> row;
        for (std::int32_t col = k.c1; col <= k.c2; ++col) {
            const Value& v = g.value_at(k.sheet, r, col);
            if (!v.is_empty())
                row.push_back({header_column(g.value_at(k.sheet, k.r1, col)), database_criterion(v, g.date1904())});
        }
        rows.push_back(std::move(row));
    }
    auto holds = [&](const std::vector<Test>& row, std::int32_t r) {
        return std::all_of(row.begin(), row.end(),
                           [&](const Test& t) { return t.column >= 0 && t.holds(g.value_at(d.sheet, r, t.column)); });
    };
    for (std::int32_t r = d.r1 + 1; r <= d.r2; ++r)
        if (rows.empty() || std::any_of(rows.begin(), rows.end(), [&](const auto& row) { return holds(row, r); }))
            values.push_back(field < 0 ? Value::boolean(true) : g.value_at(d.sheet, r, field));
    return true;
}

enum class DbReduce { Sum, Average, Count, CountA, Get, Max, Min, Product, StdevS, StdevP, VarS, VarP };

template <DbReduce Kind>
void database(Ctx& c, Item& out) {
    std::vector<Value> values;
    const bool counting = Kind == DbReduce::Count || Kind == DbReduce::CountA;
    if (!selected_values(c, out, values, counting))
        return;
    if (Kind == DbReduce::Get) {
        if (values.empty())
            OMBRIX_RETURN(err(ErrorCode::Value));
        OMBRIX_RETURN(values.size() > 1 ? err(ErrorCode::Num) : values[0]);
    }
    if (Kind == DbReduce::CountA) {
        double n = 0;
        for (const Value& v : values)
            n += !v.is_empty();
        OMBRIX_RETURN(Value::number(n));
    }
    std::vector<double> xs;
    for (const Value& v : values)
        if (v.is_number())
            xs.push_back(v.as_number());
    switch (Kind) {
    case DbReduce::Count: OMBRIX_RETURN(Value::number(double(c.missing(1) ? values.size() : xs.size())));
    case DbReduce::Sum: {
        double s = 0;
        for (double x : xs)
            s += x;
        OMBRIX_RETURN(Value::number(s));
    }
    case DbReduce::Average: {
        if (xs.empty())
            OMBRIX_RETURN(err(ErrorCode::Div0));
        double s = 0;
        for (double x : xs)
            s += x;
        OMBRIX_RETURN(Value::number(s / double(xs.size())));
    }
    case DbReduce::Max: OMBRIX_RETURN(Value::number(xs.empty() ? 0 : *std::max_element(xs.begin(), xs.end())));
    case DbReduce::Min: OMBRIX_RETURN(Value::number(xs.empty() ? 0 : *std::min_element(xs.begin(), xs.end())));
    case DbReduce::Product: {
        double p = 1;
        for (double x : xs)
            p *= x;
        OMBRIX_RETURN(Value::number(xs.empty() ? 0 : p));
    }
    case DbReduce::VarS: OMBRIX_RETURN(variance(xs, true));
    case DbReduce::VarP: OMBRIX_RETURN(variance(xs, false));
    default: {
        Value v = variance(xs, Kind == DbReduce::StdevS);
        OMBRIX_RETURN(v.is_number() ? Value::number(std::sqrt(v.as_number())) : v);
    }
    }
}

} // namespace

std::vector<Entry> database_functions() {
    return {
        {{"DSUM", 3, 3, 0}, database<DbReduce::Sum>},      {{"DAVERAGE", 3, 3, 0}, database<DbReduce::Average>},
        {{"DCOUNT", 2, 3, 0}, database<DbReduce::Count>},  {{"DCOUNTA", 2, 3, 0}, database<DbReduce::CountA>},
        {{"DGET", 3, 3, 0}, database<DbReduce::Get>},      {{"DMAX", 3, 3, 0}, database<DbReduce::Max>},
        {{"DMIN", 3, 3, 0}, database<DbReduce::Min>},      {{"DPRODUCT", 3, 3, 0}, database<DbReduce::Product>},
        {{"DSTDEV", 3, 3, 0}, database<DbReduce::StdevS>}, {{"DSTDEVP", 3, 3, 0}, database<DbReduce::StdevP>},
        {{"DVAR", 3, 3, 0}, database<DbReduce::VarS>},     {{"DVARP", 3, 3, 0}, database<DbReduce::VarP>},
    };
}

} // namespace host::engine::detail::fn
