// The value wrappers, their pooled allocators, the free-after-return protocol and the
// caller names.

#include "FakeExcel.hpp"

#include "excel/Array.hpp"
#include "excel/AutoFree.hpp"
#include "excel/Caller.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/String.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using bridge_fake::fake;
using bridge_fake::message_of;
using excel::Allocator;

namespace {

// 's'mall pool, 'l'arge pool or 'h'eap.
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
    return pool.in_use[(static_cast<const char*>(p) - pool.base) / pool.block_size];
}

class Values : public ::testing::Test {
protected:
    void SetUp() override { bridge_fake::reset(); }
    void TearDown() override
    {
        EXPECT_TRUE(fake().allocated.empty()) << "spreadsheet values not freed";
        EXPECT_EQ(blocks(excel::String::allocator) + blocks(excel::Array::allocator) +
                      blocks(excel::ArrayDouble::allocator), 0u) << "pooled blocks not released";
    }
};

TEST_F(Values, StringsTakeTheBlockTheirLengthNeeds)
{
    Allocator& a = excel::String::allocator;
    struct Case { std::size_t chars; char pool; std::uint32_t bytes; };
    for (const Case& c : {Case{0, 's', 2}, Case{30, 's', 32}, Case{31, 'l', 33},
                          Case{254, 'l', 256}, Case{255, 'h', 0}}) {
        const double heap = a.heap_allocations;
        excel::String s(std::string(c.chars, 'q').c_str());
        EXPECT_EQ(origin(a, s.val.str), c.pool) << c.chars;
        EXPECT_EQ(c.pool == 'h' ? a.heap_allocations - heap : recorded_bytes(a, s.val.str),
                  c.pool == 'h' ? 1 : c.bytes) << c.chars;
        EXPECT_EQ(s.c_str(), std::string(c.chars, 'q'));
    }
    EXPECT_EQ(message_of<excel::ExcelException>([] { excel::String(std::string(256, 'q').c_str()); }),
              "String overrun");
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
    strings[5].reset();
    strings[2].reset();
    strings[16].reset();
    EXPECT_EQ(a.heap_releases, heap_releases + 1);
    EXPECT_EQ(excel::String("again").val.str, third);
}

TEST_F(Values, StringAssignmentAndConversion)
{
    excel::String s;
    EXPECT_EQ(s.val.str, excel::String::blank);
    s = "first";
    EXPECT_EQ(message_of<excel::ExcelException>([&] { s = std::string(300, 'x').c_str(); }),
              "String overrun");
    EXPECT_STREQ(s.c_str(), "first");

    char counted[] = "\x03" "abc";
    XLOPER x;
    x.xltype = xltypeStr;
    x.val.str = counted;
    excel::String copy(&x);
    EXPECT_NE(copy.val.str, counted);
    EXPECT_STREQ(copy.c_str(), "abc");
    XLOPER deep = excel::String::make_deep_copy(x);  // no NUL: length byte and characters
    EXPECT_EQ(recorded_bytes(excel::String::allocator, deep.val.str), 4u);
    excel::String::allocator.deallocate(deep.val.str);

    x.xltype = xltypeNum;
    x.val.num = 2.5;
    EXPECT_STREQ(excel::String(&x).c_str(), "2.5");  // the spreadsheet's copy given back
    for (std::uint16_t type : {xltypeErr, xltypeInt, xltypeMissing}) {
        x.xltype = type;
        EXPECT_EQ(message_of<excel::Error>([&] { excel::String t(&x); }), "Error: Value");
    }
}

TEST_F(Values, CharBufferHoldsAtMost255Characters)
{
    excel::CharBuffer b;
    for (int i = 0; i < 255; ++i)
        b.append(char('a' + i % 26));
    EXPECT_EQ(message_of<excel::ExcelException>([&] { b.append('z'); }), "CharBuffer overrun");
    EXPECT_EQ(b.length(), 255u);
    EXPECT_EQ(std::string(b.c_str()).size(), 255u);

    excel::CharBuffer c;
    c.append("abcde");
    excel::CharBuffer copy(c);
    EXPECT_EQ(copy.value.val.str, copy.buffer);
    EXPECT_STREQ(copy.c_str(), "abcde");
}

