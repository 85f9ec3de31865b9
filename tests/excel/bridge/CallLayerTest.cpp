// The call layer: the temporary pool, return-code translation, error texts, the alert.

#include "FakeExcel.hpp"

#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/framewrk/Framework.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using bridge_fake::fake;
using bridge_fake::message_of;

namespace {

class CallLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        bridge_fake::reset();
        FreeAllTempMemory();
    }
};

TEST_F(CallLayer, PoolHandsOutEvenOffsetsAndRefusesWithoutChange)
{
    char* start = GetTempMemory(1);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(TempMemoryOffset(), 2);
    EXPECT_EQ(GetTempMemory(1), start + 2);
    EXPECT_EQ(GetTempMemory(3), start + 4);
    EXPECT_EQ(GetTempMemory(1024 - 8 + 1), nullptr);
    EXPECT_EQ(TempMemoryOffset(), 8);  // no reset, no wrap-around
    EXPECT_EQ(GetTempMemory(1024 - 8), start + 8);
    FreeAllTempMemory();
    EXPECT_EQ(GetTempMemory(1025), nullptr);
    EXPECT_EQ(GetTempMemory(1024), start);

    // A value record after an odd raw block still lands on its alignment.
    FreeAllTempMemory();
    GetTempMemory(3);
    LPXLOPER x = TempNum(1.5);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(x) % alignof(XLOPER), 0u);
}

TEST_F(CallLayer, PoolHoldsAsManyValuesAsFitAndEveryCallEmptiesIt)
{
    const std::size_t fit = temp_memory_size / sizeof(XLOPER);
    LPXLOPER first = TempNum(0.0);
    for (std::size_t i = 1; i < fit; ++i)
        ASSERT_EQ(TempNum(double(i)), first + i);
    EXPECT_EQ(TempNum(1.0), nullptr);
    EXPECT_EQ(TempInt(1), nullptr);
    EXPECT_EQ(first[fit - 1].val.num, double(fit - 1));

    fake().forced[xlfOr] = xlretFailed;  // emptied whatever the outcome
    EXPECT_EQ(Excel(xlfOr, nullptr, 2, first, first + 1), xlretFailed);
    EXPECT_EQ(fake().calls.back().second, (std::vector<std::uint16_t>{xltypeNum, xltypeNum}));
    EXPECT_EQ(TempBool(5), first);
    EXPECT_EQ(first->val.xbool, 1);

    EXPECT_EQ(Excel(xlfOr, nullptr, max_excel_args + 1), xlretInvCount);
    EXPECT_EQ(fake().calls.size(), 1u);
}

TEST_F(CallLayer, TempStrWritesTheLengthIntoTheCallersBuffer)
{
    char text[] = " abcd";
    LPXLOPER s = TempStr(text);
    EXPECT_EQ(s->xltype, xltypeStr);
    EXPECT_EQ(s->val.str, text);
    EXPECT_EQ(text[0], 4);
    std::string big(" " + std::string(300, 'x'));
    EXPECT_EQ(static_cast<unsigned char>(TempStr(&big[0])->val.str[0]), 255);
}

TEST_F(CallLayer, ActiveReferencesDescribeTheirRectangleOnTheActiveSheet)
{
    fake().active = 2;
    struct Case { LPXLOPER x; unsigned r0, r1, c0, c1; };
    const Case cases[] = {{TempActiveRow(5), 5, 5, 0, 255},
                          {TempActiveColumn(2), 0, 16383, 2, 2}};
    for (const Case& c : cases) {
        ASSERT_NE(c.x, nullptr);
        EXPECT_EQ(c.x->xltype, xltypeRef);
        EXPECT_EQ(c.x->val.mref.idSheet, 2u);
        const XLREF& r = c.x->val.mref.lpmref->reftbl[0];
        EXPECT_EQ(c.x->val.mref.lpmref->count, 1);
        EXPECT_EQ(std::vector<unsigned>({r.rwFirst, r.rwLast, r.colFirst, r.colLast}),
                  std::vector<unsigned>({c.r0, c.r1, c.c0, c.c1}));
    }
    // The id was asked for directly, so the pool still holds both.
    EXPECT_EQ(TempMemoryOffset(), int(2 * (sizeof(XLOPER) + sizeof(XLMREF))));

    fake().forced[xlSheetId] = xlretFailed;
    EXPECT_EQ(TempActiveCell(1, 1), nullptr);
    fake().forced.clear();
    FreeAllTempMemory();
    GetTempMemory(temp_memory_size - sizeof(XLOPER));
    EXPECT_EQ(TempActiveCell(1, 1), nullptr);  // the record fits, its XLMREF does not
    EXPECT_EQ(fake().count(xlSheetId), 3);     // and the spreadsheet was not asked
}

TEST(ReturnCodes, TranslateToErrorsAndExceptions)
{
    EXPECT_NO_THROW(excel::throw_on_bad_ret(0));
    for (std::uint16_t code : {1, 16, 64})
        EXPECT_EQ(message_of<excel::Error>([=] { excel::throw_on_bad_ret(code); }), "Error: Value");
    for (std::uint16_t code : {2, 4, 8, 32, 128})
        EXPECT_EQ(message_of<excel::ExcelException>([=] { excel::throw_on_bad_ret(code); }),
                  "Bad return value");
}

TEST(ErrorTexts, OneTextPerCode)
{
    const std::pair<excel::Error, const char*> table[] = {
        {excel::ErrorNULL, "Error: Null"}, {excel::ErrorDIV0, "Error: Div/0"},
        {excel::ErrorVALUE, "Error: Value"}, {excel::ErrorREF, "Error: Ref"},
        {excel::ErrorNAME, "Error: Name"}, {excel::ErrorNUM, "Error: Num"},
        {excel::ErrorNA, "Error: N/A"}, {excel::ErrorUNCALC, "Error: Value"},
        {excel::Error(99), "Error: Unknown"}};
    for (const auto& row : table)
        EXPECT_STREQ(row.first.what(), row.second) << row.first.code();
}

TEST_F(CallLayer, AlertSendsTextAndTypeAndCutsALongTextTo255)
{
    TempNum(1.0);
    excel::display_dialog_box("Bad seed", 3);
    EXPECT_EQ(fake().alert, "Bad seed");
    EXPECT_EQ(fake().alert_type, 3);
    EXPECT_EQ(TempMemoryOffset(), 0);

    std::string text;
    for (int i = 0; i < 300; ++i)
        text += char('a' + i % 26);
    for (std::size_t n : {300, 256, 255, 0}) {
        excel::display_dialog_box(text.substr(0, n).c_str(), 2);
        EXPECT_EQ(fake().alert, text.substr(0, std::min<std::size_t>(n, 255))) << n;
    }
}

} // namespace
