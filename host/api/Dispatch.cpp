// Answers each callback the add-in makes, over the host's workbook.
//
// Every request is checked before anything changes: a value record of an unknown type or
// with broken insides answers xlretInvXloper, a wrong argument count xlretInvCount, an
// unknown function number xlretInvXlfn, and a request that is well formed but cannot be done
// (a reference off the sheet, an unknown sheet, a text that is no number) xlretFailed. A
// result is built aside and handed over only when the whole call succeeded, so a failure
// leaves no memory behind.

#include "api/Host.hpp"
#include "api/Text.hpp"

#include <cmath>
#include <new>

namespace host::api {

namespace {

using engine::ErrorCode;
using engine::Value;

struct Refusal {
    int code;
};

[[noreturn]] void refuse(int code) { throw Refusal{code}; }

constexpr std::uint16_t memory_bits = xlbitDLLFree | 0x1000;
constexpr int max_args = 30;
// The largest block the host reads or writes in one call. A whole column is 65,536 cells;
// a request for much more is refused rather than answered with hundreds of megabytes.
constexpr std::size_t max_block_cells = std::size_t(1) << 20;

std::uint16_t base_type(const XLOPER& v) { return static_cast<std::uint16_t>(v.xltype & ~memory_bits); }

std::uint16_t error_number(ErrorCode code) {
    switch (code) {
    case ErrorCode::Null: return 0;
    case ErrorCode::Div0: return 7;
    case ErrorCode::Value: return 15;
    case ErrorCode::Ref: return 23;
    case ErrorCode::Name: return 29;
    case ErrorCode::Num: return 36;
    case ErrorCode::NA: return 42;
    }
    return 15;
}

ErrorCode error_code(std::uint16_t number) {
    switch (number) {
    case 0: return ErrorCode::Null;
    case 7: return ErrorCode::Div0;
    case 15: return ErrorCode::Value;
    case 23: return ErrorCode::Ref;
    case 29: return ErrorCode::Name;
    case 36: return ErrorCode::Num;
    case 42: return ErrorCode::NA;
    default: refuse(xlretInvXloper);
    }
}

XLOPER error_value(ErrorCode code) {
    XLOPER v;
    v.val.err = error_number(code);
    v.xltype = xltypeErr;
    return v;
}

XLOPER bool_value(bool b) {
    XLOPER v;
    v.val.xbool = b ? 1 : 0;
    v.xltype = xltypeBool;
    return v;
}

XLOPER num_value(double x) {
    XLOPER v;
    v.val.num = x;
    v.xltype = xltypeNum;
    return v;
}

XLOPER nil_value() {
    XLOPER v;
    v.val.num = 0;
    v.xltype = xltypeNil;
    return v;
}

std::string_view counted(const char* s) {
    return std::string_view(s + 1, static_cast<unsigned char>(s[0]));
}

// A scalar record as a cell value. Missing reads as empty, a 16-bit integer as a number.
Value scalar_of(const XLOPER& v) {
    switch (base_type(v)) {
    case xltypeNum: return Value::number(v.val.num);
    case xltypeStr:
        if (v.val.str == nullptr)
            refuse(xlretInvXloper);
        return Value::text(counted(v.val.str));
    case xltypeBool: return Value::boolean(v.val.xbool != 0);
    case xltypeErr: return Value::error(error_code(v.val.err));
    case xltypeInt: return Value::number(v.val.w);
    case xltypeNil:
    case xltypeMissing: return Value();
    default: refuse(xlretInvXloper);
    }
}

bool is_scalar_type(std::uint16_t t) {
    switch (t) {
    case xltypeNum: case xltypeStr: case xltypeBool: case xltypeErr:
    case xltypeInt: case xltypeNil: case xltypeMissing:
        return true;
    default:
        return false;
    }
}

bool is_reference(std::uint16_t t) { return t == xltypeRef || t == xltypeSRef; }

// A checked xltypeMulti argument: a non-null array of at least one element.
std::size_t multi_size(const XLOPER& v) {
    if (v.val.array.lparray == nullptr || v.val.array.rows == 0 || v.val.array.columns == 0)
        refuse(xlretInvXloper);
    return std::size_t(v.val.array.rows) * v.val.array.columns;
}

std::optional<bool> text_as_bool(std::string_view t) {
    if (same_text(t, "TRUE"))
        return true;
    if (same_text(t, "FALSE"))
        return false;
    return std::nullopt;
}

// The number a scalar reads as, for a number target; none when it does not read as one.
std::optional<double> number_of(const Value& v) {
    switch (v.type()) {
    case engine::ValueType::Number: return v.as_number();
    case engine::ValueType::Boolean: return v.as_boolean() ? 1.0 : 0.0;
    case engine::ValueType::Empty: return 0.0;
    case engine::ValueType::Text: return engine::parse_number(v.as_text());
    case engine::ValueType::Error: break;
    }
    return std::nullopt;
}

std::optional<std::string> text_of(const Value& v) {
    switch (v.type()) {
    case engine::ValueType::Number: return general_text(v.as_number());
    case engine::ValueType::Boolean: return std::string(v.as_boolean() ? "TRUE" : "FALSE");
    case engine::ValueType::Empty: return std::string();
    case engine::ValueType::Text: return std::string(v.as_text());
    case engine::ValueType::Error: break;
    }
    return std::nullopt;
}

std::optional<bool> bool_of(const Value& v) {
    switch (v.type()) {
    case engine::ValueType::Number: return v.as_number() != 0;
    case engine::ValueType::Boolean: return v.as_boolean();
    case engine::ValueType::Empty: return false;
    case engine::ValueType::Text: return text_as_bool(v.as_text());
    case engine::ValueType::Error: break;
    }
    return std::nullopt;
}

std::optional<std::int16_t> int_of(const Value& v) {
    std::optional<double> x = number_of(v);
    if (!x)
        return std::nullopt;
    // Rounded half away from zero, as the spreadsheet turns numbers into whole arguments.
    double r = std::round(*x);
    if (!(r >= -32768.0 && r <= 32767.0))
        return std::nullopt;
    return static_cast<std::int16_t>(r);
}

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

} // namespace

struct Dispatch {
    Host& host;
    int count;
    XLOPER* const* args;
    XLOPER out = nil_value();   // the result being built

