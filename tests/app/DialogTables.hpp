#ifndef OMBRIX_TESTS_APP_DIALOGTABLES_HPP
#define OMBRIX_TESTS_APP_DIALOGTABLES_HPP

// Dialog tables laid out as the add-in lays them out: the dialog row, OK, Cancel, then for
// each control a label line and a control line.

#include "api/Host.hpp"

#include <string>
#include <vector>

namespace testing_tables {

struct Control {
    int type;
    std::string label;
    std::string value;
    std::string name; // a list's defined name
};

inline host::api::Table dialog_table(const std::string& title, const std::vector<Control>& controls,
                                     bool cancel = true) {
    using host::engine::Value;
    host::api::Table t;
    t.columns = 7;
    auto row = [&](Value code, double x, double y, double w, Value h, Value text, Value init) {
        t.cells.insert(t.cells.end(), {code, Value::number(x), Value::number(y), Value::number(w), h, text, init});
        ++t.rows;
    };
    int height = 20 * static_cast<int>(controls.size());
    row(Value(), 0, 0, 430, Value::number(height + 100), Value::text(title), Value());
    t.at(0, 1) = t.at(0, 2) = Value();
    row(Value::number(1), 50, height + 50, 80, Value(), Value::text("OK"), Value());
    if (cancel)
        row(Value::number(2), 150, height + 50, 80, Value(), Value::text("Cancel"), Value());
    int y = 20;
    for (const Control& c : controls) {
        row(Value::number(5), 10, y, 430, Value(), Value::text(c.label), Value());
        row(Value::number(c.type), 220, y, 200, Value(), Value::text(c.name),
            c.value.empty() ? Value() : Value::text(c.value));
        y += 20;
    }
    return t;
}

// The Solve dialog with the add-in's initial settings; the goal list is named USTR0.
inline std::vector<Control> solve_controls() {
    return {
        {5, "Domain:", "", ""},
        {10, "Min Vector", "", ""},
        {10, "Max Vector", "", ""},
        {10, "Var Vector", "", ""},
        {5, "", "", ""},
        {5, "Objective:", "", ""},
        {10, "Function Cell", "", ""},
        {21, "Goal:", "1", "USTR0"},
        {5, "", "", ""},
        {5, "Parameters:", "", ""},
        {6, "Seed", "233", ""},
        {6, "Population", "50", ""},
        {6, "Generations", "100", ""},
        {6, "Trials", "2", ""},
        {5, "", "", ""},
        {5, "Advanced:", "", ""},
        {6, "Crossover Rate", "1", ""},
        {6, "Mutation Rate", "0.03125", ""},
        {5, "", "", ""},
        {5, "For help visit: https://example.org", "", ""},
    };
}

} // namespace testing_tables

#endif
