#include "AddinCommands.hpp"
#include "BookFiles.hpp"
#include "Calc.hpp"
#include "Commands.hpp"

#include "engine/FreeMemory.hpp"
#include "io/CellFormats.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"

#include <algorithm>
#include <iostream>
#include <new>
#include <memory>

namespace app {

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

namespace {

std::string plain_value(const host::engine::Value& value) {
    if (value.is_empty())
        return "0";
    return value.to_string();
}

} // namespace

int run_calc(const CalcOptions& options, std::ostream& out, std::ostream& err) {
    // Large blocks (a big model's tables, its sheet's text, the recalculation's scratch space)
    // are mapped apart and go back to the system when freed: left to itself the C library
    // raises this threshold as they are freed and keeps their pages, so that the load's, the
    // recalculation's and the printing's peaks would stack up. A calculation runs once: the
    // cost of mapping a large block each time is paid a few times only.
    host::engine::map_large_blocks_apart(256 * 1024);
    try {
        host::io::Document document = open_book(options.book, options.sheet, err);
        host::engine::Workbook& book = document.workbook;
        if (!options.output.empty())
            check_save(document, options.output, !options.sheet.empty());
        for (const std::string& warning : host::io::diagnostic_warnings(options.book, book))
            err << warning << "\n";

        // The cells whose values change on every recalculation, found once for the book.
        const std::vector<host::engine::CellAddress> changing_cells = book.volatile_dependents();
        // The cells' number formats are read from the file only when asked for.
        std::unique_ptr<host::io::CellFormats> formats;
        if (options.shown)
            formats = std::make_unique<host::io::CellFormats>(document);
        bool first = true;
        if (options.json)
            out << "{";
        for (int sheet = 0; sheet < book.sheet_count(); ++sheet) {
            book.for_each_cell(sheet, [&](std::int32_t row, std::int32_t col, const host::engine::Value& value) {
                host::engine::CellAddress at{sheet, row, col};
                // Every cell of an array formula's result is printed, not only its own.
                if (!book.is_formula(at) && !book.array_anchor(at))
                    return;
                std::string key = host::io::cell_key(book, at);
                // A value that changes on every recalculation is marked.
                bool changing = std::binary_search(changing_cells.begin(), changing_cells.end(), at);
                if (options.json) {
                    out << (first ? "\n  " : ",\n  ") << json_string(key) << ": "
                        << (formats ? json_string(formats->shown(at)) : json_value(value));
                } else {
                    out << escaped_line(key) << "\t" << escaped_line(formats ? formats->shown(at) : plain_value(value))
                        << (changing ? "\tvolatile" : "") << "\n";
                }
                first = false;
            });
        }
        if (options.json)
            out << (first ? "}\n" : "\n}\n");
        out.flush();

        if (!options.output.empty())
            host::io::save(document, options.output);
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
    calc->footer("Opens BOOK (.xlsx, or .csv for a one-sheet model), recalculates every formula and prints\n"
                 "each formula cell's value (every cell of an array formula's result), one per line as\n"
                 "SHEET!CELL<tab>VALUE (then <tab>volatile when the value changes on every recalculation: it\n"
                 "depends on RAND, NOW, OFFSET...). Unknown functions and\n"
                 "circular references are reported as warnings on stderr. Exit status 1 when the file\n"
                 "cannot be read or saved.");
    calc->add_option("BOOK", options->book, "The workbook to open (.xlsx, or .csv for a one-sheet model)")
        ->required()
        ->check(not_empty());
    calc->add_option("-o,--output", options->output,
                     "Save the recalculated workbook to FILE (.xlsx, or .csv for the active sheet); "
                     "the file is replaced atomically")
        ->type_name("FILE")
        ->check(not_empty());
    calc->add_option("--sheet", options->sheet, "The sheet a .csv output holds (its name in any case)")
        ->type_name("NAME")
        ->check(not_empty());
    calc->add_flag("--shown", options->shown,
                   "Print each value as its cell shows it, through the cell's number format (a date as a "
                   "date, 0.25 as 25%, a fraction as 1 1/4), in a column wide enough for it");
    calc->add_flag("--json", options->json,
                   "Print one JSON object: keys \"Sheet!A1\", values a number, a string, "
                   "true/false or {\"error\": \"#DIV/0!\"}");
    calc->callback([options, &outcome]() { outcome.status = run_calc(*options, std::cout, std::cerr); });
}

} // namespace app
