#ifndef OMBRIX_TESTS_FAKEEXCEL_HPP
#define OMBRIX_TESTS_FAKEEXCEL_HPP

// A scripted stand-in for the spreadsheet's callback entry, for tests of the add-in's
// registration, dialogs and entry points. It records every call with deep copies of its
// arguments, answers the operations those parts use the way the spreadsheet answers them,
// and lets a test replace the answer for any function number.

#include "excel/framewrk/ExcelApi.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fake {

// A value record copied out of the add-in's memory, so it can be looked at after the call.
struct Value {
    std::uint16_t type = xltypeMissing; // xlbitDLLFree and the like included
    double num = 0.0;
    std::string str;
    bool str_null = false;
    int word = 0;                       // bool, int or error code
    unsigned rows = 0, columns = 0;
    std::vector<Value> elements;        // row by row
    XLREF ref{};

    std::uint16_t base_type() const { return static_cast<std::uint16_t>(type & 0x0FFF); }
    bool is_str(const std::string& s) const { return base_type() == xltypeStr && str == s; }
    const Value& at(unsigned row, unsigned column) const;
    static Value copy(const XLOPER* x);
};

struct Call {
    int function;
    bool has_result;
    std::vector<Value> args;
};

// The answer to one call: the return code, and what to write into the result record.
typedef std::function<int(int function, XLOPER* result, const std::vector<XLOPER*>& args)> Handler;

class Excel {
public:
    static Excel& instance();

    // Forgets the calls, the state of menus and names, and every override.
    void reset();

    std::vector<Call> calls;
    std::map<int, Handler> overrides;

    // Emulated state.
    std::string module_path = "/addins/ombrix.so";
    std::string version = "16.0";
    std::set<std::string> menus;                     // titles on bar 10
    std::vector<std::string> menu_order;             // titles in bar order
    std::map<std::string, double> registered;        // procedure -> register id
    std::map<std::string, Value> names;              // defined names
    std::vector<std::string> deleted_names;
    Value dialog_answer;                             // what xlfDialogBox gives back
    bool dialog_answer_set = false;                  // false: cancel (FALSE)

    // Memory handed to the add-in and not yet released with xlFree.
    std::size_t outstanding() const { return owned.size(); }

    // Calls of one function, in order.
    std::vector<const Call*> calls_of(int function) const;

    // Results built by the fake: counted strings and arrays it owns until xlFree.
    void give_string(XLOPER* result, const std::string& text);
    void give_array(XLOPER* result, const Value& array);

    int dispatch(int function, XLOPER* result, int count, XLOPER** args);

private:
    int emulate(int function, XLOPER* result, const std::vector<XLOPER*>& args);
    void release(XLOPER* x);
    void build(XLOPER* target, const Value& v);
    std::set<void*> owned;
    double next_id = 1.0;
};

// Makers of values for scripted answers.
Value num(double d);
Value str(const std::string& s);
Value boolean(bool b);
Value nil();
Value err(int code);
Value multi(unsigned rows, unsigned columns, std::vector<Value> elements);

} // namespace fake

#endif
