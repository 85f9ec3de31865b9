#include "AddinCommands.hpp"
#include "BookFiles.hpp"
#include "Calc.hpp"
#include "Commands.hpp"

#include "io/Document.hpp"
#include "io/IoError.hpp"

#include <iostream>
#include <new>
#include <memory>

namespace app {

namespace {

// The length of the valid UTF-8 sequence at text[i], 0 if there is none.
std::size_t utf8_length(const std::string& text, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    unsigned char second = static_cast<unsigned char>(text[i + 1 < text.size() ? i + 1 : i]);
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second >= 0x90))
        return 0;
    return n;
}

} // namespace

std::string json_string(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t n = utf8_length(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";   // U+FFFD REPLACEMENT CHARACTER
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += digits[c >> 4];
                out += digits[c & 15];
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string escaped_line(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::string json_value(const host::engine::Value& value) {
    using host::engine::ValueType;
    switch (value.type()) {
    case ValueType::Number: return host::engine::format_number(value.as_number());
    case ValueType::Text: return json_string(std::string(value.as_text()));
    case ValueType::Boolean: return value.as_boolean() ? "true" : "false";
    case ValueType::Error:
        return std::string("{\"error\": ") + json_string(host::engine::error_text(value.as_error())) + "}";
    case ValueType::Empty: break;
    }
    // A formula whose result is an empty cell reads as 0, as in the spreadsheet.
    return "0";
}

namespace {

std::string plain_value(const host::engine::Value& value) {
    if (value.is_empty()) return "0";
    return value.to_string();
}

} // namespace

int run_calc(const CalcOptions& options, std::ostream& out, std::ostream& err) {
    try {
        host::io::Document document = open_book(options.book, options.sheet, err);
        host::engine::Workbook& book = document.workbook;
        if (!options.output.empty()) check_save(document, options.output, !options.sheet.empty());
        for (const std::string& warning : host::io::diagnostic_warnings(options.book, book))
            err << warning << "\n";

        bool first = true;
        if (options.json) out << "{";
        for (int sheet = 0; sheet < book.sheet_count(); ++sheet) {
            book.for_each_cell(sheet, [&](std::int32_t row, std::int32_t col,
                                          const host::engine::Value& value) {
                host::engine::CellAddress at{sheet, row, col};
                // Every cell of an array formula's result is printed, not only its own.
                if (!book.is_formula(at) && !book.array_anchor(at)) return;
                std::string key = host::io::cell_key(book, at);
                // A value that changes on every recalculation is marked.
                bool changing = !book.volatile_sources(at).empty();
                if (options.json) {
                    out << (first ? "\n  " : ",\n  ") << json_string(key) << ": " << json_value(value);
                } else {
                    out << escaped_line(key) << "\t" << escaped_line(plain_value(value))
                        << (changing ? "\tvolatile" : "") << "\n";
                }
                first = false;
            });
        }
        if (options.json) out << (first ? "}\n" : "\n}\n");
        out.flush();

        if (!options.output.empty()) host::io::save(document, options.output);
        return 0;
    } catch (const std::bad_alloc&) {
        err << "ombrix: " << options.book << ": not enough memory to load and recalculate it\n";
        return 1;
    } catch (...) {
        return report_current_exception(err, options.book + ": ");
    }
}

void add_calc_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<CalcOptions>();
    CLI::App* calc = ombrix.add_subcommand("calc", "Recalculate a workbook and print its formulas' values");
    calc->footer(
        "Opens BOOK (.xlsx, or .csv for a one-sheet model), recalculates every formula and prints\n"
        "each formula cell's value (every cell of an array formula's result), one per line as\n"
        "SHEET!CELL<tab>VALUE (then <tab>volatile when the value changes on every recalculation: it\n"
        "depends on RAND, NOW, OFFSET...). Unknown functions and\n"
        "circular references are reported as warnings on stderr. Exit status 1 when the file\n"
        "cannot be read or saved.");
    calc->add_option("BOOK", options->book, "The workbook to open (.xlsx, or .csv for a one-sheet model)")
        ->required();
    calc->add_option("-o,--output", options->output,
                     "Save the recalculated workbook to FILE (.xlsx, or .csv for the active sheet); "
                     "the file is replaced atomically")
        ->type_name("FILE");
    calc->add_option("--sheet", options->sheet, "The sheet a .csv output holds (its name in any case)")
        ->type_name("NAME");
    calc->add_flag("--json", options->json,
                   "Print one JSON object: keys \"Sheet!A1\", values a number, a string, "
                   "true/false or {\"error\": \"#DIV/0!\"}");
    calc->callback([options, &outcome]() { outcome.status = run_calc(*options, std::cout, std::cerr); });
}

} // namespace app
