// Random sequences of callback requests against a host session: random function numbers,
// argument counts and value records (references off the sheet and to unknown sheets,
// broken arrays, bad error codes, null arguments), and results of earlier calls passed back
// in. Every result is freed at the end; nothing may crash, leak or stay on the host's books.

#include "api/Host.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace {

using host::api::Host;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    double number() {
        switch (byte() % 6) {
        case 0: return byte();
        case 1: return -static_cast<double>(word()) / 7;
        case 2: return static_cast<double>(word()) * 1e300;
        case 3: {
            double x;
            std::uint64_t bits = 0;
            for (int i = 0; i < 8; ++i)
                bits = (bits << 8) | byte();
            std::memcpy(&x, &bits, sizeof x);
            return x; // NaN and infinities included
        }
        case 4: return 0.5;
        default: return 10;
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

const int functions[] = {16384, 16386, 16387, 16388, 16389, 16393, 37,    88,    89,    127,   149,  152,
                         158,   161,   182,   186,   201,   267,   32784, 32871, 32886, 32887, 32909};

// Storage for the records of one sequence; deques keep addresses stable.
struct Arena {
    std::deque<XLOPER> values;
    std::deque<XLMREF> mrefs;
    std::deque<std::vector<char>> strings;
    std::deque<std::vector<XLOPER>> arrays;
};

XLREF rectangle(Input& in) {
    XLREF r;
    r.rwFirst = in.byte() % 4 == 0 ? in.word() : in.byte() % 12;
    r.colFirst = in.byte() % 4 == 0 ? in.byte() : in.byte() % 8;
    // Mostly small blocks; sometimes backwards, sometimes to the sheet's edge.
    switch (in.byte() % 8) {
    case 0:
        r.rwLast = static_cast<std::uint16_t>(r.rwFirst - 1);
        r.colLast = r.colFirst;
        break;
    case 1:
        r.rwLast = 65535;
        r.colLast = r.colFirst;
        break;
    default: {
        int rows = r.rwFirst + in.byte() % 4, columns = r.colFirst + in.byte() % 4;
        r.rwLast = static_cast<std::uint16_t>(rows < 65535 ? rows : 65535);
        r.colLast = static_cast<std::uint8_t>(columns < 255 ? columns : 255);
    }
    }
    return r;
}

XLOPER scalar(Input& in, Arena& arena) {
    XLOPER v;
    v.val.num = 0;
    switch (in.byte() % 8) {
    case 0:
        v.xltype = xltypeNum;
        v.val.num = in.number();
        break;
    case 1: {
        // A counted string whose length byte never points past its buffer.
        std::vector<char> s(256, 'a');
        std::uint8_t n = in.byte();
        s[0] = static_cast<char>(n);
        for (int i = 1; i <= n && !in.empty() && i < 12; ++i)
            s[static_cast<std::size_t>(i)] = static_cast<char>(in.byte());
        arena.strings.push_back(std::move(s));
        v.xltype = xltypeStr;
        v.val.str = in.byte() % 16 == 0 ? nullptr : arena.strings.back().data();
        break;
    }
    case 2:
        v.xltype = xltypeBool;
        v.val.xbool = in.byte() % 3;
        break;
    case 3:
        v.xltype = xltypeInt;
        v.val.w = static_cast<std::int16_t>(in.word());
        break;
    case 4:
        v.xltype = xltypeErr;
        v.val.err = in.byte() % 50;
        break;
    case 5: v.xltype = xltypeMissing; break;
    case 6: v.xltype = xltypeNil; break;
    default: v.xltype = in.word(); break; // any type word at all, flag bits included
    }
    return v;
}

XLOPER value(Input& in, Arena& arena, Host& host, std::vector<XLOPER>& results) {
    XLOPER v;
    switch (in.byte() % 6) {
    case 0:
    case 1: return scalar(in, arena);
    case 2:
        v.xltype = xltypeSRef;
        v.val.sref.count = in.byte() % 8 == 0 ? 2 : 1;
        v.val.sref.ref = rectangle(in);
        return v;
    case 3: {
        XLMREF m;
        m.count = in.byte() % 8 == 0 ? in.byte() % 3 : 1;
        m.reftbl[0] = rectangle(in);
        arena.mrefs.push_back(m);
        v.xltype = xltypeRef;
        v.val.mref.lpmref = in.byte() % 16 == 0 ? nullptr : &arena.mrefs.back();
        std::uint8_t which = in.byte();
        v.val.mref.idSheet = which % 4 == 3 ? which : host.sheet_id(which % 3); // sheet 2 is unknown
        return v;
    }
    case 4: {
        int rows = in.byte() % 4, columns = in.byte() % 8;
        if (rows == 0 && columns == 0)
            rows = columns = 1;
        arena.arrays.emplace_back();
        std::vector<XLOPER>& e = arena.arrays.back();
        for (int i = 0; i < rows * columns; ++i)
            e.push_back(in.byte() % 16 == 0 ? value(in, arena, host, results) : scalar(in, arena));
        v.xltype = xltypeMulti;
        v.val.array.lparray = e.empty() ? nullptr : e.data();
        v.val.array.rows = static_cast<std::uint16_t>(rows);
        v.val.array.columns = static_cast<std::uint16_t>(columns);
        return v;
    }
    default:
        // A value the host made earlier (still live).
        if (!results.empty())
            return results[in.byte() % results.size()];
        return scalar(in, arena);
    }
}

// Whether a result still points at memory the host has on its books (values without memory
// stay readable forever).
bool holds_memory(const Host& host, const XLOPER& v) {
    switch (v.xltype & 0x0FFF) {
    case xltypeStr: return v.val.str == nullptr || host.allocations().owns(v.val.str);
    case xltypeMulti: return v.val.array.lparray == nullptr || host.allocations().owns(v.val.array.lparray);
    case xltypeRef: return v.val.mref.lpmref == nullptr || host.allocations().owns(v.val.mref.lpmref);
    default: return true;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    host::engine::Workbook book;
    book.add_sheet("Sheet1");
    book.add_sheet("Data");
    book.set_value({0, 0, 0}, host::engine::Value::number(1));
    book.set_value({0, 1, 0}, host::engine::Value::text("two"));
    book.set_formula({0, 0, 1}, "=A1*2+Data!A1");
    book.set_formula({1, 1, 1}, "=Sheet1!B1/A1");
    book.set_automatic(true);
    book.recalculate();
    Host host(book);
    host.set_module_path("/fuzz/ombrix.so");
    host::api::CurrentHost scope(host);

    Input in(data, size);
    bool answer_dialogs = in.byte() % 2 == 0;
    host.set_dialog_handler([&](host::api::Table& t) {
        for (int r = 0; r < t.rows; ++r)
            t.at(r, 6) = host::engine::Value::text("1");
        return answer_dialogs;
    });
    host.set_alert_handler([](const host::api::Alert&) {});

    std::vector<XLOPER> results; // live results the host handed out
    Arena arena;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        std::uint8_t pick = in.byte();
        int xlfn = pick < 240 ? functions[pick % (sizeof functions / sizeof functions[0])] : in.word();
        int count = in.byte() % 16 == 0 ? in.byte() % 34 - 1 : in.byte() % 5;
        std::vector<LPXLOPER> args;
        for (int i = 0; i < count && i < 32; ++i) {
            if (xlfn == 16384 && !results.empty() && in.byte() % 2 == 0) {
                arena.values.push_back(results[in.byte() % results.size()]);
            } else if (in.byte() % 32 == 0) {
                args.push_back(nullptr);
                continue;
            } else {
                arena.values.push_back(value(in, arena, host, results));
            }
            args.push_back(&arena.values.back());
        }
        XLOPER result;
        result.xltype = xltypeNil;
        bool want_result = in.byte() % 4 != 0;
        int code = Excel4v(xlfn, want_result ? &result : nullptr, count, args.empty() ? nullptr : args.data());
        if (xlfn == 16384) {
            // Earlier results reach xlFree by either branch above, and a free answered with a
            // failure may still have released some of them: whatever the host no longer has on
            // its books is not to be read again.
            std::vector<XLOPER> kept;
            for (const XLOPER& r : results)
                if (holds_memory(host, r))
                    kept.push_back(r);
            results.swap(kept);
        }
        if (want_result && code == xlretSuccess && xlfn != 16384)
            results.push_back(result);
    }
    for (XLOPER& r : results)
        Excel4(16384, nullptr, 1, &r);
    if (host.allocations().outstanding() != 0)
        __builtin_trap();
    return 0;
}
