#ifndef OMBRIX_IO_XLSXPARTS_HPP
#define OMBRIX_IO_XLSXPARTS_HPP

#include "engine/Value.hpp"
#include "engine/Workbook.hpp"
#include "io/Address.hpp"
#include "io/Package.hpp"
#include "io/Xml.hpp"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The contents of an .xlsx package as read from its XML parts, before they become a
// workbook: what the file says, cell by cell, with nothing evaluated.
namespace host::io {

enum class FormulaKind : std::uint8_t {
    None,
    Normal,
    SharedAnchor,    // carries the text and the block it covers
    SharedDependent, // text comes from its anchor, moved by the offset
    Array,           // evaluated in its anchor, which fills the block
    DataTable        // a what-if table's top-left cell: SheetRecord::data_tables says the rest
};

// What only formula cells have, apart from the cells' records (most cells are constants or
// a shared formula's other cells, which need none of it).
struct FormulaRecord {
    std::string text; // without the leading '='
    std::int32_t shared_index = -1;
    // Array: the block it fills, and whether the cell's metadata marks it a dynamic array
    // (its block is then where it spilled when saved). DataTable: its block.
    Address last;
    bool spills = false;
};

// 24 bytes: a million-cell sheet's records are held until the workbook is built.
class CellRecord {
public:
    // Formula indexes and shared formulas in a sheet: a detail's 27 bits.
    static constexpr std::uint32_t max_detail = (1u << 27) - 1;

    CellRecord() : row_(0), column_(0), kind_(0), detail_(0) {}
    // The constant, or for a formula the value cached in the file (maybe empty).
    engine::Value value;

    Address at() const { return Address{std::uint32_t(row_), std::uint32_t(column_)}; }
    FormulaKind kind() const { return FormulaKind(kind_); }
    // SharedDependent: its shared formula's index in SheetRecord::shared_indexes; the other
    // formula kinds: its index in SheetRecord::formulas.
    std::uint32_t detail() const { return std::uint32_t(detail_); }