    Allocations& memory() { return host.allocations_; }
    engine::Workbook& book() { return *host.workbook_; }

    const XLOPER& arg(int i) const { return *args[i]; }
    std::uint16_t type(int i) const { return base_type(*args[i]); }
    bool given(int i) const { return i < count && type(i) != xltypeMissing; }

    void want_count(int low, int high) const {
        if (count < low || count > high)
            refuse(xlretInvCount);
    }

    // Every argument must be a record of a known type with sound insides.
    void check_records() const {
        for (int i = 0; i < count; ++i) {
            const XLOPER& v = arg(i);
            switch (base_type(v)) {
            case xltypeStr:
                if (v.val.str == nullptr)
                    refuse(xlretInvXloper);
                break;
            case xltypeErr:
                error_code(v.val.err);
                break;
            case xltypeMulti: {
                std::size_t n = multi_size(v);
                for (std::size_t k = 0; k < n; ++k) {
                    const XLOPER& e = v.val.array.lparray[k];
                    if (!is_scalar_type(base_type(e)))
                        refuse(xlretInvXloper);
                    scalar_of(e);
                }
                break;
            }
            case xltypeRef:
                if (v.val.mref.lpmref == nullptr || v.val.mref.lpmref->count == 0)
                    refuse(xlretInvXloper);
                break;
            case xltypeSRef:
                if (v.val.sref.count != 1)
                    refuse(xlretInvXloper);
                break;
            case xltypeNum: case xltypeBool: case xltypeInt: case xltypeNil: case xltypeMissing:
                break;
            default:
                refuse(xlretInvXloper);
            }
        }
    }

    // ---- building the result -------------------------------------------------------------

    // Puts a cell value into a record; a string goes with `owner` when one is given.
    void put(const Value& v, XLOPER& dst, XLOPER* owner) {
        switch (v.type()) {
        case engine::ValueType::Empty: dst = nil_value(); break;
        case engine::ValueType::Number: dst = num_value(v.as_number()); break;
        case engine::ValueType::Boolean: dst = bool_value(v.as_boolean()); break;
        case engine::ValueType::Error: dst = error_value(v.as_error()); break;
        case engine::ValueType::Text: put_text(v.as_text(), dst, owner); break;
        }
    }

    void put_text(std::string_view text, XLOPER& dst, XLOPER* owner) {
        // The record's length byte cannot say more than 255: refuse rather than cut.
        char* s = memory().make_string(text);
        if (s == nullptr)
            refuse(xlretFailed);
        if (owner != nullptr)
            memory().adopt_element_string(owner, s);
        dst.val.str = s;
        dst.xltype = xltypeStr;
    }

