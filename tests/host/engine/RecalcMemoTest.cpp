// Repeated writes of the same numbers restore the results kept from the first time, and
// only while that is the same as computing them: each step below runs on a workbook keeping
// results and on one that does not, and every formula's value must be the same bit for bit.
#include "Fixture.hpp"

#include <cstring>

namespace enginetest {
namespace {

// One step: "write" the variables A1:C1 (in that order, or "writeBA" B1 then A1 then C1);
// "value CELL X"; "formula CELL TEXT"; "calc" a full recalculation. Then whether that step
// is a write the kept results answer (results are kept where they are all numbers).
struct Step {
    const char* what;
    const char* a;
    const char* b;
    bool recalled;
};
const Step steps[] = {
    {"write", "1 2 3", "", false},
    {"write", "4 5 6", "", false},
    {"write", "1 2 3", "", true},
    {"write", "-0 2 3", "", false}, // -0 is not the 0 of any point written
    {"write", "4 5 6", "", true},
    {"write", "-0 2 3", "", true},
    {"value", "F1", "10", false}, // a constant read by the model changes: nothing kept holds
    {"write", "1 2 3", "", false},
    {"write", "4 5 6", "", false},
    {"write", "1 2 3", "", true},
    {"formula", "D4", "A1+F1", false}, // a formula changes
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", true},
    {"writeBA", "4 5 6", "", false}, // other cells (in another order)
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", true},
    {"calc", "", "", false},
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", true},
    {"formula", "G9", "B1*RAND()*0", false}, // a volatile function: never kept
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", false},
    {"formula", "G9", "B1*2", false},
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", true},
    {"formula", "G11", "IF(A1>3,\"big\",A1)", false}, // a result that is no number: never kept
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", false},
    {"formula", "G11", "IF(A1>5,0,A1)", false},
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", true},
    {"formula", "G10", "G10+A1", false}, // a circular reference: never kept
    {"write", "4 5 6", "", false},
    {"write", "4 5 6", "", false},
};

void build(Workbook& wb) {
    wb.add_sheet("Model");
    wb.set_automatic(true);
    for (int r = 0; r < 100; ++r) // a column the model reads whole, partly formulas of A1
        wb.set_formula({0, r, 7}, "$A$1*" + std::to_string(r + 1) + "+ROW()");
    wb.set_formula(at("D1"), "A1*B1+C1/7");
    wb.set_formula(at("D2"), "SUM(D1,A1)^2+F1");
    wb.set_formula(at("D3"), "IF(D2>100,-1,D2)");
    wb.set_formula(at("E1"), "SUM(H1:H100)+MAX(H:H)");
    wb.set_formula(at("E2"), "IFERROR(VLOOKUP(A1*20,H1:H100,1,TRUE),-1)");
    for (int r = 2; r < 40; ++r) // a shape of numbers
        wb.set_formula({0, r, 4}, "E" + std::to_string(r) + "*0.5+SIN(B$1)");
    wb.set_value(at("F1"), N(3));
}

bool same_bits(const Value& x, const Value& y) {
    if (x.is_number() && y.is_number()) {
        double a = x.as_number(), b = y.as_number();
        return std::memcmp(&a, &b, sizeof a) == 0;
    }
    return x == y && x.type() == y.type();
}

TEST(RecalcMemo, RestoresOnlyWhatComputingWouldGive) {
    Workbook kept, computed;
    build(kept);
    build(computed);
    kept.set_recalculation_memo(1 << 20);
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.what) + " " + s.a + " " + s.b);
        const std::uint64_t before = kept.recalculations_recalled();
        for (Workbook* wb : {&kept, &computed}) {
            const std::string what = s.what;
            if (what == "write" || what == "writeBA") {
                std::istringstream in(s.a);
                double x[3];
                in >> x[0] >> x[1] >> x[2];
                std::vector<std::pair<CellAddress, Value>> cells{
                    {at("A1"), N(x[0])}, {at("B1"), N(x[1])}, {at("C1"), N(x[2])}};
                if (what == "writeBA")
                    std::swap(cells[0], cells[1]);
                wb->set_values(cells);
            } else if (what == "value") {
                wb->set_value(at(s.a), N(std::atof(s.b)));
            } else if (what == "formula") {
                wb->set_formula(at(s.a), s.b);
            } else {
                wb->recalculate_all();
            }
        }
        EXPECT_EQ(kept.recalculations_recalled() - before, s.recalled ? 1u : 0u);
        for (int r = 0; r < 100; ++r)
            for (int c = 0; c < 8; ++c)
                ASSERT_TRUE(same_bits(kept.value({0, r, c}), computed.value({0, r, c})))
                    << "row " << r + 1 << " column " << c + 1 << ": " << show(kept.value({0, r, c})) << " against "
                    << show(computed.value({0, r, c}));
    }
}

// A budget too small for one set of results keeps none.
TEST(RecalcMemo, KeepsNothingBeyondItsBudget) {
    Workbook wb;
    build(wb);
    wb.set_recalculation_memo(100);
    for (int i = 0; i < 3; ++i)
        wb.set_values({{at("A1"), N(1)}, {at("B1"), N(2)}, {at("C1"), N(3)}});
    EXPECT_EQ(wb.recalculations_recalled(), 0u);
}

} // namespace
} // namespace enginetest
