// The add-in's memory at its edges: the call layer's temporary pool, the string and array
// pools with the heap behind them, the fixed character buffer, what xlAutoFree gives back,
// and the automation fallback's set-up and tear-down as the spreadsheet sees them.

#include "excel/Array.hpp"
#include "excel/AutoFree.hpp"
#include "excel/ExcelException.hpp"
#include "excel/String.hpp"
#include "excel/framewrk/Framework.hpp"
#include "excel/framewrk/xlauto.hpp"
#include "excel/framewrk/xlauto_internal.hpp"

#include "api/Host.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Where the blocks of an allocator are: in use in each pool, and heap arrays not yet freed.
struct PoolUse {
    std::uint32_t small, large;
    double heap;
    bool operator==(const PoolUse& o) const { return small == o.small && large == o.large && heap == o.heap; }
};

PoolUse use_of(const excel::Allocator& a) {
    return {a.small.blocks_in_use(), a.large.blocks_in_use(), a.heap_allocations - a.heap_releases};
}

// What one more allocation adds: to the small pool, the large one or the heap.
enum class Place { Small, Large, Heap, Refused };

PoolUse plus(PoolUse use, Place place, int count = 1) {
    if (place == Place::Small)
        use.small += std::uint32_t(count);
    if (place == Place::Large)
        use.large += std::uint32_t(count);
    if (place == Place::Heap)
        use.heap += count;
    return use;
}

class MemoryLayers : public ::testing::Test {
protected:
    MemoryLayers() : host(book), scope(host) {
        book.add_sheet("Sheet1");
        host.set_module_path("/addins/ombrix.so");
        FreeAllTempMemory();
    }
    host::engine::Workbook book;
    host::api::Host host;
    host::api::CurrentHost scope;
};

TEST_F(MemoryLayers, TemporaryPoolHandsOutEvenBlocksUpTo1024BytesUntilTheNextCall) {
    // Requests in turn on an empty pool: the offset each is given (-1: none), then the
    // pool's offset.
    const struct {
        std::vector<std::size_t> requests;
        std::vector<int> given;
        int offset;
    } cases[] = {
        {{1024}, {0}, 1024},           {{1025}, {-1}, 0},           {{1, 1}, {0, 2}, 4}, {{1023, 1}, {0, -1}, 1024},
        {{1000, 24}, {0, 1000}, 1024}, {{1000, 25}, {0, -1}, 1000},
    };
    for (const auto& c : cases) {
        FreeAllTempMemory();
        const char* start = GetTempMemory(0);
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            const char* block = GetTempMemory(c.requests[i]);
            EXPECT_EQ(block == nullptr ? -1 : int(block - start), c.given[i]) << "request " << i;
        }
        EXPECT_EQ(TempMemoryOffset(), c.offset);
    }

    // Value records fill it to the last whole one; any call into the spreadsheet empties it.
    FreeAllTempMemory();
    const std::size_t fit = temp_memory_size / sizeof(XLOPER);
    LPXLOPER first = TempNum(0);
    for (std::size_t i = 1; i < fit; ++i)
        ASSERT_NE(TempNum(double(i)), nullptr) << i;
    EXPECT_EQ(TempNum(1), nullptr);
    EXPECT_EQ(TempStr(nullptr), nullptr);
    XLOPER name;
    Excel(xlGetName, &name, 0);
    Excel(xlFree, nullptr, 1, &name);
    EXPECT_EQ(TempMemoryOffset(), 0);
    EXPECT_EQ(TempNum(2), first);
}

TEST_F(MemoryLayers, StringsTakeTheSmallestPoolTheirTextFitsThenTheHeap) {
    const struct {
        std::size_t length;
        Place place;
    } cases[] = {
        {0, Place::Small},   {30, Place::Small}, {31, Place::Large},
        {254, Place::Large}, {255, Place::Heap}, {256, Place::Refused},
    };
    for (const auto& c : cases) {
        const PoolUse before = use_of(excel::String::allocator);
        try {
            excel::String s(std::string(c.length, 'x').c_str());
            EXPECT_NE(c.place, Place::Refused) << c.length;
            EXPECT_EQ(s.length(), c.length);
            EXPECT_TRUE(use_of(excel::String::allocator) == plus(before, c.place)) << c.length;
        } catch (const excel::ExcelException& e) {
            EXPECT_EQ(c.place, Place::Refused) << c.length;
            EXPECT_STREQ(e.what(), "String overrun");
        }
        EXPECT_TRUE(use_of(excel::String::allocator) == before) << c.length << " not given back";
    }
}

