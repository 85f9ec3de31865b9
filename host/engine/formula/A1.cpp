#include "engine/A1.hpp"

namespace host::engine {

std::string column_name(std::int32_t col) {
    std::string out;
    std::int64_t c = std::int64_t(col) + 1;
    while (c > 0) {
        out.insert(out.begin(), static_cast<char>('A' + (c - 1) % 26));
        c = (c - 1) / 26;
    }
    return out;
}

std::string a1_name(std::int32_t row, std::int32_t col) {
    return column_name(col) + std::to_string(std::int64_t(row) + 1);
}

A1Parse read_a1(std::string_view text, std::int32_t& row, std::int32_t& col) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$')
        ++i;
    // Both counts stop growing once past the grid, so that long texts cannot overflow them.
    std::uint64_t column = 0;
    std::size_t letters = 0;
    for (; i < text.size(); ++i, ++letters) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c < 'A' || c > 'Z')
            break;
        if (column <= std::uint64_t(max_columns))
            column = column * 26 + std::uint64_t(c - 'A' + 1);
    }
    if (letters == 0)
        return A1Parse::Malformed;
    if (i < text.size() && text[i] == '$')
        ++i;
    std::uint64_t number = 0;
    std::size_t digits = 0;
    for (; i < text.size(); ++i, ++digits) {
        char c = text[i];
        if (c < '0' || c > '9')
            break;
        if (number <= std::uint64_t(max_rows))
            number = number * 10 + std::uint64_t(c - '0');
    }
    if (digits == 0 || i != text.size() || number == 0)
        return A1Parse::Malformed;
    if (column > std::uint64_t(max_columns) || number > std::uint64_t(max_rows))
        return A1Parse::OffSheet;
    row = std::int32_t(number - 1);
    col = std::int32_t(column - 1);
    return A1Parse::Ok;
}

} // namespace host::engine
