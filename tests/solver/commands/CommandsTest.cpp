#include "SolverFixture.hpp"

#include "excel/ExcelException.hpp"
#include "excel/RangeRef.hpp"
#include "win32/ProductVersion.hpp"
#include "win32/Registry.hpp"

namespace solver_test {
namespace {

const char* const product_key = "Software\\Quenmark\\Ombrix";

// --- About -----------------------------------------------------------------------------

class AboutTest : public SolverTest {
protected:
    void TearDown() override
    {
        win32::Registry::stand_in_reset();
        SolverTest::TearDown();
    }

    // The one alert About showed; its type must be the information alert.
    std::string shown()
    {
        impl.about();
        EXPECT_EQ(1u, excel().alerts.size());
        if (excel().alerts.size() != 1)
            return std::string();
        EXPECT_EQ(2, excel().alerts[0].second);
        return excel().alerts[0].first;
    }
};

TEST_F(AboutTest, ShowsTheInstalledVersionAndTheHelpLine)
{
    const std::string text = shown();
    EXPECT_EQ("Ombrix V" + std::string(OMBRIX_PRODUCT_VERSION) + "\n\nFor help visit: ",
              text.substr(0, text.find("For help visit: ") + 16));
    EXPECT_EQ(OmbrixImpl::help_line, text.substr(text.find("For help visit: ")));
}

struct AboutCase {
    const char* name;
    bool key;
    bool value;
    std::string stored;
    std::string first_line;
};

class AboutVersions : public AboutTest, public ::testing::WithParamInterface<AboutCase> {};

TEST_P(AboutVersions, FirstLine)
{
    const AboutCase& c = GetParam();
    if (!c.key)
        win32::Registry::stand_in_erase_key(product_key);
    else if (!c.value)
        win32::Registry::stand_in_erase_value(product_key, "Version");
    else
        win32::Registry::stand_in_set(product_key, "Version", c.stored);
    EXPECT_EQ(c.first_line + "\n\n" + OmbrixImpl::help_line, shown());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AboutVersions,
    ::testing::Values(AboutCase{"Plain", true, true, "1.2", "Ombrix V1.2"},
                      AboutCase{"TrailingBackslash", true, true, "1.2\\", "Ombrix V1.2"},
                      AboutCase{"TooLong", true, true, std::string(300, '9'), "Ombrix Vno key"},
                      AboutCase{"NoValue", true, false, "", "Ombrix Vno key"},
                      AboutCase{"NoKey", false, false, "", "Ombrix Vno key path"}),
    [](const ::testing::TestParamInfo<AboutCase>& info) { return info.param.name; });

// --- RunTests and its checks -----------------------------------------------------------

TEST_F(SolverTest, RunTestsIsSilentWhenEveryCheckPasses)
{
    EXPECT_NO_THROW(OmbrixImpl::run_tests());
    EXPECT_TRUE(excel().alerts.empty());
    EXPECT_EQ(0, excel().set_calls);
}

struct CheckCase {
    const char* name;
    bool range;
    const char* text;
    const char* expected;
    std::string message;  // "" when the check passes
};

class Checks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Checks, CompareThePrintedForm)
{
    const CheckCase& c = GetParam();
    std::string message;
    try {
        if (c.range)
            OmbrixImpl::checkrange(c.text, c.expected);
        else
            OmbrixImpl::checkcell(c.text, c.expected);
    } catch (const excel::ExcelException& e) {
        message = e.what();
    }
    EXPECT_EQ(c.message, message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Checks,
    ::testing::Values(
        CheckCase{"CellMatches", false, "R1C2", "$B$1", ""},
        CheckCase{"CellDiffers", false, "A2", "A1", "Test Failed:A2 !=A1"},
        CheckCase{"R1C1DiffersFromRelative", false, "R1C2", "B1", "Test Failed:$B$1 !=B1"},
        CheckCase{"NamesArePrinted", false, "Sheet2!$A$1", "$A$1",
                  "Test Failed:'Sheet2'!$A$1 !=$A$1"},
        CheckCase{"RangeMatches", true, "C3:A1", "A1:C3", ""},
        CheckCase{"RangeDiffers", true, "A1:C1", "A1:C2", "Test Failed:A1:C1 !=A1:C2"},
        CheckCase{"ParserErrorPassesThrough", true, "A1", "A1:A1",
                  "Reference is not a range but a single cell"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// --- Test: the block creeps one cell diagonally ----------------------------------------

class TestCommand : public SolverTest {
protected:
    // Fills the block the next Test reads with 1 to 9, row by row.
    static excel::RangeRef fill_next_block()
    {
        const excel::RangeRef block = OmbrixImpl::test_block();
        double v = 1.0;
        for (int y = block.first.y; y < block.end.y; ++y)
            for (int x = block.first.x; x < block.end.x; ++x)
                sheet().set(y, x, fake::Value::of(v++));
        return block;
    }

    static std::vector<double> numbers(const excel::RangeRef& block)
    {
        std::vector<double> out;
        for (int y = block.first.y; y < block.end.y; ++y)
            for (int x = block.first.x; x < block.end.x; ++x) {
                const fake::Value v = sheet().get(y, x);
                out.push_back(v.kind == fake::Value::number ? v.num : -1.0);
            }
        return out;
    }

    static excel::RangeRef moved(excel::RangeRef block)
    {
        block.shift(1, 1);
        return block;
    }
};

const std::vector<double> one_to_nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST_F(TestCommand, CopiesTheBlockOneCellDownAndRight)
{
    const excel::RangeRef block = fill_next_block();
    sheet().set(block.first.y + 3, block.first.x + 3, fake::Value::of(99.0));
    OmbrixImpl::test();
    EXPECT_EQ(moved(block), OmbrixImpl::test_block());
    EXPECT_EQ(one_to_nine, numbers(moved(block)));
    // Outside the overlap the source block is as it was.
    EXPECT_EQ(1.0, sheet().get(block.first.y, block.first.x).num);
    EXPECT_EQ(3.0, sheet().get(block.first.y, block.first.x + 2).num);
    EXPECT_EQ(7.0, sheet().get(block.first.y + 2, block.first.x).num);
    EXPECT_EQ(1, excel().set_calls);
}

TEST_F(TestCommand, SecondCallCopiesTheMovedBlock)
{
    const excel::RangeRef block = fill_next_block();
    OmbrixImpl::test();
    OmbrixImpl::test();
    EXPECT_EQ(moved(moved(block)), OmbrixImpl::test_block());
    EXPECT_EQ(one_to_nine, numbers(moved(moved(block))));
}

TEST_F(TestCommand, EmptyCellFailsAndTheBlockStays)
{
    const excel::RangeRef block = fill_next_block();
    sheet().set(block.first.y + 1, block.first.x + 1, fake::Value());
    try {
        OmbrixImpl::test();
        FAIL() << "an empty cell was copied";
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(std::string("range element not a double"), e.what());
    }
    EXPECT_EQ(block, OmbrixImpl::test_block());
    EXPECT_EQ(0, excel().set_calls);
}

TEST_F(TestCommand, FailedWriteLeavesTheBlockMoved)
{
    const excel::RangeRef block = fill_next_block();
    excel().failing_set = 1;
    try {
        OmbrixImpl::test();
        FAIL() << "the refused write went unnoticed";
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(std::string("Failed to set range"), e.what());
    }
    EXPECT_EQ(moved(block), OmbrixImpl::test_block());
}

// --- Vector references through the solver's members ------------------------------------

TEST_F(SolverTest, VectorMembersKeepTheirMessages)
{
    excel::RangeRef range;
    OmbrixImpl::as_vector("B2", "variable", range);
    EXPECT_EQ(excel::RangeRef("B2:B2"), range);
    try {
        OmbrixImpl::as_vector("Sheet1!A1:Sheet2!B2", "variable", range);
        ADD_FAILURE() << "a second corner on another sheet was accepted";
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(std::string("Expected variable vector"), e.what());
    }
    EXPECT_EQ((std::vector<double>{-2.0, -2.0, -2.0}),
              OmbrixImpl::get_constant_vector("A2:C2", "Min", std::vector<double>(3)));
}

} // namespace
} // namespace solver_test
