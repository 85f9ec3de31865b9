#include "solver/OmbrixImpl.hpp"

#include "excel/CellRef.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"
#include "win32/Registry.hpp"

#include <sstream>
#include <vector>

namespace {

// Alert type of an information message.
const int information_alert = 2;

template <class Ref>
void check_printed(const std::string& text, const std::string& expected) {
    Ref ref;
    Ref::parse_ref(text, ref);
    std::ostringstream printed;
    printed << ref;
    if (printed.str() != expected)
        throw excel::ExcelException("Test Failed:" + printed.str() + " !=" + expected);
}

} // namespace

std::string OmbrixImpl::about_text() {
    const std::string version = win32::Registry::get_value("Software\\Quenmark\\Ombrix", "Version");
    return "Ombrix V" + version + "\n\n" + help_line;
}

void OmbrixImpl::about() const { excel::display_dialog_box(about_text().c_str(), information_alert); }

void OmbrixImpl::checkcell(const std::string& text, const std::string& expected) {
    check_printed<excel::CellRef>(text, expected);
}

void OmbrixImpl::checkrange(const std::string& text, const std::string& expected) {
    check_printed<excel::RangeRef>(text, expected);
}

void OmbrixImpl::run_tests() {
    checkcell("A1", "A1");
    checkcell("$A1", "$A1");
    checkcell("A$1", "A$1");
    checkcell("$A$1", "$A$1");
    checkcell("AB15", "AB15");
    checkcell("R1C2", "$B$1");
    checkcell("R2", "R2");
    checkcell("[Book1]Sheet1!$A$1", "'[Book1]Sheet1'!$A$1");
    checkcell("Sheet2!$A$1", "'Sheet2'!$A$1");
    checkcell("'Sheet 2'!$A$1", "'Sheet 2'!$A$1");
    checkcell("'[Book 2.xls]Sheet2'!$A$1", "'[Book 2.xls]Sheet2'!$A$1");
    checkrange("A1:C1", "A1:C1");
}

excel::RangeRef& OmbrixImpl::test_block() {
    // Moves with every Test that read it; only reloading the library starts it again.
    static excel::RangeRef range("A1:C3");
    return range;
}

void OmbrixImpl::test() {
    excel::RangeRef& range = test_block();
    std::vector<double> values;
    excel::Range(range).get(values);
    range.shift(1, 1);
    excel::Range(range).set(values);
}
