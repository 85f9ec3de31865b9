// The session shared by the add-in commands, and `ombrix run NAME` for any of the add-in's commands.
#include "AddinCommands.hpp"
#include "Calc.hpp"
#include "Commands.hpp"
#include "SolveChecks.hpp"

#include "engine/Unicode.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "ui/Dialog.hpp"
#include "usr/Exception.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>

namespace app {

namespace fs = std::filesystem;

Session::Session(host::engine::Workbook& workbook, const std::string& book_name, const SessionOptions& options,
                 std::ostream& out, std::ostream& err)
    : host_(workbook, book_name), current_(host_), front_end_(out, err) {
    front_end_.attach(host_);
    front_end_.set_answers(options.answers);
    front_end_.set_form_input(options.form_input);
    if (options.vet_dialog)
        host_.set_dialog_handler([this, vet = options.vet_dialog](host::api::Table& table) {
            if (!front_end_.answer(table))
                return false;
            refusal_ = vet(front_end_);
            return !refusal_;
        });
    loader_ = std::make_unique<AddinLoader>(options.addin.empty() ? AddinLoader::find_default() : options.addin);
    host_.set_module_path(loader_->path());
    // Registering a procedure the module does not export fails, as in the spreadsheet.
    AddinLoader* loader = loader_.get();
    host_.set_procedure_resolver(
        [loader](const std::string&, const std::string& procedure) { return loader->exports(procedure); });
    loader_->open();
}

Session::~Session() {
    // Closed and unloaded while this host is still current: the add-in calls back on close
    // and its static objects may on unload.
    loader_.reset();
}

std::vector<std::string> Session::commands() const {
    std::vector<std::string> names;
    for (const host::api::Registration& r : host_.registrations()) {
        // Macro type 2 is a command; functions (CheckInstance) are for the spreadsheet to call.
        std::string type = r.argument(5);
        type.erase(0, type.find_first_not_of(' '));
        if (r.module() == loader_->path() && type == "2")
            names.push_back(r.procedure());
    }
    for (const char* self_test : {"RunTests", "Test"})
        names.emplace_back(self_test);
    return names;
}

int Session::run(const std::string& command) {
    std::string list;
    for (const std::string& name : commands()) {
        if (host::engine::fold_case(name) == host::engine::fold_case(command) && loader_->exports(name))
            return loader_->run(name);
        list += (list.empty() ? "" : ", ") + name;
    }
    throw UsageError("the add-in has no command \"" + command + "\" (its commands: " + list + ")");
}

void add_addin_option(CLI::App* command, std::string& addin) {
    command
        ->add_option("--addin", addin,
                     "Load this build of the add-in module instead of the one built or installed "
                     "with the command (also: the OMBRIX_ADDIN environment variable)")
        ->type_name("PATH")
        ->check(not_empty());
}

std::string output_path(const std::string& input, const std::string& output, bool in_place, const std::string& suffix) {
    if (in_place)
        return input;
    if (!output.empty()) {
        std::error_code ec;
        if (fs::exists(output, ec) && fs::equivalent(input, output, ec))
            throw UsageError("--output names the input workbook " + input + "; use --in-place to overwrite it");
        return output;
    }
    fs::path in(input);
    fs::path out = in.parent_path() / (in.stem().string() + "." + suffix + in.extension().string());
    return out.string();
}

int report(std::ostream& err, const std::string& message, int status) {
    err << "ombrix: " << message << "\n";
    return status;
}

int report_current_exception(std::ostream& err, const std::string& file_prefix) {
    try {
        throw;
    } catch (const UsageError& e) {
        return report(err, e.what(), exit_usage);
    } catch (const host::ui::DialogAnswerError& e) {
        return report(err, e.what(), exit_usage);
    } catch (const AddinError& e) {
        return report(err, e.what(), exit_failed);
    } catch (const usr::Exception& e) {
        return report(err, e.what(), exit_failed);
    } catch (const host::io::IoError& e) { // names its file itself
        return report(err, e.what(), exit_failed);
    } catch (const std::bad_alloc&) {
        return report(err, file_prefix + "not enough memory to finish the command", exit_failed);
    } catch (const std::exception& e) {
        // Anything else comes from reading or writing the workbook.
        return report(err, file_prefix + e.what(), exit_failed);
    }
}

int run_command(const RunOptions& options, std::ostream& out, std::ostream& err) {
    try {
        SessionOptions session;
        session.addin = options.addin;
        for (const std::string& f : options.fields)
            session.answers.push_back(host::ui::split_field(f));
        if (session.answers.empty() && options.interactive)
            session.form_input = &std::cin;

        std::optional<host::io::Document> document;
        host::engine::Workbook blank;
        host::engine::Workbook* book = &blank;
        std::string book_name = "Book1";
        std::string target;
        if (!options.book.empty()) {
            target = output_path(options.book, options.output, options.in_place, options.suffix);
            document = open_book(options.book, options.sheet, err);
            check_save(*document, target, !options.sheet.empty());
            book = &document->workbook;
            book_name = fs::path(options.book).filename().string();
        } else {
            if (!options.output.empty() || options.in_place)
                throw UsageError("--output and --in-place need a workbook");
            blank.add_sheet("Sheet1");
            if (!options.sheet.empty() && find_sheet(blank, options.sheet) < 0)
                throw UsageError("the workbook has no sheet \"" + options.sheet + "\"");
        }

        // Solve run by name gets the same refusals as `ombrix solve`.
        if (host::engine::fold_case(options.name) == "solve")
            session.vet_dialog = [book](const host::ui::FrontEnd& front) {
                return solve_refusal(*book, front.accepted("Var Vector"), front.accepted("Function Cell"));
            };
        Session s(*book, book_name, session, out, err);
        s.run(options.name);
        if (s.front_end().answer_error())
            throw UsageError(*s.front_end().answer_error());
        if (s.refusal())
            throw UsageError(*s.refusal() + "; nothing was run or saved");
        if (s.front_end().error_alerts() > 0) {
            if (document)
                err << "ombrix: the workbook was not saved\n";
            return exit_failed;
        }
        if (document) {
            host::io::save(*document, target);
            err << "Saved " << target << "\n";
        }
        return exit_ok;
    } catch (...) {
        return report_current_exception(err, "");
    }
}

void add_run_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<RunOptions>();
    CLI::App* run = ombrix.add_subcommand(
        "run", "Call one of the add-in's commands by name (Solve, Options, About, RunTests, Test)");
    run->footer("Runs on an empty workbook, or on BOOK, which is then saved to a new file next to it\n"
                "(BOOK.run.xlsx). Dialogs are answered from --field, or with a form on a terminal, or\n"
                "left at their initial values. Exit status 1 after an error alert.");
    run->add_option("NAME", options->name, "The command to call: one the add-in registers, or RunTests or Test")
        ->required()
        ->check(not_empty());
    run->add_option("BOOK", options->book, "A workbook to run it on (.xlsx or .csv); saved afterwards")
        ->check(not_empty());
    run->add_option("--sheet", options->sheet, "Make this sheet active first")->type_name("NAME")->check(not_empty());
    run->add_option("--field", options->fields,
                    "Answer the dialog control with this label, e.g. --field \"Seed=7\" (repeatable)")
        ->type_name("LABEL=VALUE");
    auto* output = run->add_option("-o,--output", options->output,
                                   "Save the workbook here (default: BOOK's name with .run before the extension)")
                       ->type_name("FILE")
                       ->check(not_empty());
    run->add_flag("--in-place", options->in_place, "Save the workbook over BOOK")->excludes(output);
    add_addin_option(run, options->addin);
    run->callback([options, &outcome]() {
        options->interactive = isatty(0) != 0;
        outcome.status = run_command(*options, std::cout, std::cerr);
    });
}

} // namespace app
