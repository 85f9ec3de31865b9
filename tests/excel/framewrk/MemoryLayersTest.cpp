// The add-in's memory at its edges: the call layer's temporary pool, the string and array
// pools with the heap behind them, the fixed character buffer, what xlAutoFree gives back,
// and the automation fallback's set-up and tear-down as the spreadsheet sees them.

#include "excel/Array.hpp"
#include "excel/AutoFree.hpp"
#include "excel/Caller.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/String.hpp"
#include "excel/framewrk/Framework.hpp"
#include "excel/framewrk/xlauto.hpp"
#include "excel/framewrk/xlauto_internal.hpp"
#include "excel/framewrk/xlcoerce.hpp"

#include "api/Host.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using host::engine::Value;

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
    // Freed blocks are handed out again lowest first, whatever the order they were freed in:
    // the blocks freed, then the blocks the next strings get (blocks by address, 0 the lowest).
    const struct {
        std::vector<int> freed, given;
    } reuse[] = {
        {{2}, {2}},
        {{5, 2}, {2, 5}},
        {{6, 1, 3}, {1, 3, 6}},
        {{7, 0}, {0, 7}},
    };
    for (const auto& c : reuse) {
        std::vector<std::unique_ptr<excel::String>> alive;
        for (int i = 0; i < 8; ++i)
            alive.push_back(std::make_unique<excel::String>("short"));
        std::vector<const char*> blocks;
        for (const auto& a : alive)
            blocks.push_back(a->val.str);
        std::sort(blocks.begin(), blocks.end());
        for (int i : c.freed)
            for (auto& a : alive)
                if (a && a->val.str == blocks[std::size_t(i)])
                    a.reset();
        std::vector<std::unique_ptr<excel::String>> again;
        for (std::size_t k = 0; k < c.given.size(); ++k) {
            again.push_back(std::make_unique<excel::String>("again"));
            EXPECT_EQ(again.back()->val.str, blocks[std::size_t(c.given[k])]) << "string " << k;
        }
    }
}

TEST_F(MemoryLayers, AStringKeepsItsTextWhenAnAssignmentIsRefused) {
    // The text held, the text assigned, and whether it is refused (then nothing changes).
    const struct {
        std::size_t held, assigned;
        bool refused;
    } cases[] = {
        {5, 3, false}, {5, 255, false}, {5, 256, true}, {5, 300, true}, {0, 256, true}, {40, 300, true},
    };
    for (const auto& c : cases) {
        excel::String s;
        if (c.held > 0)
            s = std::string(c.held, 'o').c_str();
        const PoolUse before = use_of(excel::String::allocator);
        try {
            s = std::string(c.assigned, 'n').c_str();
            EXPECT_FALSE(c.refused) << c.assigned;
            EXPECT_EQ(std::string(s.c_str(), s.length()), std::string(c.assigned, 'n'));
        } catch (const excel::ExcelException& e) {
            EXPECT_TRUE(c.refused) << c.assigned;
            EXPECT_STREQ(e.what(), "String overrun");
            EXPECT_TRUE(use_of(excel::String::allocator) == before) << c.held << ": storage given back";
            // A string made now must not be handed the block the refused one still holds.
            excel::String other(std::string(c.held, 'x').c_str());
            EXPECT_EQ(std::string(s.c_str(), s.length()), std::string(c.held, 'o')) << c.held;
        }
    }
}

TEST_F(MemoryLayers, AStringOfAValueCoercesItOrRefusesItsType) {
    // The source value -> its text, or "" where String refuses the type with #VALUE!.
    auto value = [](decltype(XLOPER::xltype) type) {
        XLOPER x;
        x.xltype = type;
        x.val.num = 0;
        return x;
    };
    XLOPER number = value(xltypeNum), boolean = value(xltypeBool), error = value(xltypeErr), integer = value(xltypeInt),
           missing = value(xltypeMissing), nil = value(xltypeNil);
    number.val.num = 2.5;
    boolean.val.xbool = 1;
    error.val.err = 7;
    integer.val.w = 4;
    const struct {
        const XLOPER* source;
        const char* text;
    } cases[] = {
        {&number, "2.5"}, {&boolean, "TRUE"}, {&nil, ""}, {&error, nullptr}, {&integer, nullptr}, {&missing, nullptr},
    };
    for (const auto& c : cases) {
        // A type refused is refused before the spreadsheet is asked anything, even when the
        // spreadsheet would refuse the coercion.
        for (const bool coercion_fails : {false, true}) {
            if (coercion_fails && c.text != nullptr)
                continue;
            host.fail_calls(coercion_fails ? xlCoerce : -1, 0);
            const PoolUse before = use_of(excel::String::allocator);
            std::string thrown;
            try {
                excel::String s(c.source);
                ASSERT_NE(c.text, nullptr) << "type " << c.source->xltype << " read as " << s.c_str();
                EXPECT_EQ(std::string(s.c_str(), s.length()), c.text);
            } catch (const excel::Error& e) {
                thrown = e.what();
            } catch (const excel::ExcelException& e) {
                thrown = e.what();
            }
            EXPECT_EQ(thrown, c.text ? "" : "Error: Value") << "type " << c.source->xltype;
            EXPECT_TRUE(use_of(excel::String::allocator) == before) << "type " << c.source->xltype;
        }
        host.fail_calls(-1, 0);
    }
}

