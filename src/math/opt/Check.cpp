#include "math/opt/Check.hpp"

#include <cstdio>
#include <cstdlib>

namespace math {
namespace opt {
namespace detail {

void check_failed(const char* expression, const char* file, unsigned int line) {
    // stdio rather than iostream: this may run while the program is already in trouble.
    std::fprintf(stderr, "%s(%u): consistency check failed: %s\n", file, line, expression);
    std::fflush(stderr);
    std::abort();
}

} // namespace detail
} // namespace opt
} // namespace math