    // Starts an xltypeMulti result; its elements are nil until filled.
    XLOPER* start_array(int rows, int columns) {
        if (rows < 1 || columns < 1 || rows > 65535 || columns > 65535)
            refuse(xlretFailed);
        XLOPER* a = memory().make_array(std::size_t(rows) * std::size_t(columns));
        out.val.array.lparray = a;
        out.val.array.rows = static_cast<std::uint16_t>(rows);
        out.val.array.columns = static_cast<std::uint16_t>(columns);
        out.xltype = xltypeMulti;
        return a;
    }

    void set_text_result(std::string_view text) { put_text(text, out, nullptr); }

    // Releases a result that will not be handed over.
    void discard() {
        memory().release(out);
        out = nil_value();
    }

    // ---- references --------------------------------------------------------------------------

    Area area_of(const XLOPER& v) {
        Area a{};
        switch (base_type(v)) {
        case xltypeSRef:
            if (v.val.sref.count != 1)
                refuse(xlretInvXloper);
            a.sheet = book().active_sheet();
            a.rect = v.val.sref.ref;
            break;
        case xltypeRef:
            if (v.val.mref.lpmref == nullptr || v.val.mref.lpmref->count == 0)
                refuse(xlretInvXloper);
            if (v.val.mref.lpmref->count != 1)
                refuse(xlretFailed);   // several areas: nothing the add-in asks for
            a.sheet = host.sheet_of(v.val.mref.idSheet);
            if (a.sheet < 0)
                refuse(xlretFailed);
            a.rect = v.val.mref.lpmref->reftbl[0];
            break;
        default:
            refuse(xlretFailed);
        }
        if (a.rect.rwFirst > a.rect.rwLast || a.rect.colFirst > a.rect.colLast)
            refuse(xlretFailed);
        return a;
    }

    // The values of an area as an xltypeMulti result.
    static void check_block(const Area& a) {
        if (a.cells() > max_block_cells)
            refuse(xlretFailed);
    }

    void area_values(const Area& a) {
        check_block(a);
        XLOPER* elements = start_array(a.rows(), a.columns());
        for (int r = 0; r < a.rows(); ++r)
            for (int c = 0; c < a.columns(); ++c)
                put(book().value(a.cell(r, c)), elements[r * a.columns() + c], elements);
    }

    void make_ref(int sheet, const XLREF& rect) {
        out.val.mref.lpmref = memory().make_mref(rect);
        out.val.mref.idSheet = host.sheet_id(sheet);
        out.xltype = xltypeRef;
    }

    // ---- coercion ------------------------------------------------------------------------------

    // A scalar converted to the first type of the mask it reads as, in the order number,
    // text, boolean, integer, array, empty. An error value stays an error: the spreadsheet
    // answers it with success and leaves the caller to look at the type.
    void coerce_scalar(const Value& v, std::uint16_t source_type, std::uint16_t mask) {
        if (source_type == xltypeMissing) {
            if (mask & xltypeMissing) {
                out.xltype = xltypeMissing;
                return;
            }
            refuse(xlretFailed);
        }
        if (v.is_error()) {
            out = error_value(v.as_error());
            return;
        }
        if ((mask & xltypeInt) && source_type == xltypeInt) {
            out.val.w = static_cast<std::int16_t>(v.as_number());
            out.xltype = xltypeInt;
            return;
        }
        // The value's own type first, so that a text asked for as number-or-text stays text.
        static const engine::ValueType own[] = {engine::ValueType::Number, engine::ValueType::Text,
                                                engine::ValueType::Boolean, engine::ValueType::Empty};
        static const std::uint16_t own_code[] = {xltypeNum, xltypeStr, xltypeBool, xltypeNil};
        for (int k = 0; k < 4; ++k)
            if (v.type() == own[k] && (mask & own_code[k]) && source_type != xltypeInt) {
                put(v, out, nullptr);
                return;
            }
        if (mask & xltypeNum)
            if (auto x = number_of(v)) {
                out = num_value(*x);
                return;
            }
        if (mask & xltypeStr)
            if (auto t = text_of(v)) {
                set_text_result(*t);
                return;
            }
        if (mask & xltypeBool)
            if (auto b = bool_of(v)) {
                out = bool_value(*b);
                return;
            }
        if (mask & xltypeInt)
            if (auto i = int_of(v)) {
                out.val.w = *i;
                out.xltype = xltypeInt;
                return;
            }
        if (mask & xltypeMulti) {
            XLOPER* e = start_array(1, 1);
            put(v, e[0], e);
            return;
        }
        if ((mask & xltypeNil) && v.is_empty()) {
            out = nil_value();
            return;
        }
        refuse(xlretFailed);
    }

