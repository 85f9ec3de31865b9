// xlCoerce, and the conversions of one value to a number, text, logical value or whole
// number that other requests share.

#include "api/Dispatch.hpp"

#include <cmath>

namespace host::api {

using namespace detail;

namespace detail {

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

} // namespace detail

int Dispatch::do_coerce() {
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

void Dispatch::coerce(const XLOPER& src, std::optional<std::uint16_t> target) {
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
                refuse(xlretFailed); // a reference to another sheet has no short form
            }
            return;
        }
        if (mask & xltypeMulti) {
            area_values(a);
            return;
        }
        // A block read as one value reads its top-left cell.
        host.record_read(a.cell(0, 0));
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

// A scalar converted to the first type of the mask it reads as, in the order number,
// text, boolean, integer, array, empty. An error value stays an error: the spreadsheet
// answers it with success and leaves the caller to look at the type.
void Dispatch::coerce_scalar(const Value& v, std::uint16_t source_type, std::uint16_t mask) {
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

} // namespace host::api
