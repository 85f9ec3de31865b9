#ifndef OMBRIX_APP_MANPAGE_HPP
#define OMBRIX_APP_MANPAGE_HPP

#include <CLI/CLI.hpp>

#include <string>

namespace app {

// The roff source of ombrix(1) from the program's commands: its description, each command's
// description, footer and options, then a section for each "Title:" paragraph of the
// program's footer (the exit status, the environment, examples).
std::string man_page(const CLI::App& ombrix, const std::string& version);

} // namespace app

#endif
