// What a failed or refused Solve tells the user, and what it leaves in the workbook.
#include "Workbook.hpp"

#include <string>

namespace solver_test {
namespace {

TEST_F(Workbook, ARunRefusedBeforeItsFirstCandidateTouchesNoCell)
{
    const Typed wide_box{{"Min Vector", "E2:G2"}, {"Max Vector", "E3:G3"}};
    struct Case {
        Typed typed;
        const char* message;
    };
    const Case cases[] = {
        {{{"Population", "100000000"}}, "A population of 100000000 with 3 variables would need"},
        {{{"Population", "1000000000"}}, "A population of 1000000000 with 3 variables would need"},
        {wide_box, "Design variable 1 has the range"},
    };
    const Typed quick_run = typed;
    for (const Case& c : cases) {
        build();
        typed = quick_run;
        formula("A1", "=B2*0+0.5");
        // Each bound is a number, their distance is not.
        set("E2", Value::number(-1e308));
        set("E3", Value::number(1e308));
        for (const char* a1 : {"F2", "G2"})
            set(a1, Value::number(-2));
        for (const char* a1 : {"F3", "G3"})
            set(a1, Value::number(3));
        for (const auto& t : c.typed)
            typed[t.first] = t.second;
        const std::string message = solve_message();
        EXPECT_EQ(0u, message.find(c.message)) << message;
        // The formula in a variable cell is still a formula.
        EXPECT_TRUE(book.is_formula(at("A1"))) << c.message;
        EXPECT_EQ(0.5, num("A1"));
    }
}

TEST_F(Workbook, AReferenceTooLongOnceWrittenInFullIsRefusedWhenGiven)
{
    // 248 letters, "!" and "A2:C2": 254 characters, 256 once the sheet name is quoted.
    const std::string sheet(248, 'S');
    typed["Min Vector"] = sheet + "!A2:C2";
    ASSERT_EQ(254u, typed["Min Vector"].size());
    const std::string message = solve_message();
    EXPECT_EQ(0u, message.find("The reference given for Min Vector is too long")) << message;
    EXPECT_NE(std::string::npos, message.find("256 characters")) << message;
    EXPECT_EQ("", impl.min_text);
    // The next Solve shows its dialog and runs.
    typed["Min Vector"] = "A2:C2";
    EXPECT_EQ("", solve_message());
    EXPECT_EQ(2u, front->dialogs());
}

} // namespace
} // namespace solver_test
