#include "io/Address.hpp"

#include <utility>

namespace host::io {

A1Parse parse_address(std::string_view text, Address& out) {
    std::int32_t row = 0, column = 0;
    A1Parse result = engine::read_a1(text, row, column);
    if (result == A1Parse::Ok)
        out = Address{std::uint32_t(row), std::uint32_t(column)};
    return result;
}

std::string format_address(Address a) {
    return engine::column_name(std::int32_t(a.column)) + std::to_string(std::uint64_t(a.row) + 1);
}

A1Parse parse_block(std::string_view text, Block& out) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        A1Parse r = parse_address(text, out.first);
        out.last = out.first;
        return r;
    }
    A1Parse a = parse_address(text.substr(0, colon), out.first);
    if (a != A1Parse::Ok)
        return a;
    A1Parse b = parse_address(text.substr(colon + 1), out.last);
    if (b != A1Parse::Ok)
        return b;
    if (out.last.row < out.first.row)
        std::swap(out.first.row, out.last.row);
    if (out.last.column < out.first.column)
        std::swap(out.first.column, out.last.column);
    return A1Parse::Ok;
}

} // namespace host::io
