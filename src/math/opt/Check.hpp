#ifndef OMBRIX_MATH_OPT_CHECK_HPP
#define OMBRIX_MATH_OPT_CHECK_HPP

// Internal consistency checks of the optimiser. They guard invariants that no valid input
// can break (bad settings and bad objective values are refused with usr::Exception before
// they get here), so a failure is a bug: report the expression, file and line and abort.
// Unlike assert they stay in NDEBUG builds.

namespace math {
namespace opt {
namespace detail {

[[noreturn]] void check_failed(const char* expression, const char* file, unsigned int line);

} // namespace detail
} // namespace opt
} // namespace math

#define OMBRIX_CHECK(expression)                                                                                       \
    ((expression) ? static_cast<void>(0) : ::math::opt::detail::check_failed(#expression, __FILE__, __LINE__))

// A check with a message; reported as ("message", expression).
#define OMBRIX_CHECK_MSG(message, expression)                                                                          \
    ((expression) ? static_cast<void>(0)                                                                               \
                  : ::math::opt::detail::check_failed("(" #message "," #expression ")", __FILE__, __LINE__))

#endif