TEST_F(Values, ArraysTakeTheBlockTheirSizeNeedsAndEmptyOnesAreRefused)
{
    Allocator& a = excel::Array::allocator;
    for (auto shape : {std::make_pair(2u, 1u), std::make_pair(3u, 1u), std::make_pair(4u, 4u),
                       std::make_pair(17u, 1u)}) {
        const std::size_t bytes = shape.first * shape.second * sizeof(XLOPER);
        excel::Array array(shape.first, shape.second);
        const XLOPER* e = array.value.val.array.lparray;
        EXPECT_EQ(origin(a, e), bytes <= 32 ? 's' : bytes <= 256 ? 'l' : 'h') << bytes;
        if (bytes <= 256) {
            EXPECT_EQ(recorded_bytes(a, e), bytes);
        }
        for (const XLOPER& x : array)
            EXPECT_EQ(x.xltype, xltypeNil);
    }
    for (auto shape : {std::make_pair(0u, 3u), std::make_pair(3u, 0u)})
        EXPECT_EQ(message_of<excel::ExcelException>([&] { excel::Array(shape.first, shape.second); }),
                  "An array needs at least one row and one column");
}

TEST_F(Values, ArrayDoubleConvertsNumbersAndEmptyCells)
{
    fake().put(0, 0, 1);
    fake().put(0, 2, 3);
    XLOPER ref;
    ref.xltype = xltypeSRef;
    ref.val.sref.ref = XLREF{0, 0, 0, 2};
    {
        excel::ArrayDouble a(&ref);
        EXPECT_EQ(std::vector<double>(a.begin_doubles(), a.end_doubles()),
                  (std::vector<double>{1.0, 0.0, 3.0}));
    }
    fake().put(0, 1, 7, xltypeErr);
    EXPECT_EQ(message_of<excel::Error>([&] { excel::ArrayDouble a(&ref); }), "Error: Div/0");
    fake().put_str(0, 1, "x");
    EXPECT_EQ(message_of<excel::Error>([&] { excel::ArrayDouble a(&ref); }), "Error: Value");
    ref.xltype = xltypeNum;
    EXPECT_EQ(message_of<excel::Error>([&] { excel::ArrayDouble a(&ref); }), "Error: Value");
}

TEST_F(Values, AutoFreeReleasesOnlyMarkedValues)
{
    XLOPER s = excel::String::make_deep_copy("returned");
    excel::auto_free(&s);
    EXPECT_EQ(blocks(excel::String::allocator), 1u);
    s.xltype |= xlbitDLLFree;
    excel::auto_free(&s);
    EXPECT_EQ(blocks(excel::String::allocator), 0u);

    // A number and a pooled string, as a worksheet function would return them.
    XLOPER array;
    array.xltype = xltypeMulti | xlbitDLLFree;
    array.val.array.rows = 1;
    array.val.array.columns = 2;
    array.val.array.lparray =
        static_cast<XLOPER*>(excel::Array::allocator.allocate(2 * sizeof(XLOPER)));
    array.val.array.lparray[0].xltype = xltypeNum;
    array.val.array.lparray[1] = excel::String::make_deep_copy("s");
    excel::auto_free(&array);
    // TearDown checks that both blocks went back.
}

TEST_F(Values, CallerNames)
{
    const std::pair<unsigned, const char*> letters[] = {
        {0, "A"}, {25, "Z"}, {26, "AA"}, {52, "BA"}, {255, "IV"}};
    for (const auto& l : letters)
        EXPECT_EQ(excel::column_letters(l.first), l.second);

    EXPECT_EQ(message_of<excel::ExcelException>([] { excel::cellref(); }), "The caller is not a cell");
    fake().caller.xltype = xltypeSRef;
    fake().caller.val.sref.ref = XLREF{9, 9, 27, 27};
    fake().active = 2;
    EXPECT_EQ(excel::cellfullref(), "[Book1]Sheet2!AB10");
}

} // namespace
