// Every function of the spreadsheet program's list (function_list.tsv) is one the engine
// computes, or one it knows it cannot: those that need the outside world or a data model.

#include "Fixture.hpp"

#include "engine/OutsideWorld.hpp"

#include <set>

namespace enginetest {
namespace {

// Whether a formula calling the function leaves it unknown. A call with the wrong number of
// arguments is refused while parsing, which only a known function does.
bool unknown_to_the_engine(const std::string& name) {
    Workbook wb;
    wb.add_sheet("S");
    try {
        wb.set_formula({0, 0, 0}, name + "()");
    } catch (const host::engine::FormulaError&) {
        return false;
    }
    for (const auto& unknown : wb.diagnostics().unknown_functions)
        if (unknown.name == name)
            return true;
    return false;
}

TEST(FunctionList, EveryFunctionIsComputedOrKnownToNeedTheOutsideWorld) {
    const auto rows = read_rows(OMBRIX_SOURCE_DIR "/tests/host/engine/function_list.tsv");
    const std::set<std::string> kinds{"value", "array", "lambda", "outside world", "data model", "in progress"};
    std::set<std::string> seen;
    for (const auto& row : rows) {
        ASSERT_EQ(row.columns.size(), 3u) << row.where << ": a row is NAME, CATEGORY, KIND";
        const std::string& name = row.columns[0];
        const std::string& kind = row.columns[2];
        EXPECT_TRUE(kinds.count(kind)) << row.where << ": kind " << kind;
        EXPECT_TRUE(seen.insert(name).second) << row.where << ": " << name << " listed twice";
        if (kind == "in progress")
            continue;
        const bool outside = kind == "outside world" || kind == "data model";
        EXPECT_EQ(host::engine::needs_outside_world(name), outside) << row.where << ": " << name;
        EXPECT_EQ(unknown_to_the_engine(name), outside) << row.where << ": " << name;
    }
    EXPECT_GT(seen.size(), 500u);
}

// A new formula calling one of them gives #NAME? (a loaded one keeps its cached value: the
// loader's tests).
TEST(FunctionList, ANewFormulaNeedingTheOutsideWorldGivesName) {
    Workbook wb;
    wb.add_sheet("S");
    wb.set_value({0, 0, 0}, Value::number(2));
    wb.set_formula({0, 0, 1}, "_xlfn.WEBSERVICE(\"http://example.com\")&A1");
    wb.set_formula({0, 0, 2}, "A1*3");
    wb.recalculate();
    EXPECT_EQ(wb.value({0, 0, 1}), Value::error(ErrorCode::Name));
    EXPECT_EQ(host::engine::outside_world_calls(wb, {0, 0, 1}), std::vector<std::string>{"WEBSERVICE"});
    EXPECT_TRUE(host::engine::outside_world_calls(wb, {0, 0, 2}).empty());
}

} // namespace
} // namespace enginetest
