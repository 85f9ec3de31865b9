#ifndef OMBRIX_APP_COMMANDS_HPP
#define OMBRIX_APP_COMMANDS_HPP

#include <CLI/CLI.hpp>

#include <iosfwd>

namespace app {

// What a command leaves behind for main: the process's exit status.
struct Outcome {
    int status = 0;
};

// Refuses an empty value of a file or sheet name option (-o '', --chart ''), which would
// otherwise read as the option not given.
inline CLI::Validator not_empty() {
    return CLI::Validator(
        [](std::string& value) { return value.empty() ? std::string("the name is empty") : std::string(); }, "",
        "NOT_EMPTY");
}

// Each command adds its subcommand; the subcommand's callback runs it and sets the outcome.
void add_calc_command(CLI::App& ombrix, Outcome& outcome);

} // namespace app

#endif
