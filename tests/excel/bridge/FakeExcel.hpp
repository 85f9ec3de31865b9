#ifndef OMBRIX_TESTS_BRIDGE_FAKEEXCEL_HPP
#define OMBRIX_TESTS_BRIDGE_FAKEEXCEL_HPP

// A scripted stand-in for the spreadsheet's callback entry: a small workbook of sheets
// of cells, the handful of operations the bridge uses, a record of every call, and
// forced return codes per function number.

#include "excel/framewrk/ExcelApi.hpp"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bridge_fake {

struct Cell {
    std::uint16_t type = xltypeNil;  // xltypeNum, xltypeStr, xltypeErr or xltypeNil
    double num = 0.0;
    std::string str;
    std::uint16_t err = 0;
};

struct Call {
    int function;
    std::vector<std::uint16_t> arg_types;
    std::vector<XLOPER> args;  // shallow copies, valid only during the call
};

struct Fake {
    std::vector<Call> calls;
    std::map<int, int> forced;                    // function number -> return code
    std::map<std::string, IDSHEET> sheets{{"Sheet1", 1}, {"Sheet2", 2}, {"[Book1]Sheet3", 3}};
    IDSHEET active = 1;
    std::map<std::pair<IDSHEET, std::pair<int, int> >, Cell> cells;  // (sheet, (row, col))
    std::set<void*> allocated;                    // what the add-in must still xlFree
    std::pair<int, int> coerce_shape{-1, -1};     // forced (rows, columns) of array answers
    XLOPER caller;                                // xlfCaller's answer
    std::string alert;
    int alert_type = 0;

    Fake() { caller.xltype = xltypeErr; caller.val.err = 15; }

    void put(int row, int col, double v, IDSHEET sheet = 1);
    void put_str(int row, int col, const std::string& s, IDSHEET sheet = 1);
    void put_err(int row, int col, std::uint16_t err, IDSHEET sheet = 1);
    const Cell& at(int row, int col, IDSHEET sheet = 1);
    int count(int function) const;
};

// The one fake every test in the executable talks to; reset() gives a fresh one.
Fake& fake();
void reset();

} // namespace bridge_fake

#endif
