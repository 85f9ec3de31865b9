// Arbitrary text as a formula: it either parses or throws FormulaError; what parses is
// evaluated in a tiny workbook, moved as a shared formula, and the moved text must parse too.

#include "engine/Workbook.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace host::engine;

namespace {

Workbook& book() {
    static Workbook wb = [] {
        Workbook w;
        w.add_sheet("Sheet1");
        w.add_sheet("My Sheet");
        w.set_value({0, 0, 0}, Value::number(1));
        w.set_value({0, 1, 0}, Value::number(-2.5));
        w.set_value({0, 2, 0}, Value::text("abc"));
        w.set_value({0, 0, 1}, Value::boolean(true));
        w.set_value({0, 1, 1}, Value::error(ErrorCode::Div0));
        w.set_value({1, 0, 0}, Value::text("4"));
        w.define_name("Rate", "0.1");
        w.define_name("Block", "Sheet1!$A$1:$B$3");
        w.set_formula({0, 4, 4}, "C1*2"); // a dependent of the fuzzed cell
        return w;
    }();
    return wb;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096)
        return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    Workbook& wb = book();
    for (bool array : {false, true}) {
        try {
            wb.set_formula({0, 0, 2}, text, array);
        } catch (const FormulaError&) {
            return 0;
        }
        wb.recalculate();
        const Value& v = wb.value({0, 0, 2});
        if (v.is_number() && !(v.as_number() - v.as_number() == 0))
            __builtin_trap(); // never NaN or infinity
        (void)v.to_string();
    }
    (void)wb.diagnostics();
    try {
        std::string moved = move_formula(text, 3, -2);
        Workbook other;
        other.add_sheet("Sheet1");
        other.set_formula({0, 5, 5}, moved);
        other.recalculate_all();
    } catch (const FormulaError&) {
        __builtin_trap(); // the original parsed, so the moved text must parse too
    }
    wb.set_value({0, 0, 2}, Value());
    return 0;
}
