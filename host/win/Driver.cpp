// The driver of the Windows host: opens a .csv model, loads the add-in with LoadLibrary as the
// spreadsheet program does, runs xlAutoOpen, the commands asked for and xlAutoClose, and
// prints what each step did as one JSON object per line. Solve's line carries the same
// variables, objective and evaluations as `ombrix solve --json`.
//
//   ombrix-host ADDIN.xll [--book MODEL.csv] [--field LABEL=VALUE]... [--option LABEL=VALUE]...
//               [--program-version TEXT] COMMAND...
//
// --field answers the dialogs of every command but Options, --option the Options dialog.
// --program-version sets the version the spreadsheet program reports (16.0 unless given).
// The command Pause is the host's own: it prints its line and waits for a line on standard input,
// so that a test can change what the add-in reads (the registry) between two commands of one
// session instead of starting the host again.

#include "api/Host.hpp"
#include "engine/Workbook.hpp"
#include "io/Address.hpp"
#include "io/Csv.hpp"
#include "ui/Dialog.hpp"
#include "ui/FrontEnd.hpp"
#include "ui/Json.hpp"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using host::engine::CellAddress;
using host::engine::Value;

// The add-in's entry points: no arguments, an integer result, the callback convention.
typedef int(WINAPI* Entry)();

using host::ui::json_string;
using host::ui::json_value;

std::string json_list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + json_string(items[i]);
    return out + "]";
}

struct Options {
    std::string addin;
    std::string book;
    std::string program_version;
    std::vector<std::pair<std::string, std::string>> answers;
    std::vector<std::pair<std::string, std::string>> option_answers;
    std::vector<std::string> commands;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Options parse(int argc, char** argv) {
    Options options;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--book" || a == "--field" || a == "--option" || a == "--program-version") && i + 1 == args.size())
            throw UsageError(a + " needs a value");
        if (a == "--book")
            options.book = args[++i];
        else if (a == "--program-version")
            options.program_version = args[++i];
        else if (a == "--field")
            options.answers.push_back(host::ui::split_field(args[++i]));
        else if (a == "--option")
            options.option_answers.push_back(host::ui::split_field(args[++i]));
        else if (options.addin.empty())
            options.addin = a;
        else
            options.commands.push_back(a);
    }
    if (options.addin.empty())
        throw UsageError("usage: ombrix-host ADDIN.xll [--book MODEL.csv] [--field LABEL=VALUE]... "
                         "[--option LABEL=VALUE]... [--program-version TEXT] COMMAND...");
    return options;
}

std::string windows_error(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = text ? text : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

// The add-in module for the life of the object.
class Module {
public:
    explicit Module(const std::string& path) {
        char full[MAX_PATH];
        DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
        path_ = n > 0 && n < MAX_PATH ? std::string(full, n) : path;
        handle_ = LoadLibraryA(path_.c_str());
        if (handle_ == nullptr)
            throw std::runtime_error("cannot load " + path_ + ": " + windows_error(GetLastError()));
    }
    ~Module() { FreeLibrary(handle_); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& path() const { return path_; }
    Entry entry(const std::string& name) const {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(handle_, name.c_str())));
    }

private:
    std::string path_;
    HMODULE handle_ = nullptr;
};

// Whether a command asked for is one of the add-in's: registered as a command (macro type 2)
// when it was opened, or one of its self tests, which it exports without registering them.
// No other exported symbol is called on request.
bool is_command(const host::api::Host& host, const std::string& name) {
    if (name == "RunTests" || name == "Test")
        return true;
    for (const host::api::Registration& r : host.registrations()) {
        std::string type = r.argument(5);
        type.erase(0, type.find_first_not_of(' '));
        if (r.procedure() == name && r.module() == host.module_path() && type == "2")
            return true;
    }
    return false;
}

std::vector<CellAddress> cells_of(const std::string& text, int sheet) {
    std::vector<CellAddress> cells;
    host::io::Block block;
    if (host::io::parse_block(text, block) != host::io::A1Parse::Ok)
        return cells;
    for (std::uint32_t y = block.first.row; y <= block.last.row; ++y)
        for (std::uint32_t x = block.first.column; x <= block.last.column; ++x)
            cells.push_back(CellAddress{sheet, static_cast<std::int32_t>(y), static_cast<std::int32_t>(x)});
    return cells;
}

std::string cell_key(const host::engine::Workbook& book, const CellAddress& cell) {
    return book.sheet_names()[static_cast<std::size_t>(cell.sheet)] + "!" +
           host::io::format_address({static_cast<std::uint32_t>(cell.row), static_cast<std::uint32_t>(cell.col)});
}

// Evaluations that one write of these cells costs: every formula depending on them, once.
std::uint64_t evaluations_per_write(host::engine::Workbook& book, const std::vector<CellAddress>& cells) {
    std::vector<std::pair<CellAddress, Value>> same;
    for (const CellAddress& c : cells)
        same.emplace_back(c, book.value(c));
    std::uint64_t before = book.evaluation_count();
    book.set_values(same);
    book.recalculate();
    return book.evaluation_count() - before;
}

