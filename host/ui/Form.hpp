#ifndef OMBRIX_HOST_UI_FORM_HPP
#define OMBRIX_HOST_UI_FORM_HPP

#include "ui/Dialog.hpp"

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace host::ui {

// The dialog as a small form on the terminal: every line of the dialog with the control's
// current value (a list as numbered choices), then a prompt. The user changes a field by
// its number, accepts with an empty line or "ok", and cancels with "c" or at end of input.
// On OK the answers hold a LABEL -> VALUE pair for each field the user changed.
class Form {
public:
    Form(const DialogLayout& layout, std::istream& in, std::ostream& out);

    // Runs the form; true for OK.
    bool run();
    const std::vector<std::pair<std::string, std::string>>& answers() const { return answers_; }

    // The form as shown, without the prompt.
    void print() const;

private:
    // The value a field shows: the answer given, else the initial value.
    std::string current(const DialogLine& line) const;
    bool edit(const DialogLine& line);
    const DialogLine* input(std::size_t number) const; // 1-based among the inputs

    const DialogLayout& layout_;
    std::istream& in_;
    std::ostream& out_;
    std::vector<std::pair<std::string, std::string>> answers_;
};

} // namespace host::ui

#endif
