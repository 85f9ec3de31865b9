#ifndef OMBRIX_TESTS_SOLVER_FAKEEXCEL_HPP
#define OMBRIX_TESTS_SOLVER_FAKEEXCEL_HPP

// A scripted spreadsheet behind Excel4/Excel4v for the solver's tests: one active sheet of
// values, a C++ "recalculation" run after every write (the model's formulas), the Solve
// dialog answered by label as a user would fill it in, and a record of alerts, dialogs
// and every value handed out, so tests can check that all of it came back through xlFree.

#include "excel/framewrk/ExcelApi.hpp"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fake {

struct Value {
    enum Kind { nil, number, text, boolean, error } kind = nil;
    double num = 0.0;
    std::string str;
    bool flag = false;
    int err = 0;

    static Value of(double d) { Value v; v.kind = number; v.num = d; return v; }
    static Value of_text(const std::string& s) { Value v; v.kind = text; v.str = s; return v; }
    static Value of_error(int code) { Value v; v.kind = error; v.err = code; return v; }
    static Value of_bool(bool b) { Value v; v.kind = boolean; v.flag = b; return v; }
};

bool operator==(const Value& a, const Value& b);

// One control of a dialog as the table showed it.
struct ShownControl {
    int type = 0;
    std::string label;
    std::string initial;              // the initial value cell as text ("" when empty)
    std::vector<std::string> entries; // a list's entries, from the name it refers to
};

struct ShownDialog {
    std::string title;
    bool has_cancel = false;
    std::vector<ShownControl> controls;
};

// What the "user" does with the next dialog: Cancel, or OK after typing texts into the
// controls named by their labels (for a list: the entry to choose). Controls not named
// keep their initial values.
struct DialogAnswer {
    bool ok = true;
    std::map<std::string, std::string> typed;
};

class Sheet {
public:
    // Cells by A1 name on the active sheet (no "$", no sheet prefix).
    void set(const std::string& a1, const Value& v);
    void set(const std::string& a1, double d) { set(a1, Value::of(d)); }
    Value get(const std::string& a1) const;
    // The number in a cell; NaN when it holds anything else.
    double num(const std::string& a1) const;

    void set(int row, int col, const Value& v);
    Value get(int row, int col) const;

private:
    std::map<std::pair<int, int>, Value> cells;
};

class Excel {
public:
    static Excel& instance();
    // Back to an empty sheet, no model, no script and an empty record.
    void reset();

    Sheet sheet;
    // Runs after every successful xlSet, as the spreadsheet recalculates in automatic mode.
    std::function<void(Sheet&)> recalc;
    // Answers of the coming dialogs, taken in order; a dialog with no answer left is cancelled.
    std::vector<DialogAnswer> answers;
    // The xlSet call (counted from 1) that fails; 0: none.
    int failing_set = 0;
    // Name of the one sheet, the active one.
    std::string sheet_name = "Sheet1";

    // Record.
    std::vector<std::pair<std::string, int> > alerts; // text, alert type
    std::vector<ShownDialog> dialogs;
    int set_calls = 0;
    int coerce_calls = 0;
    // Values handed to the add-in and not yet returned through xlFree.
    int outstanding() const { return static_cast<int>(live.size()); }

    int call(int xlfn, LPXLOPER result, int count, LPXLOPER* args);

private:
    int coerce(LPXLOPER result, const XLOPER& from, int type);
    int sheet_id(LPXLOPER result, int count, LPXLOPER* args);
    int set_cells(const XLOPER& ref, const XLOPER& value);
    int dialog_box(LPXLOPER result, const XLOPER& table);
    int set_name(int count, LPXLOPER* args);
    void free_value(XLOPER& value);
    char* new_string(const std::string& s);
    XLOPER to_oper(const Value& v);

    std::map<void*, bool> live;
    std::map<std::string, std::vector<std::string> > names;
};

// Text of a counted string.
std::string text_of(const XLOPER& v);

} // namespace fake

#endif
