#ifndef OMBRIX_APP_ADDINCOMMANDS_HPP
#define OMBRIX_APP_ADDINCOMMANDS_HPP

// What the add-in commands (solve, about, run-tests, test, menu, run) share: a session of
// the host with the add-in loaded and opened over a workbook, the terminal answering its
// alerts and dialogs, and where a changed workbook is saved.

#include "AddinLoader.hpp"
#include "BookFiles.hpp"
#include "api/Host.hpp"
#include "engine/Workbook.hpp"
#include "ui/FrontEnd.hpp"
#include "ui/Json.hpp"

#include <CLI/CLI.hpp>

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

// Exit statuses: 0 done, 1 the add-in showed an error alert or a file could not be read or
// written, 2 the command line asked for something impossible.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

struct SessionOptions {
    std::string addin; // empty: AddinLoader::find_default()
    std::vector<std::pair<std::string, std::string>> answers;
    std::istream* form_input = nullptr; // the dialog form reads here; null: no form
    // Looks at each accepted dialog before the add-in acts on it: a reason to refuse it
    // cancels the dialog and is kept in Session::refusal().
    std::function<std::optional<std::string>(const host::ui::FrontEnd&)> vet_dialog;
};

// The add-in opened in a host over a workbook, for the life of the object. The session is
// the current host from construction until after the module is closed and unloaded.
class Session {
public:
    Session(host::engine::Workbook& workbook, const std::string& book_name, const SessionOptions& options,
            std::ostream& out, std::ostream& err);
    ~Session();

    host::api::Host& host() { return host_; }
    host::ui::FrontEnd& front_end() { return front_end_; }
    AddinLoader& addin() { return *loader_; }
    // The commands the add-in can be asked to run: those it registered as commands when it
    // was opened, then its two self tests, which it exports without registering them.
    std::vector<std::string> commands() const;
    // Runs one of commands(), named in any case; the add-in's alerts are shown as they come.
    // Any other name is a UsageError and is never looked up in the module: an exported
    // symbol is not necessarily a command (the C library's free, exit, system...).
    int run(const std::string& command);
    // Why a dialog was refused by SessionOptions::vet_dialog, if one was.
    const std::optional<std::string>& refusal() const { return refusal_; }

private:
    host::api::Host host_;
    host::api::CurrentHost current_;
    host::ui::FrontEnd front_end_;
    std::unique_ptr<AddinLoader> loader_;
    std::optional<std::string> refusal_;
};

// One exported command run on an empty workbook or on a book, which is saved afterwards
// unless the add-in showed an error alert.
struct RunOptions {
    std::string name;
    std::string book; // empty: a new workbook with one sheet, not saved
    std::string sheet;
    std::string addin;
    std::string output;
    bool in_place = false;
    std::string suffix = "run";      // of the default output name
    std::vector<std::string> fields; // LABEL=VALUE dialog answers
    bool interactive = false;        // answer dialogs with the form on standard input
};
// Returns the exit status; the add-in's alerts go to out (notes) and err (errors).
int run_command(const RunOptions& options, std::ostream& out, std::ostream& err);

// Adds --addin PATH to a command.
void add_addin_option(CLI::App* command, std::string& addin);

// Where a changed workbook goes: --output when given, the input itself with --in-place,
// else "<stem>.<suffix><extension>" next to the input. Refuses an --output that is the input
// (UsageError).
std::string output_path(const std::string& input, const std::string& output, bool in_place, const std::string& suffix);

// "ombrix: <message>" on err; returns the status.
int report(std::ostream& err, const std::string& message, int status);

// Reports the exception being handled (call it from a catch block) and returns the exit
// status for it; file_prefix goes before the text of a failure to read or write the workbook.
int report_current_exception(std::ostream& err, const std::string& file_prefix);

using host::ui::json_number;

// `ombrix solve` with these arguments (those after the command's name), its output to out and
// err and no form: what a batch runs for a row. Returns the exit status.
int solve_with_arguments(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
// Whether solve's option of this name (such as "--seed") takes a value: true, false for a
// flag that takes none, nothing when solve has no such option.
std::optional<bool> solve_flag_takes_value(const std::string& flag);

// The subcommands that run the add-in; each adds itself to the program.
struct Outcome;
void add_solve_command(CLI::App& ombrix, Outcome& outcome);
void add_about_command(CLI::App& ombrix, Outcome& outcome);
void add_run_tests_command(CLI::App& ombrix, Outcome& outcome);
void add_test_command(CLI::App& ombrix, Outcome& outcome);
void add_menu_command(CLI::App& ombrix, Outcome& outcome);
void add_run_command(CLI::App& ombrix, Outcome& outcome);
void add_batch_command(CLI::App& ombrix, Outcome& outcome);

} // namespace app

#endif