// What the add-in has registered and added to the worksheet menu bar, for every step's line.
std::string state_fields(const host::api::Host& host) {
    std::vector<std::string> procedures, menus;
    for (const host::api::Registration& r : host.registrations())
        procedures.push_back(r.procedure());
    if (const auto* bar = host.menu_bar(host::api::worksheet_menu_bar))
        for (const host::api::Menu& m : *bar)
            if (!m.builtin)
                menus.push_back(m.title);
    return "\"procedures\": " + json_list(procedures) + ", \"menus\": " + json_list(menus);
}

std::string alerts_since(const host::api::Host& host, std::size_t first) {
    std::string out = "[";
    for (std::size_t i = first; i < host.alerts().size(); ++i) {
        const host::api::Alert& a = host.alerts()[i];
        out += std::string(i > first ? ", " : "") + "{\"type\": " + std::to_string(a.type) +
               ", \"text\": " + json_string(a.text) + "}";
    }
    return out + "]";
}

std::string solve_fields(host::engine::Workbook& book, const host::ui::FrontEnd& front, std::uint64_t evaluated) {
    int sheet = book.active_sheet();
    std::vector<CellAddress> variables = cells_of(front.accepted("Var Vector"), sheet);
    std::vector<CellAddress> objective = cells_of(front.accepted("Function Cell"), sheet);
    std::optional<std::uint64_t> evaluations;
    if (!variables.empty()) {
        std::uint64_t per_write = evaluations_per_write(book, variables);
        if (per_write > 0 && evaluated % per_write == 0 && evaluated >= per_write)
            evaluations = evaluated / per_write - 1;
    }
    std::string out = ", \"variables\": {";
    for (std::size_t i = 0; i < variables.size(); ++i)
        out +=
            (i ? ", " : "") + json_string(cell_key(book, variables[i])) + ": " + json_value(book.value(variables[i]));
    out += "}, \"objective\": {";
    if (!objective.empty())
        out += json_string(cell_key(book, objective[0])) + ": " + json_value(book.value(objective[0]));
    return out + "}, \"evaluations\": " + (evaluations ? std::to_string(*evaluations) : "null");
}

int run(const Options& options) {
    host::engine::Workbook book;
    std::string book_name = "Book1";
    if (!options.book.empty()) {
        book = std::move(host::io::load_csv(options.book).workbook);
        std::string::size_type slash = options.book.find_last_of("/\\");
        book_name = slash == std::string::npos ? options.book : options.book.substr(slash + 1);
    }
    book.recalculate_all();

    host::api::Host host(book, book_name);
    host::api::CurrentHost current(host);
    if (!options.program_version.empty())
        host.set_version(options.program_version);
    // Alerts are reported from the host's record, in each step's line.
    std::ostringstream shown;
    host::ui::FrontEnd front(shown, shown);
    front.attach(host);
    front.set_answers(options.answers);

    Module module(options.addin);
    host.set_module_path(module.path());
    host.set_procedure_resolver(
        [&module](const std::string&, const std::string& procedure) { return module.entry(procedure) != nullptr; });

    std::vector<std::string> steps{"xlAutoOpen"};
    steps.insert(steps.end(), options.commands.begin(), options.commands.end());
    steps.push_back("xlAutoClose");
    for (const std::string& step : steps) {
        if (step == "Pause") {
            std::cout << "{\"step\": \"Pause\"}\n" << std::flush;
            std::string go;
            std::getline(std::cin, go);
            continue;
        }
        // The opening and closing steps are the host's own; the rest are the user's.
        if (&step != &steps.front() && &step != &steps.back() && !is_command(host, step))
            throw UsageError(step + " is not a command of the add-in " + module.path());
        Entry entry = module.entry(step);
        if (entry == nullptr)
            throw UsageError(module.path() + " does not export " + step);
        front.set_answers(step == "Options" ? options.option_answers : options.answers);
        std::size_t alerts_before = host.alerts().size();
        std::uint64_t evaluations_before = book.evaluation_count();
        int result = entry();
        std::uint64_t evaluated = book.evaluation_count() - evaluations_before;
        std::string line = "{\"step\": " + json_string(step) + ", \"result\": " + std::to_string(result) +
                           ", \"alerts\": " + alerts_since(host, alerts_before) + ", " + state_fields(host);
        if (step == "Solve" || step == "Options") {
            if (front.answer_error())
                throw UsageError(*front.answer_error());
            if (step == "Solve")
                line += solve_fields(book, front, evaluated);
        }
        if (step == "Test")
            line += ", \"sheet\": " + json_string(host::io::csv_text(book, book.active_sheet()));
        std::cout << line << "}\n" << std::flush;
    }
    return 0;
}

} // namespace

extern "C" int OmbrixHostMain(int argc, char** argv) {
    // Lines end in \n alone, as on Linux, so that the two outputs compare byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
    try {
        return run(parse(argc, argv));
    } catch (const UsageError& e) {
        std::cerr << "ombrix-host: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "ombrix-host: " << e.what() << "\n";
        return 1;
    }
}
