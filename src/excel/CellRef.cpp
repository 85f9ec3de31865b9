#include "excel/CellRef.hpp"

#include "excel/ExcelException.hpp"

#include <climits>
#include <locale>
#include <ostream>
#include <sstream>

namespace excel {

namespace {

const char* const kBadBook = "Malformed book name in cell reference";
const char* const kXFixed = "Malformed cell reference (x fixed)";
const char* const kNoLetters = "Malformed cell reference - no letters";
const char* const kYFixed = "Malformed cell reference (y fixed)";
const char* const kNoDigits = "Malformed cell reference - no digits";
const char* const kNoLetterRC = "R1C1 cell ref has no 'R/C'";
const char* const kTruncated = "R1C1 cell ref is truncated";
const char* const kRelativeRC = "Relative cell references in R1C1 mode not supported";
const char* const kOffSheet = "Cannot make cell into an absolute reference, out of sheet";

// Coordinates live in an int; sums that would leave it stick at its limits instead, which
// keeps every result off the sheet and every step defined.
int saturate(long long v) {
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

// ASCII classes as the "C" locale has them, whatever locale the host process has set.
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
int upper(char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// Length of the run of c starting at i.
std::size_t run_of(const std::string& text, std::size_t i, char c) {
    std::size_t n = 0;
    while (i + n < text.size() && text[i + n] == c)
        ++n;
    return n;
}

std::string tail(const std::string& text, std::size_t from) {
    return from < text.size() ? text.substr(from) : std::string();
}

} // namespace

CellRef::CellRef() : x(0), y(0), x_fixed(false), y_fixed(false) {}

CellRef::CellRef(const std::string& text) : CellRef() { parse_ref(text, *this); }

CellRef::CellRef(int x_, int y_, bool x_fixed_, bool y_fixed_, const std::string& sheet_, const std::string& book_)
    : x(x_), y(y_), x_fixed(x_fixed_), y_fixed(y_fixed_), sheet(sheet_), book(book_) {}

bool CellRef::is_valid() const { return x >= 0 && x <= last_column && y >= 0 && y <= last_row; }

void CellRef::shift(int dx, int dy) {
    if (!x_fixed)
        x = saturate(static_cast<long long>(x) + dx);
    if (!y_fixed)
        y = saturate(static_cast<long long>(y) + dy);
}

CellRef CellRef::fixed() const { return CellRef(x, y, true, true, sheet, book); }

void CellRef::print_cell_name(std::ostream& os) const { os << cell_name(); }

std::string CellRef::cell_name() const {
    if (!is_valid())
        throw ExcelException(kOffSheet);
    std::string s;
    if (x_fixed)
        s += '$';
    // Two letters at most on the sheet: the high one is 1-based, the low one 0-based.
    if (x / 26 != 0)
        s += static_cast<char>(x / 26 + 64);
    s += static_cast<char>(x % 26 + 65);
    if (y_fixed)
        s += '$';
    s += std::to_string(y + 1);
    return s;
}

void CellRef::print(std::ostream& os) const { os << to_string(); }

std::string CellRef::to_string() const {
    const std::string name = cell_name(); // throws before anything is written
    if (sheet.empty())
        return name;
    if (!book.empty())
        return "'[" + book + "]" + sheet + "'!" + name;
    return "'" + sheet + "'!" + name;
}

std::size_t CellRef::parse_book_sheet_name(const std::string& text, std::string& book, std::string& sheet) {
    const std::size_t bang = text.find('!');
    if (bang == std::string::npos) {
        book.clear();
        sheet.clear();
        return 0;
    }
    std::string prefix = text.substr(0, bang);
    // Quotes are optional on input; doubled quotes inside are kept as they are.
    if (prefix.size() >= 2 && prefix.front() == '\'' && prefix.back() == '\'')
        prefix = prefix.substr(1, prefix.size() - 2);
    if (prefix.size() >= 2 && prefix[0] == '[') {
        const std::size_t close = prefix.find(']');
        if (close == std::string::npos)
            throw ExcelException(kBadBook);
        book = prefix.substr(1, close - 1);
        sheet = prefix.substr(close + 1);
    } else {
        book.clear();
        sheet = prefix;
    }
    return bang + 1;
}

std::size_t CellRef::parse_ref_ln(const std::string& text, CellRef& ref) {
    std::string book, sheet;
    std::size_t i = parse_book_sheet_name(text, book, sheet);

    const std::size_t x_dollars = run_of(text, i, '$');
    if (x_dollars > 1)
        throw ExcelException(kXFixed);
    i += x_dollars;

    // Bijective base 26 (A = 1 ... Z = 26, AA = 27), less one. Any number of letters is
    // accepted; the value sticks at INT_MAX so a long run gives a column off the sheet.
    const std::size_t letters_start = i;
    long long column = 0;
    while (i < text.size() && is_letter(text[i])) {
        column = column * 26 + (upper(text[i]) - 'A' + 1);
        if (column > INT_MAX)
            column = INT_MAX;
        ++i;
    }
    if (i == letters_start)
        throw ExcelException(kNoLetters);

    const std::size_t y_dollars = run_of(text, i, '$');
    if (y_dollars > 1)
        throw ExcelException(kYFixed);
    i += y_dollars;

    // Same saturation for the row digits: a row that does not fit is off the sheet.
    const std::size_t digits_start = i;
    long long row = 0;
    while (i < text.size() && is_digit(text[i])) {
        row = row * 10 + (text[i] - '0');
        if (row > INT_MAX)
            row = INT_MAX;
        ++i;
    }
    if (i == digits_start)
        throw ExcelException(kNoDigits);

    ref = CellRef(static_cast<int>(column - 1), static_cast<int>(row - 1), x_dollars == 1, y_dollars == 1, sheet, book);
    return i;
}

std::size_t CellRef::parse_ref_rc_part(const std::string& text, char letter, int& number) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    char c = 0;
    if (!(in >> c) || c != letter)
        throw ExcelException(kNoLetterRC);
    char next = 0;
    if (!(in >> next))
        throw ExcelException(kTruncated);
    if (next == '[')
        throw ExcelException(kRelativeRC);
    in.putback(next);
    // The stream refuses anything that is not a number or does not fit in an int.
    int value = 0;
    if (!(in >> value))
        throw ExcelException(kRelativeRC);
    number = value;
    // Callers step over the part by its canonical length, not by what was read.
    return 1 + std::to_string(value).size();
}

std::size_t CellRef::parse_ref_rc(const std::string& text, CellRef& ref) {
    std::string book, sheet;
    const std::size_t p = parse_book_sheet_name(text, book, sheet);
    int r = 0, c = 0;
    const std::size_t k1 = parse_ref_rc_part(tail(text, p), 'R', r);
    const std::size_t k2 = parse_ref_rc_part(tail(text, p + k1), 'C', c);
    // R-2147483648 would underflow on the way to zero-based; it stays at INT_MIN.
    ref = CellRef(saturate(static_cast<long long>(c) - 1), saturate(static_cast<long long>(r) - 1), true, true, sheet,
                  book);
    return p + k1 + k2;
}

std::size_t CellRef::parse_ref(const std::string& text, CellRef& ref) {
    std::size_t n = 0;
    try {
        n = parse_ref_ln(text, ref);
    } catch (const ExcelException&) {
        return parse_ref_rc(text, ref);
    }
    // A ":" ends the first cell of a range; anything else means the text was R1C1 ("R1C2"
    // stops the A1 reading at "C").
    if (n == text.size() || text[n] == ':')
        return n;
    return parse_ref_rc(text, ref);
}

bool CellRef::coerce_to_cell(const std::string& text, CellRef& ref) {
    try {
        return parse_ref(text, ref) == text.size();
    } catch (const ExcelException&) {
        return false;
    }
}

bool operator==(const CellRef& a, const CellRef& b) {
    return a.x == b.x && a.y == b.y && a.x_fixed == b.x_fixed && a.y_fixed == b.y_fixed && a.sheet == b.sheet &&
           a.book == b.book;
}

bool operator!=(const CellRef& a, const CellRef& b) { return !(a == b); }

std::ostream& operator<<(std::ostream& os, const CellRef& ref) {
    ref.print(os);
    return os;
}

} // namespace excel