    void set_at(Address at) {
        row_ = at.row;
        column_ = at.column;
    }
    void set_kind(FormulaKind kind, std::uint32_t detail) {
        kind_ = std::uint8_t(kind);
        detail_ = detail;
    }

private:
    std::uint64_t row_ : 20, column_ : 14, kind_ : 3, detail_ : 27;
};
static_assert(grid_rows <= (1u << 20) && grid_columns <= (1u << 14), "a record's place has 34 bits");

struct SheetRecord {
    std::string name;
    std::string part; // the worksheet part; empty for chart and dialog sheets
    bool hidden = false;
    // In document order; a deque, whose blocks building the workbook frees as it goes.
    std::deque<CellRecord> cells;
    std::vector<FormulaRecord> formulas;      // of the formula cells but a shared formula's others
    std::vector<std::int32_t> shared_indexes; // the shared formulas as the file numbers them, in order met
    std::vector<engine::TableDef> tables; // its table parts (the sheet index left 0)
    std::vector<std::uint32_t> hidden_rows;
    // Column widths in characters (without the cell's padding): the default (0 where the
    // sheet says none), and spans of columns of their own (first, last, width; 0 hidden).
    double default_width = 0;
    struct ColumnWidth {
        std::uint32_t first, last;
        double width;
    };
    std::vector<ColumnWidth> widths;
    // The ranges of the sheet's filter and its tables' filters that have criteria, header row
    // included: the hidden rows below a header are the ones a filter hides.
    std::vector<Block> filters;
    std::vector<engine::DataTableDef> data_tables; // (the sheet index left 0)
    std::vector<Block> merged;                     // merged cells, each block shown as one cell
};

struct NameRecord {
    std::string name;
    std::string formula;  // without '='
    int local_sheet = -1; // index into the sheets, -1 for a workbook-level name
    bool hidden = false;
};

// A linked workbook's copy (xl/externalLinks/externalLinkN.xml), as formulas number it ([1]).
struct LinkRecord {
    int number = 0;
    engine::LinkedBook book;
};

struct WorkbookRecord {
    std::string workbook_part;
    std::string shared_strings_part; // empty when the package has none
    std::vector<SheetRecord> sheets; // every sheet of the workbook, in tab order
    std::vector<NameRecord> names;
    std::vector<LinkRecord> links; // the linked workbooks with a copy of their values
    int active_sheet = 0;          // index into sheets
    bool date1904 = false;
    engine::CalcSettings calc;         // calcPr: iteration over circular references
    // The spreadsheet saved the file (its document properties say so): a newer function called
    // without its prefix was typed where the spreadsheet did not know it, and the formulas
    // read it as an unknown function (_xludf.NAME).
    bool spreadsheet_saved = false;
    std::vector<std::string> warnings; // what was left out, without the file's name
};

// Reads every part that holds cells. Throws io::IoError naming the file, and the sheet
// and cell where they apply.
WorkbookRecord read_workbook_parts(const Package& package);

// The range of an <autoFilter> element if it filters by some column (an element without
// criteria filters nothing: the rows hidden in its range were hidden by the user).
bool read_active_filter(const pugi::xml_node& auto_filter, Block& range);

// Whether the engine takes the formula of an <f> element as text: normal ones with text,
// shared and array ones. Data tables are read as such (SheetRecord::data_tables) and kept
// in the file as they are; empty marks (<f ca="1"/>) too, their cells holding their cached
// values.
bool formula_is_read(const pugi::xml_node& f);

// Whether a relationship's type is the one named by its last segment ("worksheet").
bool type_is(const std::string& type, const char* suffix);

// Errors newer than the file format (#SPILL!, #CALC!) are cached as #VALUE!, the cell's vm
// attribute naming their rich value; by vm - 1, the error of each value metadata entry.
using RichErrors = std::vector<std::optional<engine::ErrorCode>>;
RichErrors read_rich_errors(const Package& package, const std::vector<Relationship>& rels);

// The sheet's table parts: name, place, header and totals rows, column names.
void read_tables(const Package& package, SheetRecord& sheet);

// An external link part's copy of the linked workbook, from the part's text; false for links
// that hold none.
bool read_link(const Package& package, const std::string& part, std::string text,
               const std::vector<std::string>& strings, bool date1904, engine::LinkedBook& book);

// Whether the package's document properties (docProps/app.xml) name the spreadsheet as the
// application that saved it.
bool saved_by_spreadsheet(const Package& package);

// The workbook part, found through the package relationships.
std::string find_workbook_part(const Package& package);

// The strings of a sharedStrings part, rich text flattened.
std::vector<std::string> read_shared_strings(const Package& package, const std::string& part);

// The value held by a <c> element (empty when it has none); false with a reason when the
// element is malformed. With `interned` (as long as `strings`), the cells of one shared
// string share one text: a column of a few distinct names reads back from a few places in
// memory, not from one allocation a cell.
bool decode_value(const pugi::xml_node& c, const std::vector<std::string>& strings, bool date1904, engine::Value& out,
                  std::string& why, std::vector<engine::Value>* interned = nullptr);

// Decodes the _xHHHH_ escapes with which the format stores control characters.
std::string decode_escapes(std::string text);

// The reverse: control characters other than tab, line feed and carriage return (which the
// XML writer keeps as a character reference), U+FFFE, U+FFFF and text that would read as an
// escape are escaped so that the XML stays valid and reads back the same; bytes that are not
// UTF-8 become U+FFFD. Formula text (`formula`) keeps what looks like an escape as it is,
// unless it is one of the escapes formula text is read with.
std::string encode_escapes(const std::string& text, bool formula = false);

// Formula text as read: only the escapes of characters XML cannot carry are decoded (other
// programs read formula text as written).
std::string decode_formula_escapes(std::string text);

// The format's white space (space, tab, CR, LF) off both ends.
std::string_view trim_xml_space(std::string_view s);

// A whole attribute or element text as a number (white space around it allowed); false if
// anything else is in it. A decimal that underflows reads as zero.
bool read_double(std::string_view text, double& out);
bool read_int(std::string_view text, long long& out);

// An ISO 8601 date, date-time or time ("2024-02-29", "2024-02-29T12:00:00", "10:10:10") as a
// serial day number (a time alone is a fraction of day 0); false if malformed.
bool parse_iso_date(const std::string& text, bool date1904, double& serial);

} // namespace host::io

#endif
