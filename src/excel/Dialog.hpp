#ifndef OMBRIX_EXCEL_DIALOG_HPP
#define OMBRIX_EXCEL_DIALOG_HPP

#include <string>
#include <vector>

namespace excel {

// A modal dialog box laid out one control per line, label on the left and the control on
// the right, OK (and optionally Cancel) below the last line. The caller adds controls in
// screen order, calls display(), and on OK reads each control's result as text by index.
class Dialog {
public:
    // Item codes of the spreadsheet's dialog-box table.
    enum ItemCode {
        ok_button = 1,
        cancel_button = 2,
        static_text = 5,
        edit_box = 6,
        reference_box = 10,
        check_box = 13,
        drop_down = 21
    };

    struct DialogControl {
        std::string label;              // caption left of the control; a static text's text
        std::string name;               // spreadsheet name holding a list's entries, else empty
        std::string value;              // initial value before display(), the result after OK
        int type;                       // item code
        std::vector<std::string> items; // entries of a list
    };

    explicit Dialog(const std::string& title);

    void add_statictext(const std::string& text);
    void add_editbox(const std::string& label, const std::string& initial);
    // A reference edit box: results come back as canonical cell or range text.
    void add_cellpicker(const std::string& label, const std::string& initial);
    void add_checkbox(const std::string& label, bool checked);
    // A drop-down list starting on the first entry equal to initial (or the first entry);
    // its result is the text of the chosen entry.
    void add_listbox(const std::string& label, std::vector<std::string> items, const std::string& initial);

    // Shows the dialog (with a Cancel button when asked). On OK every control but the static
    // texts takes its result and true is returned; on Cancel nothing changes and the result
    // is false. Texts over 255 characters are refused before anything is shown.
    bool display(bool with_cancel);

    // The value of control i, static texts counted; throws for an index past the end.
    std::string operator[](unsigned int i) const;

    std::size_t size() const { return controls.size(); }
    const DialogControl& control(unsigned int i) const;
    const std::string& get_title() const { return title; }

    // "USTR" and a process-wide counter, advanced on every call.
    static std::string unique_string();

private:
    std::string title;
    std::vector<DialogControl> controls;
};

typedef Dialog::DialogControl DialogControl;

} // namespace excel

#endif