    void coerce(const XLOPER& src, std::optional<std::uint16_t> target) {
        std::uint16_t t = base_type(src);
        constexpr std::uint16_t known = xltypeNum | xltypeStr | xltypeBool | xltypeRef | xltypeErr | xltypeMulti |
                                        xltypeMissing | xltypeNil | xltypeSRef | xltypeInt;
        if (target && (*target == 0 || (*target & ~known) != 0))
            refuse(xlretFailed);
        if (is_reference(t)) {
            Area a = area_of(src);
            if (!target) {
                // No target: the referenced values, one value for one cell.
                if (a.rows() == 1 && a.columns() == 1)
                    put(book().value(a.cell(0, 0)), out, nullptr);
                else
                    area_values(a);
                return;
            }
            std::uint16_t mask = *target;
            if (mask & (xltypeRef | xltypeSRef)) {
                if ((mask & xltypeSRef) && (t == xltypeSRef || a.sheet == book().active_sheet())) {
                    out.val.sref.count = 1;
                    out.val.sref.ref = a.rect;
                    out.xltype = xltypeSRef;
                } else if (mask & xltypeRef) {
                    make_ref(a.sheet, a.rect);
                } else {
                    refuse(xlretFailed);   // a reference to another sheet has no short form
                }
                return;
            }
            if (mask & xltypeMulti) {
                area_values(a);
                return;
            }
            // A block read as one value reads its top-left cell.
            coerce_scalar(book().value(a.cell(0, 0)), xltypeNil, mask);
            return;
        }
        if (t == xltypeMulti) {
            std::size_t n = multi_size(src);
            if (!target || (*target & xltypeMulti)) {
                XLOPER* e = start_array(src.val.array.rows, src.val.array.columns);
                for (std::size_t k = 0; k < n; ++k)
                    put(scalar_of(src.val.array.lparray[k]), e[k], e);
                return;
            }
            const XLOPER& first = src.val.array.lparray[0];
            coerce_scalar(scalar_of(first), base_type(first), *target);
            return;
        }
        if (!is_scalar_type(t))
            refuse(xlretInvXloper);
        if (!target) {
            if (t == xltypeInt || t == xltypeMissing) {
                out = src;
                out.xltype = t;
            } else {
                put(scalar_of(src), out, nullptr);
            }
            return;
        }
        coerce_scalar(scalar_of(src), t, *target);
    }

    // ---- the operations ------------------------------------------------------------------------

    int free_values() {
        want_count(1, max_args);
        bool all_known = true;
        for (int i = 0; i < count; ++i)
            all_known = memory().release(arg(i)) && all_known;
        return all_known ? xlretSuccess : xlretFailed;
    }

    int do_coerce() {
        want_count(1, 2);
        std::optional<std::uint16_t> target;
        if (given(1)) {
            if (type(1) == xltypeInt)
                target = static_cast<std::uint16_t>(arg(1).val.w);
            else if (type(1) == xltypeNum && arg(1).val.num >= 0 && arg(1).val.num <= 65535 &&
                     arg(1).val.num == std::floor(arg(1).val.num))
                target = static_cast<std::uint16_t>(arg(1).val.num);
            else
                refuse(xlretFailed);
        }
        coerce(arg(0), target);
        return xlretSuccess;
    }

    int do_set() {
        want_count(1, 2);
        if (!is_reference(type(0)))
            refuse(xlretFailed);
        Area a = area_of(arg(0));
        check_block(a);
        auto& pending = host.pending_;
        pending.clear();
        std::size_t cells = std::size_t(a.rows()) * std::size_t(a.columns());
        pending.reserve(cells);
        if (count < 2 || is_scalar_type(type(1))) {
            // One value (none: empty) into every cell of the area.
            Value v = count < 2 ? Value() : scalar_of(arg(1));
            for (int r = 0; r < a.rows(); ++r)
                for (int c = 0; c < a.columns(); ++c)
                    pending.emplace_back(a.cell(r, c), v);
        } else if (type(1) == xltypeMulti) {
            const XLOPER& m = arg(1);
            multi_size(m);
            if (m.val.array.rows != a.rows() || m.val.array.columns != a.columns())
                refuse(xlretFailed);
            for (int r = 0; r < a.rows(); ++r)
                for (int c = 0; c < a.columns(); ++c)
                    pending.emplace_back(a.cell(r, c), scalar_of(m.val.array.lparray[r * a.columns() + c]));
        } else {
            refuse(xlretFailed);
        }
        book().set_values(pending);
        pending.clear();
        if (!book().automatic())
            book().recalculate();
        out = bool_value(true);
        return xlretSuccess;
    }

