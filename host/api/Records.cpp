// The value records of a call: the arguments checked before anything changes and read as
// cell values, texts or whole numbers; the result built aside; xlFree.

#include "api/Dispatch.hpp"

#include <cmath>

namespace host::api {

using namespace detail;

namespace detail {

[[noreturn]] void refuse(int code) { throw Refusal{code}; }

std::uint16_t error_number(ErrorCode code) {
    switch (code) {
    case ErrorCode::Null: return 0;
    case ErrorCode::Div0: return 7;
    case ErrorCode::Value: return 15;
    case ErrorCode::Ref: return 23;
    case ErrorCode::Name: return 29;
    case ErrorCode::Num: return 36;
    case ErrorCode::NA: return 42;
    case ErrorCode::Spill:
    case ErrorCode::Calc:
    case ErrorCode::GettingData: return 15; // older hosts know no such errors: #VALUE! is the nearest
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
    case xltypeNum:
    case xltypeStr:
    case xltypeBool:
    case xltypeErr:
    case xltypeInt:
    case xltypeNil:
    case xltypeMissing: return true;
    default: return false;
    }
}

// A checked xltypeMulti argument: a non-null array of at least one element.
std::size_t multi_size(const XLOPER& v) {
    if (v.val.array.lparray == nullptr || v.val.array.rows == 0 || v.val.array.columns == 0)
        refuse(xlretInvXloper);
    return std::size_t(v.val.array.rows) * v.val.array.columns;
}

} // namespace detail

void Dispatch::want_count(int low, int high) const {
    if (count < low || count > high)
        refuse(xlretInvCount);
}

// Every argument must be a record of a known type with sound insides.
void Dispatch::check_records() const {
    for (int i = 0; i < count; ++i) {
        const XLOPER& v = arg(i);
        switch (base_type(v)) {
        case xltypeStr:
            if (v.val.str == nullptr)
                refuse(xlretInvXloper);
            break;
        case xltypeErr: error_code(v.val.err); break;
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
        case xltypeNum:
        case xltypeBool:
        case xltypeInt:
        case xltypeNil:
        case xltypeMissing: break;
        default: refuse(xlretInvXloper);
        }
    }
}

// An argument that must be text; missing or empty arguments give "" when optional.
std::string Dispatch::text_arg(int i, bool optional) {
    if (i >= count || type(i) == xltypeMissing || type(i) == xltypeNil) {
        if (!optional)
            refuse(xlretFailed);
        return std::string();
    }
    switch (type(i)) {
    case xltypeStr: return std::string(counted(arg(i).val.str));
    case xltypeNum:
    case xltypeBool:
    case xltypeInt: {
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
long Dispatch::int_arg(int i) {
    if (i >= count)
        refuse(xlretFailed);
    if (type(i) == xltypeInt)
        return arg(i).val.w;
    if (type(i) == xltypeNum && std::isfinite(arg(i).val.num) && std::fabs(arg(i).val.num) < 1e9)
        return std::lround(std::trunc(arg(i).val.num));
    refuse(xlretFailed);
}

// Puts a cell value into a record; a string goes with `owner` when one is given.
void Dispatch::put(const Value& v, XLOPER& dst, XLOPER* owner) {
    switch (v.type()) {
    case engine::ValueType::Empty: dst = nil_value(); break;
    case engine::ValueType::Number: dst = num_value(v.as_number()); break;
    case engine::ValueType::Boolean: dst = bool_value(v.as_boolean()); break;
    case engine::ValueType::Error: dst = error_value(v.as_error()); break;
    case engine::ValueType::Text: put_text(v.as_text(), dst, owner); break;
    }
}

void Dispatch::put_text(std::string_view text, XLOPER& dst, XLOPER* owner) {
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
XLOPER* Dispatch::start_array(int rows, int columns) {
    if (rows < 1 || columns < 1 || rows > 65535 || columns > 65535)
        refuse(xlretFailed);
    XLOPER* a = memory().make_array(std::size_t(rows) * std::size_t(columns));
    out.val.array.lparray = a;
    out.val.array.rows = static_cast<std::uint16_t>(rows);
    out.val.array.columns = static_cast<std::uint16_t>(columns);
    out.xltype = xltypeMulti;
    return a;
}

// Releases a result that will not be handed over.
void Dispatch::discard() {
    memory().release(out);
    out = nil_value();
}

int Dispatch::free_values() {
    want_count(1, max_callback_args);
    bool all_known = true;
    for (int i = 0; i < count; ++i)
        all_known = memory().release(arg(i)) && all_known;
    return all_known ? xlretSuccess : xlretFailed;
}

} // namespace host::api
