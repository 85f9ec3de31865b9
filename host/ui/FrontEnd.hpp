#ifndef OMBRIX_HOST_UI_FRONTEND_HPP
#define OMBRIX_HOST_UI_FRONTEND_HPP

#include "api/Host.hpp"
#include "ui/Dialog.hpp"
#include "ui/StatusLine.hpp"

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host::ui {

// Prints an alert: notes and questions on `out`, errors on `err` prefixed "Error: ".
void print_alert(const api::Alert& alert, std::ostream& out, std::ostream& err);

// The terminal in place of the spreadsheet's window: shows the add-in's alerts and its
// status bar (on `err`, nowhere until set_status_display), and answers its dialogs from
// given field values when there are any, else with the form when a terminal is at hand,
// else by accepting the initial values.
class FrontEnd {
public:
    FrontEnd(std::ostream& out, std::ostream& err);

    // Takes over the host's alerts and dialogs; the front end must outlive the host's use.
    void attach(api::Host& host);

    // LABEL -> VALUE pairs for every dialog; later pairs win over earlier ones.
    void set_answers(std::vector<std::pair<std::string, std::string>> answers) { answers_ = std::move(answers); }
    void set_status_display(StatusDisplay display) { status_.set_display(display); }
    // Where the form reads from; null (the default): no form.
    void set_form_input(std::istream* in) { form_in_ = in; }

    // Answers one dialog table; false for cancel. A field that cannot be answered cancels
    // the dialog and is kept in answer_error().
    bool answer(api::Table& table);

    std::size_t error_alerts() const { return error_alerts_; }
    std::size_t alerts() const { return alerts_; }
    std::size_t dialogs() const { return dialogs_; }
    bool cancelled() const { return cancelled_; }
    const std::optional<std::string>& answer_error() const { return answer_error_; }
    // What the control with this label held when the last dialog was accepted ("" if none).
    std::string accepted(const std::string& label) const;
    // The same as shown: for a list, the entry chosen rather than its number.
    std::string accepted_shown(const std::string& label) const;

private:
    std::ostream& out_;
    std::ostream& err_;
    const api::Host* host_ = nullptr;
    std::vector<std::pair<std::string, std::string>> answers_;
    std::istream* form_in_ = nullptr;
    StatusLine status_;
    std::size_t error_alerts_ = 0;
    std::size_t alerts_ = 0;
    std::size_t dialogs_ = 0;
    bool cancelled_ = false;
    std::optional<std::string> answer_error_;
    std::vector<std::pair<std::string, std::string>> accepted_, accepted_shown_;
};

} // namespace host::ui

#endif
