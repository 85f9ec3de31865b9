#include "Workbook.hpp"

#include "Message.hpp"

#include "excel/ExcelException.hpp"
#include "excel/RangeRef.hpp"
#include "win32/ProductVersion.hpp"
#include "win32/Registry.hpp"

namespace solver_test {
namespace {

TEST_F(Workbook, AboutShowsTheInstalledVersion) {
    const char* const key = "Software\\Quenmark\\Ombrix";
    const std::string help = std::string("\n\n") + OmbrixImpl::help_line;
    struct Case {
        std::function<void()> registry;
        std::string first_line;
    };
    const std::vector<Case> cases = {
        {[] {}, std::string("Ombrix V") + OMBRIX_PRODUCT_VERSION},
        {[&] { win32::Registry::stand_in_set(key, "Version", "1.2"); }, "Ombrix V1.2"},
        {[&] { win32::Registry::stand_in_set(key, "Version", "1.2\\"); }, "Ombrix V1.2"},
        {[&] { win32::Registry::stand_in_set(key, "Version", std::string(256, '9')); }, "Ombrix Vno key"},
        {[&] { win32::Registry::stand_in_erase_value(key, "Version"); }, "Ombrix Vno key"},
        {[&] { win32::Registry::stand_in_erase_key(key); }, "Ombrix Vno key path"}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        cases[i].registry();
        impl.about();
        win32::Registry::stand_in_reset();
        ASSERT_EQ(i + 1, host->alerts().size());
        EXPECT_EQ(cases[i].first_line + help, host->alerts()[i].text);
        EXPECT_EQ(2, host->alerts()[i].type); // information, not an error
    }
}

TEST(Checks, ReportThePrintedFormAgainstTheExpectedOne) {
    struct Case {
        bool range;
        const char* text;
        const char* expected;
        std::string message; // "" when the check passes
    };
    for (const Case& c : {Case{false, "R1C2", "$B$1", ""}, Case{false, "A2", "A1", "Test Failed:A2 !=A1"},
                          Case{false, "R1C2", "B1", "Test Failed:$B$1 !=B1"},
                          Case{false, "Sheet2!$A$1", "$A$1", "Test Failed:'Sheet2'!$A$1 !=$A$1"},
                          Case{true, "C3:A1", "A1:C3", ""}, Case{true, "A1:C1", "A1:C2", "Test Failed:A1:C1 !=A1:C2"},
                          Case{true, "A1", "A1:A1", "Reference is not a range but a single cell"}}) {
        std::string message = message_of(
            [&] { c.range ? OmbrixImpl::checkrange(c.text, c.expected) : OmbrixImpl::checkcell(c.text, c.expected); });
        EXPECT_EQ(c.message.empty() ? "<no exception>" : c.message, message) << c.text;
    }
}

// Test copies the block it reads one cell down and right and moves along with it; the
// block outlives a test, so each test starts from wherever the last one left it.
class TestCommand : public Workbook {
protected:
    static excel::RangeRef moved(excel::RangeRef block, int steps = 1) {
        block.shift(steps, steps);
        return block;
    }
    // Writes 1 to 9 row by row into the block.
    void fill(const excel::RangeRef& block) {
        for (int i = 0; i < 9; ++i)
            book.set_value({sheet, block.first.y + i / 3, block.first.x + i % 3}, Value::number(i + 1));
    }
    std::vector<double> read(const excel::RangeRef& block) const {
        std::vector<double> out;
        for (int i = 0; i < 9; ++i)
            out.push_back(book.value({sheet, block.first.y + i / 3, block.first.x + i % 3}).as_number());
        return out;
    }
};

TEST_F(TestCommand, CopiesTheBlockDiagonallyAndCreepsUntilACellIsEmpty) {
    const excel::RangeRef block = OmbrixImpl::test_block();
    fill(block);
    OmbrixImpl::test();
    const std::vector<double> one_to_nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(one_to_nine, read(moved(block)));
    EXPECT_EQ(moved(block), OmbrixImpl::test_block());
    // Outside the overlap the source block is as it was.
    EXPECT_EQ(1.0, book.value({sheet, block.first.y, block.first.x}).as_number());
    EXPECT_EQ(3.0, book.value({sheet, block.first.y, block.first.x + 2}).as_number());
    OmbrixImpl::test();
    EXPECT_EQ(one_to_nine, read(moved(block, 2)));
    EXPECT_EQ(moved(block, 2), OmbrixImpl::test_block());
    // An empty cell fails the copy and the block stays where it is.
    const excel::RangeRef last = OmbrixImpl::test_block();
    fill(last);
    book.clear({sheet, last.first.y + 1, last.first.x + 1});
    EXPECT_MESSAGE(OmbrixImpl::test(), "range element not a double");
    EXPECT_EQ(last, OmbrixImpl::test_block());
    EXPECT_TRUE(book.value({sheet, last.first.y + 3, last.first.x + 3}).is_empty());
}

TEST_F(Workbook, VectorMembersKeepTheirMessages) {
    excel::RangeRef range;
    OmbrixImpl::as_vector("B2", "variable", range);
    EXPECT_EQ(excel::RangeRef("B2:B2"), range);
    EXPECT_MESSAGE(OmbrixImpl::as_vector("Sheet1!A1:Sheet2!B2", "variable", range), "Expected variable vector");
    EXPECT_EQ((std::vector<double>{-2.0, -2.0, -2.0}),
              OmbrixImpl::get_constant_vector("A2:C2", "Min", std::vector<double>(3)));
}

} // namespace
} // namespace solver_test