TEST_F(MemoryLayers, TheNinthShortStringGoesToTheLargePoolTheSeventeenthToTheHeap) {
    const PoolUse before = use_of(excel::String::allocator);
    ASSERT_EQ(before.small, 0u);
    ASSERT_EQ(before.large, 0u);
    // Short strings alive -> where the next one goes.
    const struct {
        int alive;
        Place next;
    } cases[] = {
        {0, Place::Small}, {7, Place::Small}, {8, Place::Large}, {15, Place::Large}, {16, Place::Heap},
    };
    for (const auto& c : cases) {
        std::vector<std::unique_ptr<excel::String>> alive;
        for (int i = 0; i < c.alive; ++i)
            alive.push_back(std::make_unique<excel::String>("short"));
        const PoolUse now = use_of(excel::String::allocator);
        excel::String next("next");
        EXPECT_TRUE(use_of(excel::String::allocator) == plus(now, c.next)) << c.alive << " alive";
    }
    // A freed block is the next one handed out: lowest free first.
    std::vector<std::unique_ptr<excel::String>> alive;
    for (int i = 0; i < 8; ++i)
        alive.push_back(std::make_unique<excel::String>("short"));
    const char* third = alive[2]->val.str;
    alive[2].reset();
    EXPECT_EQ(excel::String("again").val.str, third);
}

TEST_F(MemoryLayers, CharBufferHolds255CharactersAndRefusesMoreUnchanged) {
    // Appends to an empty buffer: how many of each, then whether the last one is refused.
    const struct {
        int appends;
        std::size_t each;
        bool last_refused;
    } cases[] = {
        {255, 1, false}, {256, 1, true}, {1, 255, false}, {1, 256, true}, {2, 128, true}, {3, 85, false},
    };
    for (const auto& c : cases) {
        excel::CharBuffer buffer;
        const std::string piece(c.each, 'y');
        std::size_t expected = 0;
        for (int i = 0; i < c.appends; ++i) {
            const bool last = i == c.appends - 1;
            try {
                if (c.each == 1)
                    buffer.append('y');
                else
                    buffer.append(piece.c_str());
                expected += c.each;
                EXPECT_FALSE(last && c.last_refused) << c.appends << " x " << c.each;
            } catch (const excel::ExcelException& e) {
                EXPECT_TRUE(last && c.last_refused) << c.appends << " x " << c.each << ", append " << i;
                EXPECT_STREQ(e.what(), "CharBuffer overrun");
            }
        }
        EXPECT_EQ(buffer.length(), expected);
        EXPECT_EQ(std::string(buffer.c_str()), std::string(expected, 'y'));
        excel::CharBuffer copy(buffer);
        EXPECT_EQ(copy.xloper()->val.str, copy.buffer);
    }
}

TEST_F(MemoryLayers, AutoFreeGivesBackTheStringsThenTheStorageOfWhatWasMarked) {
    const std::size_t small_elements = excel::Array::allocator.small.block_size / sizeof(XLOPER);
    const std::size_t large_elements = excel::Array::allocator.large.block_size / sizeof(XLOPER);
    // Arrays of strings handed to xlAutoFree: element count, where their storage is, whether
    // marked for freeing, and whether a default string (pointing at the shared empty text)
    // is among them.
    const struct {
        std::size_t elements;
        Place storage;
        bool marked;
        bool blank;
    } cases[] = {
        {small_elements, Place::Small, true, false},    {large_elements, Place::Large, true, false},
        {large_elements + 1, Place::Heap, true, false}, {large_elements + 1, Place::Heap, true, true},
        {small_elements, Place::Small, false, false},
    };
    for (const auto& c : cases) {
        const PoolUse strings_before = use_of(excel::String::allocator);
        const PoolUse arrays_before = use_of(excel::Array::allocator);
        auto* array = new excel::Array(unsigned(c.elements), 1);
        EXPECT_TRUE(use_of(excel::Array::allocator) == plus(arrays_before, c.storage)) << c.elements;
        std::size_t strings = 0;
        for (XLOPER& element : *array) {
            if (&element == array->begin() && c.blank) {
                element = excel::String(); // the value part only: it points at the blank
            } else if (&element != array->end() - 1 || c.elements == 1) {
                element = excel::String::make_deep_copy("text");
                ++strings;
            } else {
                element.xltype = xltypeNum; // not a string: nothing to give back
                element.val.num = 1;
            }
        }
        XLOPER value = *array->xloper();
        if (c.marked)
            value.xltype |= xlbitDLLFree;
        // The array object's own storage now belongs to the value handed out.
        array->owned = false;
        array->value.xltype = xltypeNil;
        excel::auto_free(&value);
        if (c.marked) {
            EXPECT_TRUE(use_of(excel::String::allocator) == strings_before) << c.elements;
            EXPECT_TRUE(use_of(excel::Array::allocator) == arrays_before) << c.elements;
        } else {
            EXPECT_TRUE(use_of(excel::String::allocator) == plus(strings_before, Place::Small, int(strings)));
            for (XLOPER& element : *array)
                if (element.xltype == xltypeStr && element.val.str != excel::String::blank)
                    excel::String::allocator.deallocate(element.val.str);
            excel::Array::allocator.deallocate(value.val.array.lparray);
        }
        // Destroying the emptied object leaves the storage alone: it was already given back.
        operator delete(array);
    }

    // A single string: marked, default or not marked.
    excel::String blank;
    XLOPER shared = blank;
    shared.xltype |= xlbitDLLFree;
    const PoolUse before = use_of(excel::String::allocator);
    excel::auto_free(&shared);
    EXPECT_TRUE(use_of(excel::String::allocator) == before);
    XLOPER text = excel::String::make_deep_copy("marked");
    excel::auto_free(&text);
    EXPECT_TRUE(use_of(excel::String::allocator) == plus(before, Place::Small)) << "freed without the mark";
    text.xltype |= xlbitDLLFree;
    excel::auto_free(&text);
    EXPECT_TRUE(use_of(excel::String::allocator) == before);
}

