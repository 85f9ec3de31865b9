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

    static XLOPER of_type(std::uint16_t type) {
        XLOPER v;
        v.val.num = 0;
        v.xltype = type;
        return v;
    }
    static XLOPER nil() { return of_type(xltypeNil); }
    static XLOPER num(double x) {
        XLOPER v = of_type(xltypeNum);
        v.val.num = x;
        return v;
    }
    static XLOPER integer(short w) {
        XLOPER v = of_type(xltypeInt);
        v.val.w = w;
        return v;
    }
    static XLOPER boolean(bool b) {
        XLOPER v = of_type(xltypeBool);
        v.val.xbool = b;
        return v;
    }
    static XLOPER err(unsigned short code) {
        XLOPER v = of_type(xltypeErr);
        v.val.err = code;
        return v;
    }
    XLOPER str(const std::string& s) {
        texts.push_back(std::string(1, static_cast<char>(s.size())) + s);
        XLOPER v;
        v.val.str = &texts.back()[0];
        v.xltype = xltypeStr;
        return v;
    }
    // A rectangle on the active sheet (inclusive, zero based).
    static XLOPER sref(int r0, int r1, int c0, int c1) {
        XLOPER v;
        v.val.sref.count = 1;
        v.val.sref.ref.rwFirst = static_cast<std::uint16_t>(r0);
        v.val.sref.ref.rwLast = static_cast<std::uint16_t>(r1);
        v.val.sref.ref.colFirst = static_cast<std::uint8_t>(c0);
        v.val.sref.ref.colLast = static_cast<std::uint8_t>(c1);
        v.xltype = xltypeSRef;
        return v;
    }
    static XLOPER cell(int r, int c) { return sref(r, r, c, c); }
    // A rectangle on the sheet with that id.
    XLOPER ref(IDSHEET id, int r0, int r1, int c0, int c1) {
        XLMREF m;
        m.count = 1;
        m.reftbl[0] = sref(r0, r1, c0, c1).val.sref.ref;
        mrefs.push_back(m);
        XLOPER v;
        v.val.mref.lpmref = &mrefs.back();
        v.val.mref.idSheet = id;
        v.xltype = xltypeRef;
        return v;
    }
    static XLOPER multi(std::vector<XLOPER>& elements, int rows, int columns) {
        XLOPER v;
        v.val.array.lparray = elements.data();
        v.val.array.rows = static_cast<std::uint16_t>(rows);
        v.val.array.columns = static_cast<std::uint16_t>(columns);
        v.xltype = xltypeMulti;
        return v;
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
