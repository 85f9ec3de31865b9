// The call layer: the temporary pool, the temporary values, return-code translation,
// the error texts and the alert.

#include "FakeExcel.hpp"

#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/framewrk/Framework.hpp"

#include <gtest/gtest.h>

#include <string>

using bridge_fake::fake;

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
    EXPECT_EQ(TempMemoryOffset(), 8);
    EXPECT_EQ(GetTempMemory(1024 - 8 + 1), nullptr);
    EXPECT_EQ(TempMemoryOffset(), 8);  // no reset, no wrap-around
    EXPECT_EQ(GetTempMemory(1024 - 8), start + 8);

    FreeAllTempMemory();
    EXPECT_EQ(GetTempMemory(1024), start);
    FreeAllTempMemory();
    EXPECT_EQ(GetTempMemory(1025), nullptr);
    EXPECT_EQ(TempMemoryOffset(), 0);
}

TEST_F(CallLayer, PoolHoldsAsManyValuesAsFitAndEveryCallEmptiesIt)
{
    const std::size_t fit = temp_memory_size / sizeof(XLOPER);
    LPXLOPER first = TempNum(0.0);
    ASSERT_NE(first, nullptr);
    for (std::size_t i = 1; i < fit; ++i) {
        LPXLOPER x = TempNum(double(i));
        ASSERT_EQ(x, first + i);
    }
    EXPECT_EQ(TempNum(1.0), nullptr);
    EXPECT_EQ(TempInt(1), nullptr);
    EXPECT_EQ(first[fit - 1].val.num, double(fit - 1));  // earlier values intact

    fake().forced[xlfOr] = xlretFailed;  // the pool is emptied whatever the outcome
    EXPECT_EQ(Excel(xlfOr, nullptr, 0), xlretFailed);
    EXPECT_EQ(TempMemoryOffset(), 0);
    EXPECT_EQ(TempNum(2.0), first);
}

TEST_F(CallLayer, ValueRecordsAfterAnOddRawBlockAreAligned)
{
    ASSERT_NE(GetTempMemory(3), nullptr);
    LPXLOPER x = TempNum(1.5);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(x) % alignof(XLOPER), 0u);
    EXPECT_EQ(x->val.num, 1.5);
}

TEST_F(CallLayer, TemporaryValuesCarryTheirTypesAndValues)
{
    EXPECT_EQ(TempNum(2.5)->xltype, xltypeNum);
    LPXLOPER b = TempBool(7);
    EXPECT_EQ(b->xltype, xltypeBool);
    EXPECT_EQ(b->val.xbool, 1);
    EXPECT_EQ(TempBool(0)->val.xbool, 0);
    LPXLOPER i = TempInt(-3);
    EXPECT_EQ(i->xltype, xltypeInt);
    EXPECT_EQ(i->val.w, -3);
    LPXLOPER e = TempErr(42);
    EXPECT_EQ(e->xltype, xltypeErr);
    EXPECT_EQ(e->val.err, 42);
    EXPECT_EQ(TempMissing()->xltype, xltypeMissing);
}

TEST_F(CallLayer, TempStrWritesTheLengthIntoTheCallersBuffer)
{
    char text[] = " abcd";
    LPXLOPER s = TempStr(text);
    ASSERT_NE(s, nullptr);
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
                          {TempActiveColumn(2), 0, 16383, 2, 2},
                          {TempActiveCell(7, 3), 7, 7, 3, 3},
                          {TempActiveRef(1, 4, 2, 9), 1, 4, 2, 9}};
    for (const Case& c : cases) {
        ASSERT_NE(c.x, nullptr);
        EXPECT_EQ(c.x->xltype, xltypeRef);
        EXPECT_EQ(c.x->val.mref.idSheet, 2u);
        const XLMREF* m = c.x->val.mref.lpmref;
        EXPECT_EQ(m->count, 1);
        EXPECT_EQ(m->reftbl[0].rwFirst, c.r0);
        EXPECT_EQ(m->reftbl[0].rwLast, c.r1);
        EXPECT_EQ(m->reftbl[0].colFirst, c.c0);
        EXPECT_EQ(m->reftbl[0].colLast, c.c1);
    }
    // The sheet id was asked for directly: all four values are still in the pool.
    EXPECT_EQ(fake().count(xlSheetId), 4);
    EXPECT_EQ(TempMemoryOffset(), int(4 * (sizeof(XLOPER) + sizeof(XLMREF))));
}

TEST_F(CallLayer, ActiveReferenceIsNullWhenTheSheetIdIsRefusedOrThePoolFull)
{
    fake().forced[xlSheetId] = xlretFailed;
    EXPECT_EQ(TempActiveCell(1, 1), nullptr);
    fake().forced.clear();
    FreeAllTempMemory();
    ASSERT_NE(GetTempMemory(temp_memory_size - sizeof(XLOPER)), nullptr);
    EXPECT_EQ(TempActiveCell(1, 1), nullptr);  // the record fits, its XLMREF does not
    EXPECT_EQ(fake().count(xlSheetId), 1);
}

TEST_F(CallLayer, ExcelPassesItsArgumentsInOrder)
{
    XLOPER result;
    Excel(xlfOr, &result, 3, TempNum(1), TempInt(2), TempMissing());
    ASSERT_EQ(fake().calls.size(), 1u);
    const bridge_fake::Call& c = fake().calls[0];
    EXPECT_EQ(c.function, xlfOr);
    ASSERT_EQ(c.arg_types.size(), 3u);
    EXPECT_EQ(c.arg_types[0], xltypeNum);
    EXPECT_EQ(c.arg_types[1], xltypeInt);
    EXPECT_EQ(c.arg_types[2], xltypeMissing);

    EXPECT_EQ(Excel(xlfOr, nullptr, max_excel_args + 1), xlretInvCount);
    EXPECT_EQ(fake().calls.size(), 1u);
}

TEST(ReturnCodes, TranslateToErrorsAndExceptions)
{
    EXPECT_NO_THROW(excel::throw_on_bad_ret(0));
    for (std::uint16_t code : {1, 16, 64}) {
        try {
            excel::throw_on_bad_ret(code);
            ADD_FAILURE() << code;
        } catch (const excel::Error& e) {
            EXPECT_STREQ(e.what(), "Error: Value") << code;
        }
    }
    for (std::uint16_t code : {2, 4, 8, 32, 128}) {
        try {
            excel::throw_on_bad_ret(code);
            ADD_FAILURE() << code;
        } catch (const excel::ExcelException& e) {
            EXPECT_STREQ(e.what(), "Bad return value") << code;
        }
    }
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
    EXPECT_EQ(excel::ErrorUNCALC, excel::ErrorVALUE);
}

TEST_F(CallLayer, AlertSendsTheTextAndTypeAndEmptiesThePool)
{
    TempNum(1.0);
    excel::display_dialog_box("Bad seed", 3);
    EXPECT_EQ(fake().alert, "Bad seed");
    EXPECT_EQ(fake().alert_type, 3);
    EXPECT_EQ(TempMemoryOffset(), 0);
}

TEST_F(CallLayer, AlertCutsALongTextTo255Characters)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += char('a' + i % 26);
    excel::display_dialog_box(text.c_str(), 2);
    EXPECT_EQ(fake().alert, text.substr(0, 255));
    excel::display_dialog_box(text.substr(0, 255).c_str(), 2);
    EXPECT_EQ(fake().alert, text.substr(0, 255));
    excel::display_dialog_box("", 2);
    EXPECT_EQ(fake().alert, "");
}

} // namespace