TEST_F(MemoryLayers, ErrorCodesAndReturnCodesAsTheUserReadsThem) {
    const struct {
        std::uint16_t code;
        const char* text;
    } errors[] = {
        {0, "Error: Null"},     {7, "Error: Div/0"},    {15, "Error: Value"},  {23, "Error: Ref"},
        {29, "Error: Name"},    {36, "Error: Num"},     {42, "Error: N/A"},    {43, "Error: Unknown"},
        {64, "Error: Unknown"}, {99, "Error: Unknown"}, {1, "Error: Unknown"},
    };
    for (const auto& c : errors)
        EXPECT_STREQ(excel::Error(c.code).what(), c.text) << c.code;

    // A callback's return code -> what it becomes: nothing, #VALUE! (the call was cut short)
    // or a failure of its own.
    const struct {
        std::uint16_t code;
        const char* thrown;
    } returns[] = {
        {0, ""},
        {1, "Error: Value"},
        {16, "Error: Value"},
        {64, "Error: Value"},
        {2, "Bad return value"},
        {4, "Bad return value"},
        {8, "Bad return value"},
        {32, "Bad return value"},
        {128, "Bad return value"},
    };
    for (const auto& c : returns) {
        std::string thrown;
        try {
            excel::throw_on_bad_ret(c.code);
        } catch (const excel::Error& e) {
            thrown = e.what();
            EXPECT_EQ(e.code(), 15) << c.code;
        } catch (const excel::ExcelException& e) {
            thrown = e.what();
        }
        EXPECT_EQ(thrown, c.thrown) << c.code;
    }
}

TEST_F(MemoryLayers, ActiveSheetReferencesCoverTheirRectangle) {
    // The maker -> the rectangle it describes: first and last row, first and last column.
    const struct {
        LPXLOPER (*make)();
        int rw_first, rw_last, col_first, col_last;
    } cases[] = {
        {[] { return TempActiveRef(1, 4, 2, 3); }, 1, 4, 2, 3},
        {[] { return TempActiveCell(7, 9); }, 7, 7, 9, 9},
        {[] { return TempActiveRow(5); }, 5, 5, 0, 255},
        {[] { return TempActiveColumn(2); }, 0, 16383, 2, 2},
        {[] { return TempActiveColumn(255); }, 0, 16383, 255, 255},
    };
    for (const auto& c : cases) {
        FreeAllTempMemory();
        const LPXLOPER x = c.make();
        ASSERT_NE(x, nullptr);
        ASSERT_EQ(x->xltype, xltypeRef);
        ASSERT_EQ(x->val.mref.lpmref->count, 1);
        const XLREF& r = x->val.mref.lpmref->reftbl[0];
        EXPECT_EQ(std::vector<int>({r.rwFirst, r.rwLast, r.colFirst, r.colLast}),
                  std::vector<int>({c.rw_first, c.rw_last, c.col_first, c.col_last}));
    }
}