    int sheet_id() {
        want_count(0, 1);
        int sheet = book().active_sheet();
        if (given(0)) {
            if (type(0) != xltypeStr)
                refuse(xlretFailed);
            sheet = find_sheet(counted(arg(0).val.str));
            if (sheet < 0)
                refuse(xlretFailed);
        }
        out.val.mref.lpmref = nullptr;
        out.val.mref.idSheet = host.sheet_id(sheet);
        out.xltype = xltypeRef;
        return xlretSuccess;
    }

    // "Sheet1" or "[Book1]Sheet1".
    int find_sheet(std::string_view name) {
        if (!name.empty() && name.front() == '[') {
            std::size_t close = name.find(']');
            if (close == std::string_view::npos || !same_text(name.substr(1, close - 1), host.book_name_))
                return -1;
            name.remove_prefix(close + 1);
        }
        return book().find_sheet(name);
    }

    int sheet_name() {
        want_count(1, 1);
        if (!is_reference(type(0)))
            refuse(xlretFailed);
        // Only the sheet matters: a reference without a rectangle (as xlSheetId gives) names
        // its sheet as well.
        int sheet;
        if (type(0) == xltypeRef) {
            sheet = host.sheet_of(arg(0).val.mref.idSheet);
            if (sheet < 0)
                refuse(xlretFailed);
        } else {
            sheet = area_of(arg(0)).sheet;
        }
        set_text_result("[" + host.book_name_ + "]" + book().sheet_name(sheet));
        return xlretSuccess;
    }

    int get_name() {
        want_count(0, 0);
        set_text_result(host.module_path_);
        return xlretSuccess;
    }

    int caller() {
        want_count(0, 0);
        if (!host.caller_) {
            out = error_value(ErrorCode::Ref);
            return xlretSuccess;
        }
        out.val.sref.count = 1;
        out.val.sref.ref.rwFirst = out.val.sref.ref.rwLast = host.caller_->first;
        out.val.sref.ref.colFirst = out.val.sref.ref.colLast = host.caller_->second;
        out.xltype = xltypeSRef;
        return xlretSuccess;
    }

    // An argument that must be text; missing or empty arguments give "" when optional.
    std::string text_arg(int i, bool optional) {
        if (i >= count || type(i) == xltypeMissing || type(i) == xltypeNil) {
            if (!optional)
                refuse(xlretFailed);
            return std::string();
        }
        switch (type(i)) {
        case xltypeStr: return std::string(counted(arg(i).val.str));
        case xltypeNum: case xltypeBool: case xltypeInt: {
            // A number that is not finite reads as #NUM!, which has no text.
            std::optional<std::string> t = text_of(scalar_of(arg(i)));
            if (!t)
                refuse(xlretFailed);
            return *t;
        }
        default: refuse(xlretFailed);
        }
    }

    // An argument that must be a whole number.
    long int_arg(int i) {
        if (i >= count)
            refuse(xlretFailed);
        if (type(i) == xltypeInt)
            return arg(i).val.w;
        if (type(i) == xltypeNum && std::isfinite(arg(i).val.num) && std::fabs(arg(i).val.num) < 1e9)
            return std::lround(std::trunc(arg(i).val.num));
        refuse(xlretFailed);
    }

    int alert() {
        want_count(1, 2);
        Alert a;
        if (!is_scalar_type(type(0)) || type(0) == xltypeMissing || type(0) == xltypeErr)
            refuse(xlretFailed);
        a.text = text_arg(0, false);
        a.type = given(1) ? static_cast<int>(int_arg(1)) : 2;
        if (a.type < 1 || a.type > 3)
            refuse(xlretFailed);
        host.alerts_.push_back(a);
        if (host.alert_handler_)
            host.alert_handler_(a);
        out = bool_value(true);
        return xlretSuccess;
    }

    // ---- registration --------------------------------------------------------------------------

    Registration* registration_of(std::string_view module, std::string_view procedure) {
        for (Registration& r : host.registrations_)
            if (same_text(r.module(), module) && same_text(r.procedure(), procedure))
                return &r;
        return nullptr;
    }

    bool resolvable(const std::string& module, const std::string& procedure) {
        if (module.empty() || procedure.empty())
            return false;
        return !host.resolver_ || host.resolver_(module, procedure);
    }

