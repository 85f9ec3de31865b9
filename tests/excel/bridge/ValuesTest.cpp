// The value wrappers, their pooled allocators, the free-after-return protocol and the
// caller names.

#include "FakeExcel.hpp"

#include "excel/Array.hpp"
#include "excel/AutoFree.hpp"
#include "excel/Caller.hpp"
#include "excel/Double.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/String.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using bridge_fake::fake;
using excel::Allocator;

namespace {

// Where a pointer came from: 's'mall pool, 'l'arge pool or 'h'eap.
char origin(const Allocator& a, const void* p)
{
    return a.small.owns(p) ? 's' : a.large.owns(p) ? 'l' : 'h';
}

std::uint32_t blocks(const Allocator& a)
{
    return a.small.blocks_in_use() + a.large.blocks_in_use();
}

std::uint32_t recorded_bytes(const Allocator& a, const void* p)
{
    const excel::BlockAllocator& pool = a.small.owns(p) ? a.small : a.large;
    const std::size_t i = (static_cast<const char*>(p) - pool.base) / pool.block_size;
    return pool.in_use[i];
}

template <class F>
void expect_excel_exception(F f, const std::string& message)
{
    try {
        f();
        ADD_FAILURE() << "no exception, expected " << message;
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

template <class F>
void expect_error(F f, const char* text)
{
    try {
        f();
        ADD_FAILURE() << "no excel::Error, expected " << text;
    } catch (const excel::Error& e) {
        EXPECT_STREQ(e.what(), text);
    }
}

class Values : public ::testing::Test {
protected:
    void SetUp() override { bridge_fake::reset(); }
    void TearDown() override { EXPECT_TRUE(fake().allocated.empty()) << "values not freed"; }
};

TEST_F(Values, StringsTakeTheBlockTheirLengthNeeds)
{
    Allocator& a = excel::String::allocator;
    struct Case { std::size_t chars; char pool; std::uint32_t bytes; };
    const Case cases[] = {{0, 's', 2}, {30, 's', 32}, {31, 'l', 33}, {254, 'l', 256}, {255, 'h', 0}};
    for (const Case& c : cases) {
        const double heap_before = a.heap_allocations;
        excel::String s(std::string(c.chars, 'q').c_str());
        EXPECT_EQ(origin(a, s.val.str), c.pool) << c.chars;
        if (c.pool != 'h') {
            EXPECT_EQ(recorded_bytes(a, s.val.str), c.bytes) << c.chars;
        } else {
            EXPECT_EQ(a.heap_allocations, heap_before + 1);
        }
        EXPECT_EQ(s.length(), c.chars);
        EXPECT_EQ(s.c_str(), std::string(c.chars, 'q'));
    }
    expect_excel_exception([] { excel::String s(std::string(256, 'q').c_str()); }, "String overrun");
    EXPECT_EQ(blocks(a), 0u);
}

TEST_F(Values, FullPoolsFallThroughAndFreedBlocksAreReusedLowestFirst)
{
    Allocator& a = excel::String::allocator;
    std::vector<std::unique_ptr<excel::String> > strings;
    for (int i = 0; i < 17; ++i)
        strings.emplace_back(new excel::String("short"));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(strings[i]->val.str, a.small.base + 32 * i);
    EXPECT_EQ(origin(a, strings[8]->val.str), 'l');
    EXPECT_EQ(origin(a, strings[16]->val.str), 'h');

    char* third = strings[2]->val.str;
    const double heap_releases = a.heap_releases;
    strings[2].reset();
    strings[5].reset();
    strings[16].reset();
    EXPECT_EQ(a.heap_releases, heap_releases + 1);
    excel::String again("again");
    EXPECT_EQ(again.val.str, third);
    strings.clear();
}

TEST_F(Values, AssignmentReplacesTheTextOrKeepsItOnOverrun)
{
    excel::String s;
    EXPECT_EQ(s.val.str, excel::String::blank);
    s = "first";
    EXPECT_STREQ(s.c_str(), "first");
    expect_excel_exception([&] { s = std::string(300, 'x').c_str(); }, "String overrun");
    EXPECT_STREQ(s.c_str(), "first");
    EXPECT_EQ(s.xltype, xltypeStr);
}

TEST_F(Values, StringsFromValues)
{
    char counted[] = "\x03" "abc";
    XLOPER str;
    str.xltype = xltypeStr;
    str.val.str = counted;
    excel::String copy(&str);
    EXPECT_NE(copy.val.str, counted);
    EXPECT_STREQ(copy.c_str(), "abc");

    XLOPER num;
    num.xltype = xltypeNum;
    num.val.num = 2.5;
    excel::String converted(&num);
    EXPECT_STREQ(converted.c_str(), "2.5");
    EXPECT_EQ(fake().count(xlFree), 1);  // the spreadsheet's copy given back

    for (std::uint16_t type : {xltypeErr, xltypeInt, xltypeMissing}) {
        XLOPER x;
        x.xltype = type;
        x.val.w = 0;
        expect_error([&] { excel::String s(&x); }, "Error: Value");
    }
    fake().forced[xlCoerce] = xlretFailed;
    expect_excel_exception([&] { excel::String s(&num); }, "Bad return value");
}

TEST_F(Values, DeepCopiesOwnFreshStorage)
{
    XLOPER a = excel::String::make_deep_copy("hello");
    XLOPER b = excel::String::make_deep_copy(a);
    EXPECT_NE(a.val.str, b.val.str);
    EXPECT_EQ(std::string(b.val.str + 1, 5), "hello");
    EXPECT_EQ(b.val.str[0], 5);
    EXPECT_EQ(recorded_bytes(excel::String::allocator, b.val.str), 6u);  // no NUL
    excel::String::allocator.deallocate(a.val.str);
    excel::String::allocator.deallocate(b.val.str);
}

TEST_F(Values, DoubleFromAValueIsCoerced)
{
    fake().put(0, 0, 4.25);
    XLOPER ref;
    ref.xltype = xltypeSRef;
    ref.val.sref.count = 1;
    ref.val.sref.ref = XLREF{0, 0, 0, 0};
    EXPECT_EQ(excel::Double(&ref).get(), 4.25);
    fake().put_str(0, 0, "text");
    expect_excel_exception([&] { excel::Double d(&ref); }, "Bad return value");
}

TEST_F(Values, CharBufferHoldsAtMost255Characters)
{
    excel::CharBuffer b;
    for (int i = 0; i < 255; ++i)
        b.append(char('a' + i % 26));
    expect_excel_exception([&] { b.append('z'); }, "CharBuffer overrun");
    EXPECT_EQ(b.length(), 255u);
    EXPECT_EQ(std::string(b.c_str()).size(), 255u);

    excel::CharBuffer c;
    c.append("abc");
    expect_excel_exception([&] { c.append(std::string(253, 'x').c_str()); }, "CharBuffer overrun");
    EXPECT_STREQ(c.c_str(), "abc");
    c.append("de");
    excel::CharBuffer copy(c);
    EXPECT_EQ(copy.value.val.str, copy.buffer);
    EXPECT_STREQ(copy.c_str(), "abcde");
    EXPECT_EQ(copy.value.val.str[0], 5);
}

TEST_F(Values, StringArrayStartsBlank)
{
    excel::StringArray a(3);
    EXPECT_EQ(a.size(), 3u);
    a[1] = "middle";
    EXPECT_EQ(a[0].val.str, excel::String::blank);
    EXPECT_STREQ(a[1].c_str(), "middle");
}

TEST_F(Values, ArraysTakeTheBlockTheirSizeNeeds)
{
    Allocator& a = excel::Array::allocator;
    const std::size_t r = sizeof(XLOPER);
    struct Case { unsigned rows, columns; };
    for (const Case& c : {Case{2, 1}, Case{3, 1}, Case{4, 4}, Case{17, 1}, Case{1, 1}}) {
        const std::size_t bytes = c.rows * c.columns * r;
        const char expected = bytes <= 32 ? 's' : bytes <= 256 ? 'l' : 'h';
        excel::Array array(c.rows, c.columns);
        EXPECT_EQ(origin(a, array.value.val.array.lparray), expected) << c.rows << "x" << c.columns;
        if (expected != 'h') {
            EXPECT_EQ(recorded_bytes(a, array.value.val.array.lparray), bytes);
        }
        EXPECT_EQ(array.size(), std::size_t(c.rows) * c.columns);
        for (const XLOPER& e : array)
            EXPECT_EQ(e.xltype, xltypeNil);
    }
    EXPECT_EQ(blocks(a), 0u);
}

TEST_F(Values, EmptyArraysAreRefused)
{
    for (auto shape : {std::make_pair(0u, 3u), std::make_pair(3u, 0u), std::make_pair(0u, 0u)})
        expect_excel_exception([&] { excel::Array a(shape.first, shape.second); },
                               "An array needs at least one row and one column");
}

TEST_F(Values, ArrayDoubleConvertsNumbersAndEmptyCells)
{
    fake().put(0, 0, 1);
    fake().put(0, 2, 3);
    XLOPER ref;
    ref.xltype = xltypeSRef;
    ref.val.sref.count = 1;
    ref.val.sref.ref = XLREF{0, 0, 0, 2};
    {
        excel::ArrayDouble a(&ref);
        EXPECT_EQ(std::vector<double>(a.begin_doubles(), a.end_doubles()),
                  (std::vector<double>{1.0, 0.0, 3.0}));
    }
    fake().put_err(0, 1, 7);
    expect_error([&] { excel::ArrayDouble a(&ref); }, "Error: Div/0");
    fake().put_str(0, 1, "x");
    expect_error([&] { excel::ArrayDouble a(&ref); }, "Error: Value");
    XLOPER num;
    num.xltype = xltypeNum;
    expect_error([&] { excel::ArrayDouble a(&num); }, "Error: Value");
    EXPECT_EQ(blocks(excel::ArrayDouble::allocator), 0u);
}

TEST_F(Values, AutoFreeReleasesOnlyMarkedValues)
{
    XLOPER s = excel::String::make_deep_copy("returned");
    excel::auto_free(&s);  // not marked: left alone
    EXPECT_EQ(blocks(excel::String::allocator), 1u);
    s.xltype |= xlbitDLLFree;
    excel::auto_free(&s);
    EXPECT_EQ(blocks(excel::String::allocator), 0u);

    // An array of a number and a pooled string, as a worksheet function would return it.
    XLOPER returned;
    returned.xltype = xltypeMulti | xlbitDLLFree;
    returned.val.array.rows = 1;
    returned.val.array.columns = 2;
    returned.val.array.lparray =
        static_cast<XLOPER*>(excel::Array::allocator.allocate(2 * sizeof(XLOPER)));
    returned.val.array.lparray[0].xltype = xltypeNum;
    returned.val.array.lparray[1] = excel::String::make_deep_copy("s");
    returned.val.array.lparray[1].xltype |= xlbitDLLFree;
    EXPECT_EQ(blocks(excel::Array::allocator), 1u);
    EXPECT_EQ(blocks(excel::String::allocator), 1u);
    excel::auto_free(&returned);
    EXPECT_EQ(blocks(excel::String::allocator), 0u);
    EXPECT_EQ(blocks(excel::Array::allocator), 0u);
}

TEST_F(Values, CallerNames)
{
    const std::pair<unsigned, const char*> letters[] = {
        {0, "A"}, {25, "Z"}, {26, "AA"}, {27, "AB"}, {51, "AZ"}, {52, "BA"}, {255, "IV"}};
    for (const auto& l : letters)
        EXPECT_EQ(excel::column_letters(l.first), l.second);

    expect_excel_exception([] { excel::cellref(); }, "The caller is not a cell");
    fake().caller.xltype = xltypeSRef;
    fake().caller.val.sref.count = 1;
    fake().caller.val.sref.ref = XLREF{9, 9, 27, 27};
    fake().active = 2;
    EXPECT_EQ(excel::cellref(), "AB10");
    EXPECT_EQ(excel::sheetname(), "[Book1]Sheet2");
    EXPECT_EQ(excel::cellfullref(), "[Book1]Sheet2!AB10");
}

} // namespace
