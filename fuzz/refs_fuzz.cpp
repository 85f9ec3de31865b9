// Arbitrary text into the cell and range reference parsers. Only ExcelException may come
// out of them (anything else escapes and aborts the run), every reference that parses is
// printed, and whatever prints must read back as the same reference.
#include "excel/CellRef.hpp"
#include "excel/ExcelException.hpp"
#include "excel/RangeRef.hpp"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using excel::CellRef;
using excel::RangeRef;

namespace {

void require(bool ok, const char* what, const std::string& text) {
    if (ok)
        return;
    std::fprintf(stderr, "refs_fuzz: %s (text of %zu bytes)\n", what, text.size());
    std::abort();
}

// Parsed names never hold "!" (the prefix ends at the first one) and a parsed book never
// holds "]", so the printer's output splits back at the right places. Two printed forms
// still lose information, and only for them is no round trip asserted:
// - a book without a sheet is not printed at all (it reads back as no book);
// - a sheet of two or more characters that begins with "[" and has no book prints as
//   "'[...'!" and reads back as a book name.
bool prints_unambiguously(const CellRef& c) {
    if (c.sheet.find('!') != std::string::npos || c.book.find('!') != std::string::npos ||
        c.book.find(']') != std::string::npos)
        return false;
    return !(c.book.empty() && c.sheet.size() >= 2 && c.sheet[0] == '[');
}

CellRef as_printed(CellRef c) {
    if (c.sheet.empty())
        c.book.clear();
    return c;
}

void check_cell(const CellRef& c, const std::string& text) {
    std::string printed;
    try {
        printed = c.to_string();
    } catch (const excel::ExcelException&) {
        require(!c.is_valid(), "a cell on the sheet refused to print", text);
        return;
    }
    require(c.is_valid(), "a cell off the sheet printed", text);
    require(c.cell_name().size() <= 9, "cell name too long", text);
    if (!prints_unambiguously(c))
        return;
    CellRef back(9, 9, true, true, "unset", "unset");
    require(CellRef::coerce_to_cell(printed, back), "printed cell is not one whole cell", text);
    require(back == as_printed(c), "printed cell reads back as another cell", text);
}

void check_range(const RangeRef& r, const std::string& text) {
    // Parsed corners lie below INT_MAX, so the exclusive corner is strictly past the first.
    require(r.first.x < r.end.x && r.first.y < r.end.y, "range corners out of order", text);
    require(r.end.sheet.empty() && r.end.book.empty(), "end corner carries names", text);
    const CellRef last = r.last();
    require(last.x == r.end.x - 1 && last.y == r.end.y - 1, "last is not end less one", text);
    std::string printed;
    try {
        printed = r.to_string();
    } catch (const excel::ExcelException&) {
        require(!r.first.is_valid() || !last.is_valid(), "a range on the sheet refused to print", text);
        return;
    }
    require(r.first.is_valid() && last.is_valid(), "a range off the sheet printed", text);
    if (!prints_unambiguously(r.first))
        return;
    RangeRef back(CellRef(9, 9, true, true), 1, 1);
    require(RangeRef::coerce_to_range(printed, back), "printed range is not one whole range", text);
    RangeRef expected = r;
    expected.first = as_printed(r.first);
    require(back == expected, "printed range reads back as another range", text);
}

// The parsers' own pieces: they either assign a result or leave the target untouched.
void check_pieces(const std::string& text) {
    const CellRef untouched(3, 4, true, false, "s", "b");
    for (int which = 0; which < 2; ++which) {
        CellRef ref = untouched;
        try {
            const std::size_t n = which == 0 ? CellRef::parse_ref_ln(text, ref) : CellRef::parse_ref_rc(text, ref);
            require(n <= text.size(), "piece consumed more than the text", text);
            check_cell(ref, text);
        } catch (const excel::ExcelException&) {
            require(ref == untouched, "failed parse assigned its target", text);
        }
    }
    std::string book, sheet;
    try {
        const std::size_t p = CellRef::parse_book_sheet_name(text, book, sheet);
        require(p <= text.size(), "prefix past the end", text);
        require(sheet.find('!') == std::string::npos && book.find(']') == std::string::npos,
                "name holds its own delimiter", text);
    } catch (const excel::ExcelException&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    CellRef cell;
    std::size_t cell_count = std::string::npos; // stays npos when the parse throws
    try {
        cell_count = CellRef::parse_ref(text, cell);
        require(cell_count <= text.size(), "cell parse consumed more than the text", text);
        check_cell(cell, text);
    } catch (const excel::ExcelException&) {
    }
    CellRef whole;
    const bool is_cell = CellRef::coerce_to_cell(text, whole);
    require(is_cell == (cell_count == text.size()), "coerce_to_cell disagrees with parse_ref", text);
    if (is_cell)
        require(whole == cell, "coerce_to_cell gave another cell", text);

    RangeRef range;
    try {
        const std::size_t n = RangeRef::parse_ref(text, range);
        require(n <= text.size(), "range parse consumed more than the text", text);
        check_range(range, text);
    } catch (const excel::ExcelException&) {
    }
    RangeRef block;
    if (RangeRef::coerce_to_range(text, block)) {
        check_range(block, text);
        // Moving by deltas from the input, up to the int limits, must stay defined.
        int dx = 0, dy = 0;
        if (size >= 2 * sizeof(int)) {
            std::memcpy(&dx, data, sizeof(int));
            std::memcpy(&dy, data + sizeof(int), sizeof(int));
        }
        for (const int k : {dx, INT_MAX, INT_MIN}) {
            RangeRef moved = block;
            moved.shift(k, k == dx ? dy : k);
            (void)moved.last();
            try {
                (void)moved.to_string();
            } catch (const excel::ExcelException&) {
            }
            RangeRef again(moved.first, moved.last());
            (void)again.last();
            CellRef corner = moved.first;
            corner.shift(k, k);
            check_cell(corner, text);
        }
    } else {
        require(!is_cell, "a whole cell is not a one-cell range", text);
    }
    check_pieces(text);
    return 0;
}
