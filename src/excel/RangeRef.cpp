#include "excel/RangeRef.hpp"

#include "excel/ExcelException.hpp"

#include <algorithm>
#include <climits>
#include <ostream>

namespace excel {

namespace {

const char* const kDifferentBooks = "Could not make a range reference from two cells on different books";
const char* const kDifferentSheets = "Could not make a range reference from two cells on different sheets";
const char* const kSingleCell = "Reference is not a range but a single cell";
const char* const kNamedSecond = "Malformed second cell in range refefence";

// The exclusive corner is one past a coordinate that may already sit at an int limit
// (a shifted or hand-built cell); it sticks there rather than wrapping.
int add_saturated(int v, long long d) {
    const long long s = static_cast<long long>(v) + d;
    if (s > INT_MAX)
        return INT_MAX;
    if (s < INT_MIN)
        return INT_MIN;
    return static_cast<int>(s);
}

} // namespace

RangeRef::RangeRef() {}

RangeRef::RangeRef(const CellRef& a, const CellRef& b) {
    if (!a.book.empty() && !b.book.empty() && a.book != b.book)
        throw ExcelException(kDifferentBooks);
    // Unlike the book, the second cell may name a sheet only if the first names the same.
    if (!b.sheet.empty() && b.sheet != a.sheet)
        throw ExcelException(kDifferentSheets);

    first.x = std::min(a.x, b.x);
    first.y = std::min(a.y, b.y);
    first.x_fixed = a.x < b.x ? a.x_fixed : b.x_fixed;
    first.y_fixed = a.y < b.y ? a.y_fixed : b.y_fixed;
    first.book = b.book.empty() ? a.book : b.book;
    first.sheet = b.sheet.empty() ? a.sheet : b.sheet;

    end.x = add_saturated(std::max(a.x, b.x), 1);
    end.y = add_saturated(std::max(a.y, b.y), 1);
    end.x_fixed = a.x > b.x ? a.x_fixed : b.x_fixed;
    end.y_fixed = a.y > b.y ? a.y_fixed : b.y_fixed;
}

RangeRef::RangeRef(const CellRef& first_, unsigned int width, unsigned int height)
    : first(first_), end(add_saturated(first_.x, width), add_saturated(first_.y, height), false, false) {}

RangeRef::RangeRef(const std::string& text) { parse_ref(text, *this); }

CellRef RangeRef::last() const {
    return CellRef(add_saturated(end.x, -1), add_saturated(end.y, -1), end.x_fixed, end.y_fixed);
}

void RangeRef::shift(int dx, int dy) {
    first.shift(dx, dy);
    end.shift(dx, dy);
}

RangeRef RangeRef::fixed() const {
    RangeRef r(*this);
    r.first.x_fixed = r.first.y_fixed = true;
    r.end.x_fixed = r.end.y_fixed = true;
    return r;
}

std::string RangeRef::to_string() const {
    // Both corners are checked before anything is written.
    const std::string head = first.to_string();
    return head + ":" + last().cell_name();
}

std::size_t RangeRef::parse_ref(const std::string& text, RangeRef& range) {
    CellRef a;
    const std::size_t n = CellRef::parse_ref(text, a);
    if (n >= text.size() || text[n] != ':')
        throw ExcelException(kSingleCell);

    CellRef b;
    const std::size_t m = CellRef::parse_ref(text.substr(n + 1), b);
    if (!b.book.empty() || !b.sheet.empty())
        throw ExcelException(kNamedSecond);

    range = RangeRef(a, b);
    return n + 1 + m;
}

bool RangeRef::coerce_to_range(const std::string& text, RangeRef& range) {
    try {
        return parse_ref(text, range) == text.size();
    } catch (const ExcelException&) {
    }
    // Not a range: a whole single cell still counts, as the one-cell range.
    try {
        CellRef cell;
        if (CellRef::parse_ref(text, cell) != text.size())
            return false;
        range = RangeRef(cell, cell);
        return true;
    } catch (const ExcelException&) {
        return false;
    }
}

bool operator==(const RangeRef& a, const RangeRef& b) { return a.first == b.first && a.end == b.end; }

bool operator!=(const RangeRef& a, const RangeRef& b) { return !(a == b); }

std::ostream& operator<<(std::ostream& os, const RangeRef& range) {
    os << range.to_string();
    return os;
}

} // namespace excel