    // Records a registration (again, for the same module and procedure: same id).
    double record(std::vector<std::string> arguments) {
        if (arguments.size() < 3)
            arguments.resize(3);
        if (Registration* r = registration_of(arguments[0], arguments[1])) {
            r->arguments = std::move(arguments);
            return r->id;
        }
        Registration r;
        r.id = host.next_register_id_++;
        r.arguments = std::move(arguments);
        host.registrations_.push_back(std::move(r));
        return host.registrations_.back().id;
    }

    int do_register() {
        want_count(3, max_args);
        std::vector<std::string> arguments;
        for (int i = 0; i < count; ++i)
            arguments.push_back(text_arg(i, i >= 2));
        if (!resolvable(arguments[0], arguments[1])) {
            out = error_value(ErrorCode::Value);
            return xlretSuccess;
        }
        out = num_value(record(std::move(arguments)));
        return xlretSuccess;
    }

    int register_id() {
        want_count(2, 3);
        std::string module = text_arg(0, false);
        std::string procedure = text_arg(1, false);
        std::string type_text = text_arg(2, true);
        if (const Registration* r = registration_of(module, procedure)) {
            out = num_value(r->id);
        } else if (!type_text.empty() && resolvable(module, procedure)) {
            out = num_value(record({module, procedure, type_text}));
        } else {
            out = error_value(ErrorCode::Value);
        }
        return xlretSuccess;
    }

    int unregister() {
        want_count(1, 1);
        auto& regs = host.registrations_;
        auto it = regs.end();
        if (type(0) == xltypeNum || type(0) == xltypeInt) {
            double id = type(0) == xltypeNum ? arg(0).val.num : arg(0).val.w;
            for (it = regs.begin(); it != regs.end() && it->id != id; ++it) {
            }
        } else if (type(0) == xltypeStr) {
            std::string_view name = counted(arg(0).val.str);
            for (it = regs.begin(); it != regs.end(); ++it)
                if (same_text(it->argument(3), name) || same_text(it->procedure(), name))
                    break;
        } else {
            refuse(xlretFailed);
        }
        out = bool_value(it != regs.end());
        if (it != regs.end())
            regs.erase(it);
        return xlretSuccess;
    }

    // ---- menus ---------------------------------------------------------------------------------

    std::vector<Menu>* bar_arg(int i) {
        auto it = host.bars_.find(static_cast<int>(int_arg(i)));
        return it == host.bars_.end() ? nullptr : &it->second;
    }

    // A menu named by title or by 1-based position; end() when there is none.
    std::vector<Menu>::iterator menu_arg(std::vector<Menu>& bar, int i) {
        if (type(i) == xltypeStr) {
            std::string_view title = counted(arg(i).val.str);
            for (auto it = bar.begin(); it != bar.end(); ++it)
                if (same_menu_title(it->title, title))
                    return it;
            return bar.end();
        }
        long position = int_arg(i);
        if (position < 1 || position > static_cast<long>(bar.size()))
            return bar.end();
        return bar.begin() + (position - 1);
    }

    int add_menu() {
        want_count(2, 3);
        std::vector<Menu>* bar = bar_arg(0);
        if (type(1) != xltypeMulti)
            refuse(xlretFailed);
        const XLOPER& table = arg(1);
        multi_size(table);
        if (table.val.array.columns > 5)
            refuse(xlretFailed);
        if (bar == nullptr) {
            out = error_value(ErrorCode::Value);
            return xlretSuccess;
        }
        Menu menu;
        int columns = table.val.array.columns;
        for (int r = 0; r < table.val.array.rows; ++r) {
            std::vector<std::string> row(5);
            for (int c = 0; c < columns; ++c) {
                const XLOPER& e = table.val.array.lparray[r * columns + c];
                std::optional<std::string> t = text_of(scalar_of(e));
                if (!t)
                    refuse(xlretFailed);
                row[static_cast<std::size_t>(c)] = *t;
            }
            if (r == 0)
                menu.title = row[0];
            else
                menu.items.push_back(std::move(row));
        }
        if (menu.title.empty()) {
            out = error_value(ErrorCode::Value);
            return xlretSuccess;
        }
        auto where = bar->end();
        if (given(2)) {
            where = menu_arg(*bar, 2);
            if (where == bar->end()) {
                out = error_value(ErrorCode::Value);
                return xlretSuccess;
            }
        }
        where = bar->insert(where, std::move(menu));
        out = num_value(static_cast<double>(where - bar->begin() + 1));
        return xlretSuccess;
    }

