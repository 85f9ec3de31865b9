// Functions that tell what kind of value they are given.

#include "engine/functions/Common.hpp"

namespace host::engine::detail::fn {

namespace {

FN(isnumber) { RET(Value::boolean(c.arg(0).is_number())); }
FN(iserror) { RET(Value::boolean(c.arg(0).is_error())); }
FN(isna) { Value v = c.arg(0); RET(Value::boolean(v.is_error() && v.as_error() == ErrorCode::NA)); }
FN(isblank) { RET(Value::boolean(!c.missing(0) && c.arg(0).is_empty())); }
FN(istext) { RET(Value::boolean(c.arg(0).is_text())); }

FN(na) { (void)c; RET(err(ErrorCode::NA)); }

} // namespace

std::vector<Entry> information_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ISNUMBER", 1, 1, L}, fn_isnumber},
        {{"ISERROR", 1, 1, L}, fn_iserror},
        {{"ISNA", 1, 1, L}, fn_isna},
        {{"ISBLANK", 1, 1, L}, fn_isblank},
        {{"ISTEXT", 1, 1, L}, fn_istext},
        {{"NA", 0, 0, 0}, fn_na},
    };
}

} // namespace host::engine::detail::fn
