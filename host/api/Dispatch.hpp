#ifndef OMBRIX_HOST_API_DISPATCH_HPP
#define OMBRIX_HOST_API_DISPATCH_HPP

// The inside of Host::call: one call being answered, and the value records it reads and
// builds. A function number is one case in Dispatch::run (Dispatch.cpp) and one member
// below, defined in the file of its concern.

#include "api/Host.hpp"
#include "api/Text.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host::api {

namespace detail {

using engine::ErrorCode;
using engine::Value;

// A request refused with `code`: thrown by the checks, turned into the return code by
// Host::call.
struct Refusal {
    int code;
};
[[noreturn]] void refuse(int code);

// The largest block the host reads or writes in one call. A whole column is 65,536 cells;
// a request for much more is refused rather than answered with hundreds of megabytes.
constexpr std::size_t max_block_cells = std::size_t(1) << 20;

// ---- value records (Records.cpp) ----

constexpr std::uint16_t memory_bits = xlbitDLLFree | 0x1000;

inline std::uint16_t base_type(const XLOPER& v) { return static_cast<std::uint16_t>(v.xltype & ~memory_bits); }
inline bool is_reference(std::uint16_t t) { return t == xltypeRef || t == xltypeSRef; }
bool is_scalar_type(std::uint16_t t);

std::uint16_t error_number(ErrorCode code);
// The error of a record's error number; refuses a number that is no error.
ErrorCode error_code(std::uint16_t number);

inline XLOPER error_value(ErrorCode code) {
    XLOPER v;
    v.val.err = error_number(code);
    v.xltype = xltypeErr;
    return v;
}

inline XLOPER bool_value(bool b) {
    XLOPER v;
    v.val.xbool = b ? 1 : 0;
    v.xltype = xltypeBool;
    return v;
}

inline XLOPER num_value(double x) {
    XLOPER v;
    v.val.num = x;
    v.xltype = xltypeNum;
    return v;
}

inline XLOPER nil_value() {
    XLOPER v;
    v.val.num = 0;
    v.xltype = xltypeNil;
    return v;
}

inline std::string_view counted(const char* s) { return std::string_view(s + 1, static_cast<unsigned char>(s[0])); }

// A scalar record as a cell value. Missing reads as empty, a 16-bit integer as a number.
Value scalar_of(const XLOPER& v);
// A checked xltypeMulti argument: a non-null array of at least one element.
std::size_t multi_size(const XLOPER& v);

// ---- one value read as another type (Coerce.cpp); none when it does not read as one ----

std::optional<bool> text_as_bool(std::string_view t);
std::optional<double> number_of(const Value& v);
std::optional<std::string> text_of(const Value& v);
std::optional<bool> bool_of(const Value& v);
std::optional<std::int16_t> int_of(const Value& v);

// A rectangle of one sheet, from an xltypeSRef or a one-area xltypeRef.
struct Area {
    int sheet;
    XLREF rect;
    int rows() const { return rect.rwLast - rect.rwFirst + 1; }
    int columns() const { return rect.colLast - rect.colFirst + 1; }
    std::size_t cells() const { return std::size_t(rows()) * std::size_t(columns()); }
    engine::CellAddress cell(int row, int column) const {
        return engine::CellAddress{sheet, rect.rwFirst + row, rect.colFirst + column};
    }
};

} // namespace detail

// One call being answered: the session, the arguments, and the result being built. The
// members that answer a function number return its code; refusals throw.
struct Dispatch {
    using Value = engine::Value;
    using Area = detail::Area;

    Host& host;
    int count;
    XLOPER* const* args;
    XLOPER out = detail::nil_value();

    // The switch over function numbers (Dispatch.cpp).
    int run(int xlfn);

    // The arguments and the result (Records.cpp).
    Allocations& memory() { return host.allocations_; }
    engine::Workbook& book() { return *host.workbook_; }
    const XLOPER& arg(int i) const { return *args[i]; }
    std::uint16_t type(int i) const { return detail::base_type(*args[i]); }
    bool given(int i) const { return i < count && type(i) != xltypeMissing; }
    void want_count(int low, int high) const;
    void check_records() const;
    std::string text_arg(int i, bool optional);
    long int_arg(int i);
    void put(const Value& v, XLOPER& dst, XLOPER* owner);
    void put_text(std::string_view text, XLOPER& dst, XLOPER* owner);
    void set_text_result(std::string_view text) { put_text(text, out, nullptr); }
    XLOPER* start_array(int rows, int columns);
    void discard();
    int free_values(); // xlFree

    // References and the cells behind them (Cells.cpp).
    Area area_of(const XLOPER& v);
    static void check_block(const Area& a);
    void area_values(const Area& a);
    void make_ref(int sheet, const XLREF& rect);
    Table table_of(const XLOPER& v);
    int find_sheet(std::string_view name);
    int do_set();     // xlSet
    int sheet_id();   // xlSheetId
    int sheet_name(); // xlSheetNm
    int caller();     // xlfCaller

    // Several candidates at once (Batch.cpp).
    int evaluate_batch(); // xlEvaluateBatch

    // Coercion (Coerce.cpp).
    int do_coerce(); // xlCoerce
    void coerce(const XLOPER& src, std::optional<std::uint16_t> target);
    void coerce_scalar(const Value& v, std::uint16_t source_type, std::uint16_t mask);

    // Registration (Registration.cpp).
    Registration* registration_of(std::string_view module, std::string_view procedure);
    bool resolvable(const std::string& module, const std::string& procedure);
    double record(std::vector<std::string> arguments);
    int do_register(); // xlfRegister
    int register_id(); // xlfRegisterId
    int unregister();  // xlfUnregister
    int get_name();    // xlGetName

    // Menus (Menus.cpp).
    std::vector<Menu>* bar_arg(int i);
    std::vector<Menu>::iterator menu_arg(std::vector<Menu>& bar, int i);
    int add_menu();    // xlfAddMenu
    int delete_menu(); // xlfDeleteMenu
    int get_bar();     // xlfGetBar

    // Names (Names.cpp).
    int set_name(); // xlfSetName

    // Dialogs and alerts (Dialogs.cpp).
    int dialog_box(); // xlfDialogBox
    int alert();      // xlcAlert

    // The program around the workbook (Workspace.cpp).
    int get_workspace(); // xlfGetWorkspace
    int echo();          // xlcEcho
    int activate();      // xlcActivate

    // Worksheet functions (SheetFunctions.cpp).
    int is_text();    // xlfIstext
    int logical_or(); // xlfOr

    // While a command runs (Status.cpp).
    int check_break(); // xlAbort
    int message();     // xlcMessage
};

} // namespace host::api

#endif