    int delete_menu() {
        want_count(2, 2);
        std::vector<Menu>* bar = bar_arg(0);
        if (type(1) != xltypeStr && type(1) != xltypeNum && type(1) != xltypeInt)
            refuse(xlretFailed);
        auto it = bar == nullptr ? std::vector<Menu>::iterator() : menu_arg(*bar, 1);
        if (bar == nullptr || it == bar->end()) {
            out = error_value(ErrorCode::Value);
            return xlretSuccess;
        }
        bar->erase(it);
        out = bool_value(true);
        return xlretSuccess;
    }

    int get_bar() {
        if (count == 0) {
            out = num_value(worksheet_menu_bar);   // the active menu bar
            return xlretSuccess;
        }
        want_count(3, 3);
        std::vector<Menu>* bar = bar_arg(0);
        if (type(1) != xltypeStr && type(1) != xltypeNum && type(1) != xltypeInt)
            refuse(xlretFailed);
        long item = int_arg(2);
        auto it = bar == nullptr ? std::vector<Menu>::iterator() : menu_arg(*bar, 1);
        if (bar == nullptr || it == bar->end() || item < 0 || item > static_cast<long>(it->items.size())) {
            out = error_value(ErrorCode::NA);
            return xlretSuccess;
        }
        set_text_result(item == 0 ? it->title : it->items[static_cast<std::size_t>(item - 1)][0]);
        return xlretSuccess;
    }

    // ---- names and dialogs ---------------------------------------------------------------------

    Table table_of(const XLOPER& v) {
        Table t;
        if (is_reference(base_type(v))) {
            Area a = area_of(v);
            check_block(a);
            t.rows = a.rows();
            t.columns = a.columns();
            for (int r = 0; r < t.rows; ++r)
                for (int c = 0; c < t.columns; ++c)
                    t.cells.push_back(book().value(a.cell(r, c)));
        } else if (base_type(v) == xltypeMulti) {
            std::size_t n = multi_size(v);
            t.rows = v.val.array.rows;
            t.columns = v.val.array.columns;
            for (std::size_t k = 0; k < n; ++k)
                t.cells.push_back(scalar_of(v.val.array.lparray[k]));
        } else {
            t.rows = t.columns = 1;
            t.cells.push_back(scalar_of(v));
        }
        return t;
    }

    int set_name() {
        want_count(1, 2);
        std::string name = text_arg(0, false);
        if (name.empty())
            refuse(xlretFailed);
        if (count == 1) {
            host.names_.erase(upper(name));
        } else {
            // Defined by value: a reference is read when the name is set.
            host.names_[upper(name)] = table_of(arg(1));
        }
        out = bool_value(true);
        return xlretSuccess;
    }

    int dialog_box() {
        want_count(1, 1);
        if (type(0) != xltypeMulti)
            refuse(xlretFailed);
        const XLOPER& m = arg(0);
        multi_size(m);
        if (m.val.array.columns > 7)
            refuse(xlretFailed);
        // The front end always sees seven columns; a shorter table has empty trailing ones.
        Table t;
        t.rows = m.val.array.rows;
        t.columns = 7;
        t.cells.resize(std::size_t(t.rows) * 7);
        for (int r = 0; r < t.rows; ++r)
            for (int c = 0; c < m.val.array.columns; ++c)
                t.at(r, c) = scalar_of(m.val.array.lparray[r * m.val.array.columns + c]);
        ++host.dialogs_shown_;
        bool ok = host.dialog_handler_ && host.dialog_handler_(t);
        if (!ok) {
            out = bool_value(false);
            return xlretSuccess;
        }
        if (t.columns != 7 || t.rows != m.val.array.rows ||
            t.cells.size() != std::size_t(t.rows) * 7)
            refuse(xlretFailed);   // the front end must fill the table it was given
        XLOPER* e = start_array(t.rows, 7);
        for (std::size_t k = 0; k < t.cells.size(); ++k)
            put(t.cells[k], e[k], e);
        return xlretSuccess;
    }

    // ---- the rest ------------------------------------------------------------------------------

    int get_workspace() {
        want_count(1, 1);
        switch (int_arg(0)) {
        case 1: set_text_result("Linux"); break;
        case 2: set_text_result(host.version_); break;
        default: out = error_value(ErrorCode::Value); break;
        }
        return xlretSuccess;
    }

    int echo() {
        want_count(0, 1);
        if (!given(0)) {
            host.echo_ = !host.echo_;
        } else {
            if (!is_scalar_type(type(0)))
                refuse(xlretFailed);
            std::optional<bool> b = bool_of(scalar_of(arg(0)));
            if (!b)
                refuse(xlretFailed);
            host.echo_ = *b;
        }
        out = bool_value(true);
        return xlretSuccess;
    }