TEST_F(MemoryLayers, ArrayDoubleReadsNumbersAndEmptyCellsAndRefusesTheRest) {
    // A1:C1 -> the doubles read, or the error thrown.
    const struct {
        std::vector<host::engine::Value> cells;
        std::vector<double> read;
        const char* thrown;
    } cases[] = {
        {{Value::number(1), Value(), Value::number(3)}, {1, 0, 3}, nullptr},
        {{Value(), Value(), Value()}, {0, 0, 0}, nullptr},
        {{Value::number(-2.5), Value::error(host::engine::ErrorCode::Div0), Value()}, {}, "Error: Div/0"},
        {{Value::number(1), Value::text("x"), Value()}, {}, "Error: Value"},
        {{Value::boolean(true), Value(), Value()}, {}, "Error: Value"},
    };
    for (const auto& c : cases) {
        for (int col = 0; col < 3; ++col)
            book.set_value({0, 0, col}, c.cells[std::size_t(col)]);
        const PoolUse before = use_of(excel::ArrayDouble::allocator);
        try {
            excel::ArrayDouble a(TempActiveRef(0, 0, 0, 2));
            EXPECT_EQ(c.thrown, nullptr);
            EXPECT_EQ(std::vector<double>(a.begin_doubles(), a.end_doubles()), c.read);
        } catch (const excel::Error& e) {
            ASSERT_NE(c.thrown, nullptr) << e.what();
            EXPECT_STREQ(e.what(), c.thrown);
        }
        EXPECT_TRUE(use_of(excel::ArrayDouble::allocator) == before);
    }
}

TEST_F(MemoryLayers, AlertsShowAtMost255Characters) {
    // The text's length -> the length of the alert shown.
    const struct {
        std::size_t length, shown;
    } cases[] = {{0, 0}, {1, 1}, {254, 254}, {255, 255}, {256, 255}, {300, 255}, {1000, 255}};
    for (const auto& c : cases) {
        std::string text(c.length, 'a');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = char('a' + i % 26);
        excel::display_dialog_box(text.c_str(), 2);
        ASSERT_FALSE(host.alerts().empty());
        EXPECT_EQ(host.alerts().back().text, text.substr(0, c.shown)) << c.length;
        EXPECT_EQ(host.alerts().back().type, 2);
    }
}

TEST_F(MemoryLayers, TheCallingCellInA1Notation) {
    // The caller's zero-based row and column -> cellref().
    const struct {
        std::uint16_t row;
        std::uint8_t column;
        const char* text;
    } cases[] = {
        {0, 0, "A1"},   {0, 25, "Z1"},  {0, 26, "AA1"},          {9, 27, "AB10"},
        {4, 51, "AZ5"}, {4, 52, "BA5"}, {65535, 255, "IV65536"}, {0, 1, "B1"},
    };
    for (const auto& c : cases) {
        host.set_caller(std::make_pair(c.row, c.column));
        EXPECT_EQ(excel::cellref(), c.text);
        EXPECT_EQ(excel::cellfullref(), "[Book1]Sheet1!" + std::string(c.text));
    }
}

TEST_F(MemoryLayers, CoercionTakesASourceAndAtMostATargetType) {
    // The argument count (source first, then the target type) -> the return code.
    XLOPER number, target, extra;
    number.xltype = xltypeNum;
    number.val.num = 4;
    target.xltype = xltypeInt;
    target.val.w = xltypeStr;
    extra = target;
    LPXLOPER args[3] = {&number, &target, &extra};
    const struct {
        int count;
        int code;
    } cases[] = {{0, xlretInvCount}, {1, xlretSuccess}, {2, xlretSuccess}, {3, xlretInvCount}, {-1, xlretInvCount}};
    for (const auto& c : cases) {
        XLOPER result;
        result.xltype = xltypeNil;
        EXPECT_EQ(XLCoercev(&result, c.count, args), c.code) << c.count;
        if (c.code == xlretSuccess)
            Excel(xlFree, nullptr, 1, &result);
    }
    // A target that is not an integer type code.
    XLOPER text_target = number;
    LPXLOPER bad[2] = {&number, &text_target};
    XLOPER result;
    EXPECT_EQ(XLCoercev(&result, 2, bad), xlretInvCount);
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

TEST_F(MemoryLayers, CheckInstanceMarksTheInstanceOnlyDuringAProbe) {
    // Whether a probe is running, and whether the instance was already marked -> whether it
    // is marked after CheckInstance (which always answers 1).
    const struct {
        bool checking, marked_before, marked_after;
    } cases[] = {
        {false, false, false},
        {true, false, true},
        {true, true, true},
        {false, true, true},
    };
    for (const auto& c : cases) {
        xlauto::state().checking = c.checking;
        xlauto::state().correct_instance = c.marked_before;
        EXPECT_EQ(check_instance_probe(), 1);
        EXPECT_EQ(xlauto::correct_instance(), c.marked_after) << c.checking << c.marked_before;
    }
    xlauto::state().checking = false;
    xlauto::state().correct_instance = false;
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
