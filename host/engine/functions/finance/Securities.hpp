#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_SECURITIES_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_SECURITIES_HPP

// What the securities' functions share (Securities.cpp, OddPeriods.cpp): their date, basis and
// frequency arguments and the calendar of coupon dates.

#include "engine/functions/Common.hpp"

namespace host::engine::detail::fn {

bool d1904(const Ctx& c);

// A date argument: its whole serial, #NUM! when negative or past the last date; TRUE and
// FALSE are #VALUE! unless `booleans` (DAYS360 and ISOWEEKNUM take them as 1 and 0).
bool date_arg(const Ctx& c, int i, long& day, Value& out, bool booleans = false);
// The day count basis, 0 to 4 (0 when omitted).
bool basis_arg(const Ctx& c, int i, int& basis, Value& out);
// Coupons a year: 1, 2 or 4.
bool frequency_arg(const Ctx& c, int i, int& f, Value& out);

// `anchor` moved by `months`, keeping its day (or the month's last day when it is past it,
// or when the anchor itself is a month's last day).
long shift_months(long anchor, long months, bool date1904);

// A number argument that is no boolean (the securities and loan functions refuse TRUE and
// FALSE, even from cells).
#define OMBRIX_PLAIN_NUMBER(i, var)                                                                                    \
    double var;                                                                                                        \
    if (!plain_number(c, i, var, out.v))                                                                               \
    return
#define OMBRIX_DATE(i, var)                                                                                            \
    long var;                                                                                                          \
    if (!date_arg(c, i, var, out.v))                                                                                   \
    return
#define OMBRIX_BASIS(i, var)                                                                                           \
    int var;                                                                                                           \
    if (!basis_arg(c, i, var, out.v))                                                                                  \
    return
#define OMBRIX_FREQUENCY(i, var)                                                                                       \
    int var;                                                                                                           \
    if (!frequency_arg(c, i, var, out.v))                                                                              \
    return

} // namespace host::engine::detail::fn

#endif
