// Every parameter that the function table says takes one value is applied element by element
// to an array or a range given there: lifting.tsv holds two calls of each such function, and
// each parameter in turn is given both calls' arguments at once, as an array constant and as a
// range, in a legacy array formula and a dynamic one. The elements must be the two calls'
// values; an array constant gives them in an ordinary formula too. A parameter that takes a
// range of one cell only ('r') gives #VALUE! for the range, in every kind of formula; one that
// takes a range's first cell ('t') gives its value, once.

#include "Fixture.hpp"

#include <set>

namespace enginetest {
namespace {

const std::string table = OMBRIX_SOURCE_DIR "/tests/host/engine/lifting.tsv";

struct Call {
    std::string name;
    std::vector<std::string> args;
    std::string with(std::size_t i, const std::string& arg) const {
        std::string out = name + "(";
        for (std::size_t k = 0; k < args.size(); ++k)
            out += (k ? "," : "") + (k == i ? arg : args[k]);
        return out + ")";
    }
};

// NAME(a,b,...) split at its top-level commas.
Call parse_call(const std::string& text) {
    Call call;
    const std::size_t open = text.find('(');
    if (open == std::string::npos || text.back() != ')')
        throw std::runtime_error("not a call: " + text);
    call.name = text.substr(0, open);
    std::string arg;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = open + 1; i + 1 < text.size(); ++i) {
        const char ch = text[i];
        quoted = ch == '"' ? !quoted : quoted;
        if (!quoted && (ch == '(' || ch == '{'))
            ++depth;
        if (!quoted && (ch == ')' || ch == '}'))
            --depth;
        if (!quoted && depth == 0 && ch == ',') {
            call.args.push_back(arg);
            arg.clear();
        } else {
            arg += ch;
        }
    }
    call.args.push_back(arg);
    return call;
}

// Whether an array constant may hold the argument as written.
bool literal(const std::string& arg) {
    if (arg == "TRUE" || arg == "FALSE" || host::engine::parse_error(arg))
        return true;
    if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"')
        return true;
    char* end = nullptr;
    std::strtod(arg.c_str(), &end);
    return !arg.empty() && *end == '\0';
}

class Lifting : public ::testing::Test {
protected:
    void SetUp() override { wb.add_sheet("Sheet1"); }

    Value scalar(const std::string& formula) {
        wb.set_formula(here, formula);
        wb.recalculate();
        Value v = wb.value(here);
        wb.set_value(here, Value());
        return v;
    }

    // The formula as a legacy array formula of the expected shape and as a spilling one.
    // With `one_value`, the result is one value: a dynamic formula fills its own cell only.
    void expect_elements(const std::string& formula, bool column, const Value& first, const Value& second,
                         const std::string& where, bool one_value = false) {
        const CellAddress next =
            column ? CellAddress{0, here.row + 1, here.col} : CellAddress{0, here.row, here.col + 1};
        for (bool spills : {false, true}) {
            if (spills)
                wb.set_spilling_formula(here, formula);
            else
                wb.set_array_formula(here, formula, column ? 2 : 1, column ? 1 : 2);
            wb.recalculate();
            const char* form = spills ? " (dynamic)" : " (legacy array)";
            EXPECT_TRUE(same(first, wb.value(here))) << where << formula << form;
            EXPECT_TRUE(same(spills && one_value ? Value() : second, wb.value(next))) << where << formula << form;
            wb.set_value(here, Value());
            wb.recalculate();
        }
    }

    Workbook wb;
    const CellAddress here{0, 40, 10}, range_first{0, 0, 25}, range_second{0, 1, 25}; // K41; Z1:Z2
};

TEST_F(Lifting, EveryParameterTakingOneValueLiftsOverArraysAndRanges) {
    std::set<std::string> sampled;
    for (const auto& row : read_rows(table)) {
        const auto& c = row.columns;
        const std::string where = row.where + ": ";
        if (c[0][0] == '@') {
            put(wb, at(c[0].substr(1).c_str()), c[1]);
            continue;
        }
        ASSERT_TRUE(c.size() == 1 || c.size() == 2) << where << "a row is CALL[, SECOND CALL]";
        const Call one = parse_call(c[0]), two = parse_call(c.back());
        ASSERT_EQ(one.name, two.name) << where;
        ASSERT_EQ(one.args.size(), two.args.size()) << where;
        const std::string kinds = host::engine::parameter_kinds(one.name, int(one.args.size()));
        ASSERT_EQ(kinds.size(), one.args.size()) << where << one.name << " is no function";
        bool lifts = false;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            if ((kinds[i] != 'v' && kinds[i] != 'r' && kinds[i] != 't') || one.args[i].empty())
                continue;
            lifts = true;
            const std::string &x = one.args[i], &y = two.args[i];
            const Value first = scalar(one.with(i, x)), second = scalar(one.with(i, y));
            const std::string array =
                literal(x) && literal(y) ? "{" + x + "," + y + "}" : "CHOOSE({1,2}," + x + "," + y + ")";
            expect_elements(one.with(i, array), false, first, second, where);
            const std::string ordinary = one.with(i, array);
            EXPECT_TRUE(same(first, scalar("INDEX(" + ordinary + ",1,1)"))) << where << ordinary;
            EXPECT_TRUE(same(second, scalar("INDEX(" + ordinary + ",1,2)"))) << where << ordinary;
            wb.set_formula(range_first, "=" + x);
            wb.set_formula(range_second, "=" + y);
            if (kinds[i] == 'v') {
                expect_elements(one.with(i, "Z1:Z2"), true, first, second, where);
                continue;
            }
            if (kinds[i] == 't') {
                expect_elements(one.with(i, "Z1:Z2"), true, first, first, where, true);
                continue;
            }
            const Value refused = Value::error(host::engine::ErrorCode::Value);
            expect_elements(one.with(i, "Z1:Z2"), true, refused, refused, where, true);
            EXPECT_TRUE(same(refused, scalar(one.with(i, "Z1:Z2")))) << where << one.with(i, "Z1:Z2");
        }
        EXPECT_TRUE(lifts) << where << one.name << " takes no single value here";
        sampled.insert(one.name);
    }
    for (const std::string& name : host::engine::function_names())
        if (host::engine::parameter_kinds(name, 8).find_first_of("vrt") != std::string::npos) {
            EXPECT_TRUE(sampled.count(name)) << name << " takes single values but lifting.tsv has no call of it";
        }
}

} // namespace
} // namespace enginetest
