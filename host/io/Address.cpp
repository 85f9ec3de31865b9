#include "io/Address.hpp"

#include <utility>

namespace host::io {

AddressParse parse_address(std::string_view text, Address& out) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    std::uint64_t column = 0;
    std::size_t letters = 0;
    for (; i < text.size(); ++i, ++letters) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') break;
        if (column <= max_columns) column = column * 26 + std::uint64_t(c - 'A' + 1);
    }
    if (letters == 0) return AddressParse::Malformed;
    if (i < text.size() && text[i] == '$') ++i;
    std::uint64_t row = 0;
    std::size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        char c = text[i];
        if (c < '0' || c > '9') break;
        if (row <= max_rows) row = row * 10 + std::uint64_t(c - '0');
    }
    if (digits == 0 || i != text.size()) return AddressParse::Malformed;
    if (row == 0) return AddressParse::Malformed;
    if (column > max_columns || row > max_rows) return AddressParse::OffSheet;
    out.row = std::uint32_t(row - 1);
    out.column = std::uint32_t(column - 1);
    return AddressParse::Ok;
}

std::string column_name(std::uint32_t column) {
    std::string name;
    std::uint64_t n = std::uint64_t(column) + 1;
    while (n > 0) {
        name.insert(name.begin(), char('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return name;
}

std::string format_address(Address a) {
    return column_name(a.column) + std::to_string(std::uint64_t(a.row) + 1);
}

AddressParse parse_block(std::string_view text, Block& out) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        AddressParse r = parse_address(text, out.first);
        out.last = out.first;
        return r;
    }
    AddressParse a = parse_address(text.substr(0, colon), out.first);
    if (a != AddressParse::Ok) return a;
    AddressParse b = parse_address(text.substr(colon + 1), out.last);
    if (b != AddressParse::Ok) return b;
    if (out.last.row < out.first.row) std::swap(out.first.row, out.last.row);
    if (out.last.column < out.first.column) std::swap(out.first.column, out.last.column);
    return AddressParse::Ok;
}

} // namespace host::io
