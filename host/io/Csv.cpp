#include "io/Csv.hpp"

#include "io/Address.hpp"
#include "io/IoError.hpp"

#include <algorithm>
#include <cstdint>

namespace host::io {

namespace {

struct Field {
    std::string text;
    bool quoted = false;
};

bool equal_ignoring_case(std::string_view a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i];
        if (x >= 'a' && x <= 'z')
            x = char(x - 'a' + 'A');
        if (x != b[i])
            return false;
    }
    return i == a.size() && !b[i];
}

// What an unquoted field holds.
engine::Value unquoted_value(const std::string& text) {
    if (equal_ignoring_case(text, "TRUE"))
        return engine::Value::boolean(true);
    if (equal_ignoring_case(text, "FALSE"))
        return engine::Value::boolean(false);
    if (!text.empty() && text[0] == '#')
        if (auto code = engine::parse_error(text))
            return engine::Value::error(*code);
    if (auto x = engine::parse_number(text))
        return engine::Value::number(*x);
    return engine::Value::text(text);
}

} // namespace

std::string sheet_name_for(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    for (char& c : name)
        if (c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\')
            c = '_';
    while (!name.empty() && name.front() == '\'')
        name.erase(0, 1);
    if (name.size() > 31) {
        // Do not cut a UTF-8 sequence in two.
        std::size_t cut = 31;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.erase(cut);
    }
    while (!name.empty() && name.back() == '\'')
        name.pop_back();
    return name.empty() ? std::string("Sheet1") : name;
}

Document load_csv_text(const std::string& file, const std::string& text) {
    Document document;
    document.path = file;
    document.format = Format::Csv;
    engine::Workbook& book = document.workbook;
    std::string sheet_name = sheet_name_for(file);
    int sheet = 0;
    try {
        sheet = book.add_sheet(sheet_name);
    } catch (const engine::EngineError& e) {
        throw IoError(file, e.what());
    }

    std::size_t i = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3; // byte order mark
    std::uint32_t row = 0, column = 0;
    auto place = [&](const Field& field) {
        if (field.text.empty() && !field.quoted)
            return;
        // The position itself is named: the nearest cell of the grid would point at a cell
        // that is fine.
        if (column >= grid_columns)
            throw IoError(file, sheet_name, std::string(),
                          "row " + std::to_string(std::uint64_t(row) + 1) +
                              " has more than 16,384 columns: its field " + std::to_string(std::uint64_t(column) + 1) +
                              " would be cell " + format_address(Address{row, column}) +
                              ", past the sheet's last column XFD");
        if (row >= grid_rows)
            throw IoError(file, sheet_name, std::string(),
                          "more than 1,048,576 rows: row " + std::to_string(std::uint64_t(row) + 1) +
                              " would be past the sheet's last row");
        engine::CellAddress at{sheet, std::int32_t(row), std::int32_t(column)};
        if (!field.quoted && !field.text.empty() && field.text[0] == '=') {
            try {
                book.set_formula(at, field.text);
            } catch (const engine::FormulaError& e) {
                throw IoError(file, sheet_name, format_address(Address{row, column}),
                              "formula does not parse: " + field.text + ": " + e.reason() + " at character " +
                                  std::to_string(e.position() + 1));
            }
        } else {
            book.set_value(at, field.quoted ? engine::Value::text(field.text) : unquoted_value(field.text));
        }
    };

    // The text of a quoted stretch starting at text[i] (the opening quote), with "" for a
    // quote; leaves i after the closing quote.
    auto read_quoted = [&](std::string& into) {
        ++i;
        std::size_t start_line = row;
        for (;;) {
            if (i >= text.size())
                throw IoError(file, sheet_name, std::string(),
                              "quoted field opened on line " + std::to_string(start_line + 1) + " is never closed");
            if (text[i] == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    into += '"';
                    i += 2;
                    continue;
                }
                ++i;
                return;
            }
            into += text[i++];
        }
    };

    Field field;
    bool any = false; // something on the current line
    while (i < text.size()) {
        char c = text[i];
        if (c == '"' && field.text.empty() && !field.quoted) {
            field.quoted = true;
            any = true;
            read_quoted(field.text);
            continue;
        }
        if (c == '=' && field.text.empty() && !field.quoted && i + 1 < text.size() && text[i + 1] == '"') {
            // A formula whose text needs quoting: '=' and then the rest quoted.
            field.text = "=";
            any = true;
            ++i;
            read_quoted(field.text);
            continue;
        }
        if (c == ',') {
            place(field);
            field = Field();
            ++column;
            any = true;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            if (any || !field.text.empty())
                place(field);
            field = Field();
            any = false;
            ++row;
            column = 0;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++i;
            continue;
        }
        // Text after a closing quote joins the field, as spreadsheet programs read it.
        field.text += c;
        any = true;
        ++i;
    }
    if (any || !field.text.empty())
        place(field);
    return document;
}

Document load_csv(const std::string& path) {
    Document document = load_csv_text(path, read_file(path));
    document.workbook.set_file_name(absolute_path(path));
    return document;
}

namespace {

bool needs_quotes(const std::string& text) {
    if (text.empty())
        return true;
    if (text.find_first_of(",\"\r\n") != std::string::npos)
        return true;
    if (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' || text.back() == '\t')
        return true;
    if (text[0] == '=')
        return true;
    engine::Value unquoted = unquoted_value(text);
    return !unquoted.is_text() || unquoted.as_text() != text;
}

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

} // namespace

std::string csv_text(const engine::Workbook& workbook, int sheet) {
    std::string out;
    std::int32_t row = 0, column = 0;
    workbook.for_each_cell(sheet, [&](std::int32_t r, std::int32_t c, const engine::Value& value) {
        for (; row < r; ++row) {
            out += '\n';
            column = 0;
        }
        for (; column < c; ++column)
            out += ',';
        engine::CellAddress at{sheet, r, c};
        // A data table cannot be written as a formula here: its values are.
        if (workbook.is_formula(at) && !workbook.data_table(at)) {
            std::string formula = workbook.formula_text(at);
            out += '=';
            out += formula.find_first_of(",\"\r\n") == std::string::npos ? formula : quote(formula);
            return;
        }
        switch (value.type()) {
        case engine::ValueType::Empty: break;
        case engine::ValueType::Number: out += engine::format_number(value.as_number()); break;
        case engine::ValueType::Boolean: out += value.as_boolean() ? "TRUE" : "FALSE"; break;
        case engine::ValueType::Error: out += engine::error_text(value.as_error()); break;
        case engine::ValueType::Text: {
            std::string text(value.as_text());
            out += needs_quotes(text) ? quote(text) : text;
            break;
        }
        }
    });
    if (!out.empty())
        out += '\n';
    return out;
}

} // namespace host::io
