#include "excel/ExcelException.hpp"
#include "solver/Model.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using solver::Relation;

struct ParseRow {
    const char* text;
    const char* lhs; // the left range as printed (a cell as a range of one); empty: refused
    Relation relation;
    const char* rhs; // the right range as printed, or empty for a number
    double number;
    const char* refusal; // part of the message when refused
};

TEST(Constraints, ParseRows) {
    const ParseRow rows[] = {
        {"B13 <= 240", "B13:B13", Relation::at_most, "", 240, ""},
        {"  B3:D3>=B4:D4 ", "B3:D3", Relation::at_least, "B4:D4", 0, ""},
        {"$A$6 = 1", "$A$6:$A$6", Relation::equal, "", 1, ""},
        {"A1 =< -2.5e3", "A1:A1", Relation::at_most, "", -2500, ""},
        {"A1:A3 => C1", "A1:A3", Relation::at_least, "C1:C1", 0, ""},
        {"'a=b'!A1 <= 'a=b'!B1", "'a=b'!A1:A1", Relation::at_most, "'a=b'!B1:B1", 0, ""},
        {"B13 < 240", "", Relation::at_most, "", 0, "must be LHS <= RHS, LHS = RHS or LHS >= RHS"},
        {"B13 240", "", Relation::at_most, "", 0, "must be LHS <= RHS"},
        {"<= 3", "", Relation::at_most, "", 0, "must be LHS <= RHS"},
        {"B13 <=", "", Relation::at_most, "", 0, "must be LHS <= RHS"},
        {"3 <= B13", "", Relation::at_most, "", 0, "must have cells on its left side"},
        {"B13+1 <= 3", "", Relation::at_most, "", 0, "has \"B13+1\" as a side"},
        {"A1:A3 <= B1:B2", "", Relation::at_most, "", 0, "has sides of different sizes"},
        {"A1 <== 3", "", Relation::at_most, "", 0, "has \"= 3\" as a side"},
    };
    for (const ParseRow& r : rows) {
        try {
            const solver::Constraint c = solver::parse_constraint(r.text);
            EXPECT_STRNE(r.lhs, "") << r.text << " was accepted";
            EXPECT_EQ(c.lhs.range.to_string(), r.lhs) << r.text;
            EXPECT_EQ(c.relation, r.relation) << r.text;
            EXPECT_EQ(c.rhs.is_number, std::string(r.rhs).empty()) << r.text;
            if (c.rhs.is_number) {
                EXPECT_EQ(c.rhs.number, r.number) << r.text;
            } else {
                EXPECT_EQ(c.rhs.range.to_string(), r.rhs) << r.text;
            }
        } catch (const excel::ExcelException& e) {
            EXPECT_STREQ(r.lhs, "") << r.text << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(r.refusal), std::string::npos) << r.text << ": " << e.what();
        }
    }
}

struct ViolationRow {
    Relation relation;
    double lhs, rhs, tolerance, violation;
};

TEST(Constraints, ViolationRows) {
    const ViolationRow rows[] = {
        {Relation::at_most, 250, 240, 1e-6, 10},
        {Relation::at_most, 230, 240, 1e-6, 0},
        {Relation::at_most, 240.0002, 240, 1e-6, 0}, // within 1e-6 of 240
        {Relation::at_most, 240.001, 240, 1e-6, 0.001},
        {Relation::at_least, 1, 3, 1e-6, 2},
        {Relation::at_least, 5, 3, 1e-6, 0},
        {Relation::equal, 0.9999, 1, 1e-6, 0.0001},
        {Relation::equal, 1.0000005, 1, 1e-6, 0},
        {Relation::equal, 2e-7, 0, 1e-6, 0}, // at least 1 in size
        {Relation::equal, 3e-6, 0, 1e-6, 3e-6},
        {Relation::equal, 5, 5, 0, 0},
        {Relation::at_least, -3, -2, 0, 1},
    };
    for (const ViolationRow& r : rows)
        EXPECT_NEAR(solver::violation(r.relation, r.lhs, r.rhs, r.tolerance), r.violation, 1e-12)
            << solver::relation_text(r.relation) << " " << r.lhs << " " << r.rhs;
}

struct ListRow {
    const char* text;
    std::size_t pieces;
    unsigned long long cells; // of the ranges, when they are ranges
};

TEST(Constraints, RangeListRows) {
    const ListRow rows[] = {
        {"B3:D3,F3,H2:H9", 3, 12}, {"B3:D3", 1, 3}, {" A1 , B2:C3 ", 2, 5}, {"'x,y'!A1:B1,C1", 2, 3}, {"A1,,B1", 2, 2},
    };
    for (const ListRow& r : rows) {
        EXPECT_EQ(solver::split_list(r.text, ',').size(), r.pieces) << r.text;
        EXPECT_EQ(solver::cell_count(solver::parse_ranges(r.text, "variable")), r.cells) << r.text;
    }
    EXPECT_THROW(solver::parse_ranges("A1,B1+1", "variable"), excel::ExcelException);
    EXPECT_THROW(solver::parse_ranges(" , ", "variable"), excel::ExcelException);
}

} // namespace
