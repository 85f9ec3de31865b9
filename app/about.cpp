// `ombrix about`: the add-in's About command.
#include "AddinCommands.hpp"
#include "Commands.hpp"

#include <iostream>

namespace app {

void add_about_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<RunOptions>();
    options->name = "About";
    CLI::App* about =
        ombrix.add_subcommand("about", "Show the add-in's About text: its name, its version and where to find help");
    add_addin_option(about, options->addin);
    about->callback([options, &outcome]() { outcome.status = run_command(*options, std::cout, std::cerr); });
}

} // namespace app
