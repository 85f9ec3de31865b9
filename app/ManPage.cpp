// The manual page ombrix(1), written from the commands' own help texts so that the two never
// disagree. The build runs `ombrix --man-page` to make it.
#include "ManPage.hpp"

#include <sstream>

namespace app {

namespace {

// Text as roff: backslashes and hyphens escaped, and a line that would start a request kept
// as text.
std::string roff(const std::string& text) {
    std::string out;
    bool line_start = true;
    for (char c : text) {
        if (line_start && (c == '.' || c == '\''))
            out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        line_start = c == '\n';
    }
    return out;
}

// A paragraph of help text: blank lines separate paragraphs, indented lines (examples) are
// shown as they are.
std::string paragraphs(const std::string& text) {
    std::istringstream lines(text);
    std::string line, out;
    bool literal = false;
    while (std::getline(lines, line)) {
        bool indented = !line.empty() && line[0] == ' ';
        if (indented && !literal)
            out += ".PP\n.nf\n.RS 4\n";
        if (!indented && literal)
            out += ".RE\n.fi\n";
        literal = indented;
        if (line.empty()) {
            out += ".PP\n";
            continue;
        }
        std::size_t start = indented ? line.find_first_not_of(' ') : 0;
        out += roff(line.substr(start)) + "\n";
    }
    if (literal)
        out += ".RE\n.fi\n";
    return out;
}

std::string options_of(const CLI::App& command) {
    std::string out;
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_group().empty())
            continue; // hidden
        bool positional = option->nonpositional() == false;
        std::string name = positional ? option->get_name(true, false) : option->get_name(false, true);
        for (std::size_t comma = name.find(','); comma != std::string::npos; comma = name.find(',', comma + 2))
            name.replace(comma, 1, ", ");
        // The type as the help shows it, without the validator CLI11 appends ("N:NONNEGATIVE").
        std::string type = option->get_type_name();
        type = type.substr(0, type.find(':'));
        out += ".TP\n\\fB" + roff(name) + "\\fR";
        if (!positional && !type.empty() && option->get_expected_max() > 0)
            out += " \\fI" + roff(type) + "\\fR";
        out += "\n" + roff(option->get_description()) + "\n";
    }
    return out;
}

} // namespace

std::string man_page(const CLI::App& ombrix, const std::string& version) {
    std::string out = ".\\\" Made by `ombrix --man-page` from the commands' help texts.\n"
                      ".TH OMBRIX 1 \"\" \"ombrix " +
                      roff(version) +
                      "\" \"User Commands\"\n"
                      ".SH NAME\nombrix \\- genetic\\-algorithm optimiser for spreadsheet models\n"
                      ".SH SYNOPSIS\n\\fBombrix\\fR \\fICOMMAND\\fR [\\fIOPTIONS\\fR] [\\fIBOOK\\fR]\n"
                      ".SH DESCRIPTION\n" +
                      paragraphs(ombrix.get_description()) + ".SH COMMANDS\n";
    std::string footer = ombrix.get_footer();
    for (const CLI::App* command : ombrix.get_subcommands([](const CLI::App*) { return true; })) {
        out += ".SS \\fBombrix " + roff(command->get_name()) + "\\fR\n" + paragraphs(command->get_description());
        // A command without a footer of its own shows the program's.
        if (!command->get_footer().empty() && command->get_footer() != footer)
            out += ".PP\n" + paragraphs(command->get_footer());
        std::string options = options_of(*command);
        if (!options.empty())
            out += ".PP\nOptions:\n" + options;
    }
    // The program's footer holds the sections every command shares, each headed "Title:".
    std::istringstream sections(footer);
    std::string line, body, title;
    auto flush = [&]() {
        if (!title.empty())
            out += ".SH " + roff(title) + "\n" + paragraphs(body);
        body.clear();
    };
    while (std::getline(sections, line)) {
        std::size_t colon = line.find(':');
        bool heading = !line.empty() && line[0] != ' ' && colon != std::string::npos && colon < 20 &&
                       line.compare(0, colon, std::string(colon, ' ')) != 0 &&
                       std::isupper(static_cast<unsigned char>(line[0]));
        if (heading) {
            flush();
            std::string name = line.substr(0, colon);
            for (char& c : name)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            title = name;
            std::string rest = line.substr(colon + 1);
            if (!rest.empty() && rest[0] == ' ')
                rest.erase(0, 1);
            if (!rest.empty())
                body += rest + "\n";
        } else {
            body += line + "\n";
        }
    }
    flush();
    out += ".SH SEE ALSO\n/usr/share/doc/ombrix/\n";
    return out;
}

} // namespace app
