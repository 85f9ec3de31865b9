#include "Calc.hpp"
#include "Commands.hpp"

#include "io/Document.hpp"
#include "io/IoError.hpp"

#include <iostream>
#include <new>
#include <memory>

namespace app {

std::string json_string(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
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
        host::io::Document document = host::io::load(options.book);
        host::engine::Workbook& book = document.workbook;
        book.recalculate_all();
        for (const std::string& warning : document.warnings) err << warning << "\n";
        for (const std::string& warning : host::io::diagnostic_warnings(options.book, book))
            err << warning << "\n";

        bool first = true;
        if (options.json) out << "{";
        for (int sheet = 0; sheet < book.sheet_count(); ++sheet) {
            book.for_each_cell(sheet, [&](std::int32_t row, std::int32_t col,
                                          const host::engine::Value& value) {
                host::engine::CellAddress at{sheet, row, col};
                if (!book.is_formula(at)) return;
                std::string key = host::io::cell_key(book, at);
                if (options.json) {
                    out << (first ? "\n  " : ",\n  ") << json_string(key) << ": " << json_value(value);
                } else {
                    out << key << "\t" << plain_value(value) << "\n";
                }
                first = false;
            });
        }
        if (options.json) out << (first ? "}\n" : "\n}\n");
        out.flush();

        if (!options.output.empty()) host::io::save(document, options.output);
        return 0;
    } catch (const host::io::IoError& e) {   // names its file itself
        err << "ombrix: " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        err << "ombrix: " << options.book << ": not enough memory to load and recalculate it\n";
    } catch (const std::exception& e) {
        err << "ombrix: " << options.book << ": " << e.what() << "\n";
    }
    return 1;
}

void add_calc_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<CalcOptions>();
    CLI::App* calc = ombrix.add_subcommand("calc", "Recalculate a workbook and print its formulas' values");
    calc->footer(
        "Opens BOOK (.xlsx, or .csv for a one-sheet model), recalculates every formula and prints\n"
        "each formula cell's value, one per line as SHEET!CELL<tab>VALUE. Unknown functions and\n"
        "circular references are reported as warnings on stderr. Exit status 1 when the file\n"
        "cannot be read or saved.");
    calc->add_option("BOOK", options->book, "The workbook to open (.xlsx, or .csv for a one-sheet model)")
        ->required();
    calc->add_option("-o,--output", options->output,
                     "Save the recalculated workbook to FILE (.xlsx, or .csv for the active sheet); "
                     "the file is replaced atomically")
        ->type_name("FILE");
    calc->add_flag("--json", options->json,
                   "Print one JSON object: keys \"Sheet!A1\", values a number, a string, "
                   "true/false or {\"error\": \"#DIV/0!\"}");
    calc->callback([options, &outcome]() { outcome.status = run_calc(*options, std::cout, std::cerr); });
}

} // namespace app
