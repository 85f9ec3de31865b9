#ifndef OMBRIX_HOST_UI_DIALOG_HPP
#define OMBRIX_HOST_UI_DIALOG_HPP

// Answering the add-in's dialog without a spreadsheet window: the table it hands to
// xlfDialogBox is read as a list of labelled controls, each answered from given field
// values (command-line flags) or left at the initial value the add-in gave it.

#include "api/Host.hpp"

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace host::ui {

// Item codes of the dialog table that the front end tells apart.
enum ItemCode : int {
    item_ok_default = 1,
    item_cancel = 2,
    item_ok = 3,
    item_cancel_default = 4,
    item_static_text = 5,
    item_text_edit = 6,
    item_integer_edit = 7,
    item_number_edit = 8,
    item_formula_edit = 9,
    item_reference_edit = 10,
    item_check_box = 13,
    item_list_box = 15,
    item_drop_down = 21,
};

// A line of the dialog: a static text, or an input control with the label shown to its left
// (the static text on the row just above it).
struct DialogLine {
    enum class Kind { text, edit, check, list, unsupported };
    Kind kind = Kind::text;
    int row = 0;                      // row of the control in the table
    int code = 0;                     // its item code
    std::string label;                // the caption (for a text line, the text)
    std::string initial;              // the initial value as text ("" when empty)
    std::vector<std::string> entries; // a list's entries
    bool is_input() const { return kind != Kind::text; }
};

struct DialogLayout {
    std::string title;
    bool has_cancel = false;
    std::vector<DialogLine> lines;
};

// The entries defined under a list's name, or nothing when the name is undefined.
using EntriesLookup = std::function<std::vector<std::string>(const std::string& name)>;
// Entries from the names the add-in defined with the host.
EntriesLookup entries_from(const api::Host& host);

// A field value that cannot go into the dialog: an unknown label, a list entry that does not
// exist. what() is the message for the user.
class DialogAnswerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the table's lines. Rows that are neither a label, an input nor a button (rows of a
// table laid out in some other way) are shown as text lines.
DialogLayout read_layout(const api::Table& table, const EntriesLookup& entries);

// Labels compare without regard to case, surrounding blanks, '&' accelerator marks and a
// trailing colon: "goal", "Goal:" and " GOAL " name the same control.
std::string label_key(const std::string& label);

// The input line with that label, or null.
const DialogLine* find_input(const DialogLayout& layout, const std::string& label);

// A list's 1-based position of `answer`: the entry of that name (without regard to case),
// else a whole number within the entries. Throws DialogAnswerError naming the choices.
int list_choice(const DialogLine& line, const std::string& answer);

// Writes every input's result into column 6 of the table: the initial value, replaced by the
// answer given for its label. Edit boxes and reference boxes get text (empty for nothing),
// check boxes a boolean, lists the 1-based number of the entry. Throws DialogAnswerError for
// an answer whose label is not an input of the dialog or that a control cannot take.
void fill_table(api::Table& table, const DialogLayout& layout,
                const std::vector<std::pair<std::string, std::string>>& answers);

// "LABEL=VALUE" split at the first '='; throws DialogAnswerError without one or without a label.
std::pair<std::string, std::string> split_field(const std::string& field);

// Text without surrounding white space, and in lower case: how answers and labels are matched.
std::string trim(const std::string& s);
std::string lower(std::string s);

} // namespace host::ui

#endif
