#include "ui/FrontEnd.hpp"

#include "ui/Form.hpp"

#include <cstdlib>
#include <ostream>

namespace host::ui {

void print_alert(const api::Alert& alert, std::ostream& out, std::ostream& err) {
    std::string text = alert.text;
    // The spreadsheet breaks lines at carriage returns as well.
    for (char& c : text)
        if (c == '\r')
            c = '\n';
    if (alert.type == 3)
        err << "Error: " << text << "\n" << std::flush;
    else
        out << text << "\n" << std::flush;
}

FrontEnd::FrontEnd(std::ostream& out, std::ostream& err) : out_(out), err_(err), status_(err, StatusDisplay::none) {}

void FrontEnd::attach(api::Host& host) {
    host_ = &host;
    host.set_alert_handler([this](const api::Alert& alert) {
        ++alerts_;
        if (alert.type == 3)
            ++error_alerts_;
        status_.make_room();
        print_alert(alert, out_, err_);
    });
    host.set_status_handler([this](const std::optional<std::string>& text) { status_.show(text); });
    host.set_dialog_handler([this](api::Table& table) { return answer(table); });
}

bool FrontEnd::answer(api::Table& table) {
    ++dialogs_;
    cancelled_ = false;
    try {
        EntriesLookup entries = host_ ? entries_from(*host_) : EntriesLookup();
        DialogLayout layout = read_layout(table, entries);
        std::vector<std::pair<std::string, std::string>> answers = answers_;
        if (answers.empty() && form_in_ != nullptr) {
            Form form(layout, *form_in_, out_);
            if (!form.run()) {
                cancelled_ = true;
                return false;
            }
            answers = form.answers();
        }
        fill_table(table, layout, answers);
        accepted_.clear();
        accepted_shown_.clear();
        for (const DialogLine& line : layout.lines) {
            if (!line.is_input())
                continue;
            std::string value = table.at(line.row, 6).to_string();
            accepted_.emplace_back(line.label, value);
            std::size_t choice = line.kind == DialogLine::Kind::list ? std::strtoul(value.c_str(), nullptr, 10) : 0;
            accepted_shown_.emplace_back(
                line.label, choice >= 1 && choice <= line.entries.size() ? line.entries[choice - 1] : value);
        }
        return true;
    } catch (const DialogAnswerError& e) {
        answer_error_ = e.what();
    } catch (const std::exception& e) {
        answer_error_ = std::string("the dialog could not be answered: ") + e.what();
    }
    cancelled_ = true;
    return false;
}

namespace {

std::string value_of(const std::vector<std::pair<std::string, std::string>>& values, const std::string& label) {
    std::string key = label_key(label);
    for (const auto& [l, v] : values)
        if (label_key(l) == key)
            return v;
    return std::string();
}

} // namespace

std::string FrontEnd::accepted(const std::string& label) const { return value_of(accepted_, label); }

std::string FrontEnd::accepted_shown(const std::string& label) const { return value_of(accepted_shown_, label); }

} // namespace host::ui