TEST_F(MemoryLayers, AutomationFallbackSetsUpAfterTearingDownAndTearsDownWhatItSetUp) {
    // A call that fails once `after` of its kind were answered, during set-up: its outcome
    // and whether CheckInstance stays registered. The set-up tears down first (one
    // xlGetName and one xlfRegisterId), then asks for the module, registers, reads the version.
    const struct {
        int failing, after;
        XLAutoStatus status;
        bool registered;
    } setup[] = {
        {-1, 0, xlauto_ok, true},
        {xlGetName, 0, xlauto_fail, false},
        {xlGetName, 1, xlauto_fail, false},
        {xlGetName, 2, xlauto_ok, true},
        {xlfRegisterId, 1, xlauto_ok, true}, // the set-up's own query fails: it registers
        {xlfRegister, 0, xlauto_fail, false},
        {xlfGetWorkspace, 0, xlretFailed, true},
    };
    for (const auto& c : setup) {
        host.fail_calls(c.failing, c.after);
        EXPECT_EQ(InitXLCoerce(), c.status) << c.failing << " after " << c.after;
        host.fail_calls(-1, 0);
        EXPECT_EQ(host.find_registration("CheckInstance") != nullptr, c.registered)
            << c.failing << " after " << c.after;
        EXPECT_EQ(xlauto::version_text(),
                  c.failing == xlfGetWorkspace || !c.registered ? std::string() : host.version());
        TermXLCoerce();
        xlauto::state().version.clear();
    }

    // Setting up again replaces the registration rather than adding one.
    ASSERT_EQ(InitFramework(), xlauto_ok);
    const double first = host.find_registration("CheckInstance")->id;
    ASSERT_EQ(InitFramework(), xlauto_ok);
    EXPECT_NE(host.find_registration("CheckInstance")->id, first);
    EXPECT_EQ(host.registrations().size(), 1u);

    // Tear-down: its outcome, and whether CheckInstance is still registered after it.
    const struct {
        int failing;
        int code;
        bool registered;
    } teardown[] = {
        {-1, xlretSuccess, false},
        {xlGetName, xlretFailed, true},
        {xlfRegisterId, xlretFailed, true},
        {xlfUnregister, xlretFailed, true},
    };
    for (const auto& c : teardown) {
        ASSERT_EQ(InitXLCoerce(), xlauto_ok);
        host.fail_calls(c.failing, 0);
        EXPECT_EQ(QuitFramework(), c.code) << c.failing;
        host.fail_calls(-1, 0);
        EXPECT_EQ(host.find_registration("CheckInstance") != nullptr, c.registered) << c.failing;
        TermXLCoerce();
    }
}

TEST_F(MemoryLayers, ASearchForTheHostingInstanceForgetsTheLastOne) {
    // A search that succeeded when the add-in was last open must not let the next one take
    // its first candidate unprobed.
    xlauto::state().correct_instance = true;
    host.set_version("8.0");
    InitXLCoerce();
    EXPECT_FALSE(xlauto::correct_instance());
    EXPECT_FALSE(xlauto::automation_ready());
    TermXLCoerce();
    xlauto::state().version.clear();
}

} // namespace
