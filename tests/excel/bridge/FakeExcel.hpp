#ifndef OMBRIX_TESTS_BRIDGE_FAKEEXCEL_HPP
#define OMBRIX_TESTS_BRIDGE_FAKEEXCEL_HPP

// A scripted stand-in for the callback entry: a few sheets of cells, the operations the
// bridge uses, a record of calls, forced return codes, and the arrays and strings handed
// out that the add-in has yet to give back with xlFree.

#include "excel/framewrk/ExcelApi.hpp"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bridge_fake {

struct Cell {
    std::uint16_t type = xltypeNil;  // xltypeNum, xltypeStr, xltypeErr or xltypeNil
    double num = 0.0;                // the number, or the error code
    std::string str;
};

struct Fake {
    std::vector<std::pair<int, std::vector<std::uint16_t> > > calls;  // function, argument types
    std::map<int, int> forced;                                       // function -> return code
    std::map<std::string, IDSHEET> sheets{{"Sheet1", 1}, {"Sheet2", 2}, {"[Book1]Sheet3", 3}};
    IDSHEET active = 1;
    std::map<std::pair<IDSHEET, std::pair<int, int> >, Cell> cells;  // (sheet, (row, column))
    std::set<void*> allocated;
    std::pair<int, int> coerce_shape{0, 0};  // when set, the (rows, columns) arrays answer with
    XLOPER caller{};                         // xlfCaller's answer
    std::string alert;
    int alert_type = 0;

    Cell& at(int row, int col, IDSHEET sheet = 1) { return cells[{sheet, {row, col}}]; }
    void put(int row, int col, double v, std::uint16_t type = xltypeNum, IDSHEET sheet = 1);
    void put_str(int row, int col, const std::string& s);
    int count(int function) const;
};

Fake& fake();
void reset();

// The text of the exception of type E that f throws.
template <class E>
std::string message_of(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace bridge_fake

#endif
