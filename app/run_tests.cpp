// `ombrix run-tests`: the add-in's self test of its reference parser and printer.
#include "AddinCommands.hpp"
#include "Commands.hpp"

#include <iostream>

namespace app {

void add_run_tests_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<RunOptions>();
    options->name = "RunTests";
    CLI::App* run_tests = ombrix.add_subcommand(
        "run-tests", "Run the add-in's self test of cell and range references (silent when it passes)");
    run_tests->footer("RunTests checks how the add-in reads and prints cell and range references. Nothing is\n"
                      "printed and the exit status is 0 when every check passes; otherwise the first mismatch\n"
                      "is shown as an error and the exit status is 1.");
    add_addin_option(run_tests, options->addin);
    run_tests->callback([options, &outcome]() { outcome.status = run_command(*options, std::cout, std::cerr); });
}

} // namespace app
