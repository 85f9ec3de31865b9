#ifndef OMBRIX_APP_COMMANDS_HPP
#define OMBRIX_APP_COMMANDS_HPP

#include <CLI/CLI.hpp>

#include <iosfwd>

namespace app {

// What a command leaves behind for main: the process's exit status.
struct Outcome {
    int status = 0;
};

// Each command adds its subcommand; the subcommand's callback runs it and sets the outcome.
void add_calc_command(CLI::App& ombrix, Outcome& outcome);

} // namespace app

#endif