    int activate() {
        want_count(0, 2);
        if (given(0)) {
            // A window is named by its book, or by "[Book]Sheet" to bring that sheet forward.
            std::string name = text_arg(0, false);
            if (!same_text(name, host.book_name_)) {
                int sheet = find_sheet(name);
                if (sheet < 0 || name.empty() || name.front() != '[') {
                    out = bool_value(false);
                    return xlretSuccess;
                }
                book().set_active_sheet(sheet);
            }
        }
        // The add-in always runs as a command here, never inside a worksheet formula.
        out = bool_value(true);
        return xlretSuccess;
    }

    int is_text() {
        want_count(1, 1);
        if (is_reference(type(0)) || type(0) == xltypeMulti) {
            Table t = table_of(arg(0));
            if (t.cells.size() == 1 && is_reference(type(0))) {
                out = bool_value(t.cells[0].is_text());
                return xlretSuccess;
            }
            XLOPER* e = start_array(t.rows, t.columns);
            for (std::size_t k = 0; k < t.cells.size(); ++k)
                e[k] = bool_value(t.cells[k].is_text());
            return xlretSuccess;
        }
        out = bool_value(type(0) == xltypeStr);
        return xlretSuccess;
    }

    int logical_or() {
        want_count(1, max_args);
        bool any = false, seen = false;
        for (int i = 0; i < count; ++i) {
            if (type(i) == xltypeMissing)
                continue;
            if (type(i) == xltypeStr) {
                // A text argument must read as a logical value itself.
                auto b = text_as_bool(counted(arg(i).val.str));
                if (!b) {
                    out = error_value(ErrorCode::Value);
                    return xlretSuccess;
                }
                any = any || *b;
                seen = true;
                continue;
            }
            Table t = table_of(arg(i));
            for (const Value& v : t.cells) {
                if (v.is_error()) {
                    out = error_value(v.as_error());
                    return xlretSuccess;
                }
                if (v.is_boolean() || v.is_number()) {
                    any = any || v.as_boolean() || v.as_number() != 0;
                    seen = true;
                }
            }
        }
        out = seen ? bool_value(any) : error_value(ErrorCode::Value);
        return xlretSuccess;
    }

    int run(int xlfn) {
        // xlFree is given back what the host made; its records are not read, only looked up.
        if (xlfn != xlFree)
            check_records();
        switch (xlfn) {
        case xlFree: return free_values();
        case xlCoerce: return do_coerce();
        case xlSet: return do_set();
        case xlSheetId: return sheet_id();
        case xlSheetNm: return sheet_name();
        case xlGetName: return get_name();
        case xlfCaller: return caller();
        case xlcAlert: return alert();
        case xlfRegister: return do_register();
        case xlfRegisterId: return register_id();
        case xlfUnregister: return unregister();
        case xlfAddMenu: return add_menu();
        case xlfDeleteMenu: return delete_menu();
        case xlfGetBar: return get_bar();
        case xlfSetName: return set_name();
        case xlfDialogBox: return dialog_box();
        case xlfGetWorkspace: return get_workspace();
        case xlcEcho: return echo();
        case xlcActivate: return activate();
        case xlfIstext: return is_text();
        case xlfOr: return logical_or();
        case xlcNew:
        case xlcClose:
            // The host has one workbook and no windows: it opens no other and does not close
            // it at the add-in's request.
            want_count(0, 4);
            return xlretFailed;
        default:
            return xlretInvXlfn;
        }
    }
};

int Host::call(int xlfn, XLOPER* result, int count, XLOPER* const* args) {
    if (count < 0 || count > max_args || (count > 0 && args == nullptr))
        return xlretInvCount;
    for (int i = 0; i < count; ++i)
        if (args[i] == nullptr)
            return xlretInvXloper;
    Dispatch d{*this, count, args};
    int code;
    try {
        code = d.run(xlfn);
    } catch (const Refusal& r) {
        code = r.code;
    } catch (...) {
        // The front end's handlers, the engine and memory exhaustion: none crosses the API.
        code = xlretFailed;
    }
    try {
        if (code != xlretSuccess || result == nullptr) {
            d.discard();
            if (result != nullptr && code != xlretSuccess && xlfn != xlFree)
                *result = error_value(ErrorCode::Value);
        } else {
            *result = d.out;
        }
    } catch (...) {
        return xlretFailed;
    }
    return code;
}

} // namespace host::api
