// `ombrix menu`: what the add-in registers and adds to the menus when it is opened.
#include "AddinCommands.hpp"
#include "Calc.hpp"
#include "Commands.hpp"

#include "usr/Exception.hpp"

#include <iostream>

namespace app {

namespace {

// The names of the arguments of a registration, in order.
const char* const registration_fields[] = {"module",     "procedure", "type",     "function",   "arguments",
                                           "macro type", "category",  "shortcut", "help topic", "help"};

struct MenuOptions {
    std::string addin;
    bool json = false;
};

int run_menu(const MenuOptions& options, std::ostream& out, std::ostream& err) {
    try {
        host::engine::Workbook book;
        book.add_sheet("Sheet1");
        SessionOptions session;
        session.addin = options.addin;
        Session s(book, "Book1", session, out, err);
        const host::api::Host& host = s.host();
        const std::vector<host::api::Menu>* bar = host.menu_bar(host::api::worksheet_menu_bar);

        if (options.json) {
            out << "{\"addin\": " << json_string(s.addin().path()) << ", \"procedures\": [";
            for (std::size_t i = 0; i < host.registrations().size(); ++i) {
                const host::api::Registration& r = host.registrations()[i];
                out << (i ? ", " : "") << "[";
                for (std::size_t k = 0; k < r.arguments.size(); ++k)
                    out << (k ? ", " : "") << json_string(r.arguments[k]);
                out << "]";
            }
            out << "], \"menus\": [";
            for (std::size_t i = 0; bar && i < bar->size(); ++i) {
                const host::api::Menu& m = (*bar)[i];
                out << (i ? ", " : "") << "{\"title\": " << json_string(m.title) << ", \"items\": [";
                for (std::size_t k = 0; !m.builtin && k < m.items.size(); ++k) {
                    out << (k ? ", " : "") << "[";
                    for (std::size_t c = 0; c < m.items[k].size(); ++c)
                        out << (c ? ", " : "") << json_string(m.items[k][c]);
                    out << "]";
                }
                out << "]}";
            }
            out << "]}\n";
        } else {
            out << "Add-in: " << s.addin().path() << "\n\nRegistered procedures:\n";
            for (const host::api::Registration& r : host.registrations()) {
                out << "  " << r.procedure() << "\n";
                for (std::size_t k = 2; k < std::size(registration_fields); ++k)
                    out << "    " << registration_fields[k] << ": " << json_string(r.argument(k)) << "\n";
            }
            out << "\nWorksheet menu bar:";
            for (std::size_t i = 0; bar && i < bar->size(); ++i)
                out << (i ? " | " : " ") << (*bar)[i].title;
            out << "\n";
            for (std::size_t i = 0; bar && i < bar->size(); ++i) {
                const host::api::Menu& m = (*bar)[i];
                if (m.builtin)
                    continue;
                out << "\n"
                    << m.title << (i + 1 < bar->size() ? " (in front of " + (*bar)[i + 1].title + ")" : "") << "\n";
                for (const std::vector<std::string>& item : m.items)
                    out << "  " << (item.empty() ? "" : item[0])
                        << (item.size() > 1 && !item[1].empty() ? "  -> runs " + item[1] : "") << "\n";
            }
        }
        return s.front_end().error_alerts() > 0 ? exit_failed : exit_ok;
    } catch (const AddinError& e) {
        return report(err, e.what(), exit_failed);
    } catch (const usr::Exception& e) {
        return report(err, e.what(), exit_failed);
    } catch (const std::exception& e) {
        return report(err, e.what(), exit_failed);
    }
}

} // namespace

void add_menu_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<MenuOptions>();
    CLI::App* menu =
        ombrix.add_subcommand("menu", "List the procedures the add-in registers and the menu it adds when opened");
    menu->footer("Opens the add-in, prints each registered procedure with its registration arguments and\n"
                 "the worksheet menu bar with the add-in's menu and items, then closes the add-in.");
    menu->add_flag("--json", options->json, "Print one JSON object instead");
    add_addin_option(menu, options->addin);
    menu->callback([options, &outcome]() { outcome.status = run_menu(*options, std::cout, std::cerr); });
}

} // namespace app
