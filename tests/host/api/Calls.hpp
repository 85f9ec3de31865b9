#ifndef OMBRIX_TESTS_HOST_API_CALLS_HPP
#define OMBRIX_TESTS_HOST_API_CALLS_HPP

// A workbook with two sheets and a host session made current for the test, and helpers
// that build value records the way an add-in does.

#include "api/Host.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

namespace host::api::testing {

class HostTest : public ::testing::Test {
protected:
    HostTest() : host(book), scope(host) {
        book.add_sheet("Sheet1");
        book.add_sheet("Data");
        book.set_active_sheet(0);
        host.set_module_path("/opt/ombrix/ombrix.so");
    }

    ~HostTest() override {
        // Whatever a test was handed must have been given back.
        EXPECT_EQ(host.allocations().outstanding(), 0u);
    }

    engine::Workbook book;
    Host host;
    CurrentHost scope;

    // Counted strings that live as long as the test.
    std::deque<std::string> texts;
    std::deque<XLMREF> mrefs;

    // A value of that type, its payload set by fill.
    template <class Fill>
    static XLOPER of_type(std::uint16_t type, Fill fill) {
        XLOPER v;
        v.val.num = 0;
        fill(v.val);
        v.xltype = type;
        return v;
    }
    static XLOPER nil() {
        return of_type(xltypeNil, [](auto&) {});
    }
    static XLOPER num(double x) {
        return of_type(xltypeNum, [x](auto& val) { val.num = x; });
    }
    static XLOPER integer(short w) {
        return of_type(xltypeInt, [w](auto& val) { val.w = w; });
    }
    static XLOPER boolean(bool b) {
        return of_type(xltypeBool, [b](auto& val) { val.xbool = b; });
    }
    static XLOPER err(unsigned short code) {
        return of_type(xltypeErr, [code](auto& val) { val.err = code; });
    }
    XLOPER str(const std::string& s) {
        texts.push_back(std::string(1, static_cast<char>(s.size())) + s);
        return of_type(xltypeStr, [this](auto& val) { val.str = &texts.back()[0]; });
    }
    // A rectangle on the active sheet (inclusive, zero based).
    static XLREF rect(int r0, int r1, int c0, int c1) {
        return XLREF{static_cast<std::uint16_t>(r0), static_cast<std::uint16_t>(r1), static_cast<std::uint8_t>(c0),
                     static_cast<std::uint8_t>(c1)};
    }
    static XLOPER sref(int r0, int r1, int c0, int c1) {
        return of_type(xltypeSRef, [&](auto& val) {
            val.sref.count = 1;
            val.sref.ref = rect(r0, r1, c0, c1);
        });
    }
    static XLOPER cell(int r, int c) { return sref(r, r, c, c); }
    // A rectangle on the sheet with that id.
    XLOPER ref(IDSHEET id, int r0, int r1, int c0, int c1) {
        mrefs.push_back(XLMREF{1, {rect(r0, r1, c0, c1)}});
        return of_type(xltypeRef, [&](auto& val) {
            val.mref.lpmref = &mrefs.back();
            val.mref.idSheet = id;
        });
    }
    static XLOPER multi(std::vector<XLOPER>& elements, int rows, int columns) {
        return of_type(xltypeMulti, [&](auto& val) {
            val.array.lparray = elements.data();
            val.array.rows = static_cast<std::uint16_t>(rows);
            val.array.columns = static_cast<std::uint16_t>(columns);
        });
    }

    // One call through the exported entry.
    static int call(int xlfn, XLOPER* result, std::vector<XLOPER*> args) {
        return Excel4v(xlfn, result, static_cast<int>(args.size()), args.data());
    }
    static int free_value(XLOPER& v) { return call(xlFree, nullptr, {&v}); }

    static std::string text(const XLOPER& v) {
        EXPECT_EQ(v.xltype, xltypeStr);
        if (v.xltype != xltypeStr)
            return "";
        return std::string(v.val.str + 1, static_cast<unsigned char>(v.val.str[0]));
    }

    engine::CellAddress at(int sheet, const char* a1) {
        engine::CellAddress c;
        c.sheet = sheet;
        EXPECT_TRUE(engine::parse_a1(a1, c.row, c.col)) << a1;
        return c;
    }
};

} // namespace host::api::testing

#endif
