#include "ui/Dialog.hpp"

#include "engine/Unicode.hpp"

#include <cctype>
#include <cmath>
#include <optional>

namespace host::ui {

using engine::Value;

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) { return engine::fold_case(s); }

namespace {

int code_of(const Value& v) {
    if (!v.is_number())
        return 0;
    double x = v.as_number();
    if (!(x >= -1e6 && x <= 1e6))
        return 0;
    return static_cast<int>(x);
}

DialogLine::Kind kind_of(int code) {
    switch (code) {
    case item_static_text: return DialogLine::Kind::text;
    case item_text_edit:
    case item_integer_edit:
    case item_number_edit:
    case item_formula_edit:
    case item_reference_edit: return DialogLine::Kind::edit;
    case item_check_box: return DialogLine::Kind::check;
    case item_list_box:
    case item_drop_down: return DialogLine::Kind::list;
    default: return DialogLine::Kind::unsupported;
    }
}

bool is_button(int code) { return code >= item_ok_default && code <= item_cancel_default; }

std::string choices_text(const DialogLine& line) {
    std::string s;
    for (std::size_t i = 0; i < line.entries.size(); ++i) {
        if (i)
            s += i + 1 == line.entries.size() ? " or " : ", ";
        s += line.entries[i];
    }
    return s.empty() ? "none" : s;
}

std::optional<bool> parse_bool(const std::string& text) {
    std::string t = lower(trim(text));
    if (t == "1" || t == "true" || t == "yes" || t == "on")
        return true;
    if (t.empty() || t == "0" || t == "false" || t == "no" || t == "off")
        return false;
    return std::nullopt;
}

} // namespace

EntriesLookup entries_from(const api::Host& host) {
    return [&host](const std::string& name) {
        std::vector<std::string> entries;
        const api::Table* t = host.name_value(name);
        if (t == nullptr)
            return entries;
        for (const Value& v : t->cells)
            entries.push_back(v.to_string());
        return entries;
    };
}

std::string label_key(const std::string& label) {
    std::string s;
    for (char c : label)
        if (c != '&')
            s += c;
    s = trim(s);
    if (!s.empty() && s.back() == ':')
        s = trim(s.substr(0, s.size() - 1));
    return lower(s);
}

DialogLayout read_layout(const api::Table& table, const EntriesLookup& entries) {
    DialogLayout layout;
    if (table.rows == 0 || table.columns < 7)
        return layout;
    int row = 0;
    // The dialog's own row has no item code.
    if (table.at(0, 0).is_empty()) {
        layout.title = table.at(0, 5).to_string();
        row = 1;
    }
    for (; row < table.rows; ++row) {
        int code = code_of(table.at(row, 0));
        if (is_button(code)) {
            if (code == item_cancel || code == item_cancel_default)
                layout.has_cancel = true;
            continue;
        }
        DialogLine line;
        line.row = row;
        line.code = code;
        line.kind = kind_of(code);
        if (code == item_static_text) {
            line.label = table.at(row, 5).to_string();
            // A label and the control on the row after it make one line; a static text is
            // followed by a second static text without text of its own.
            if (row + 1 < table.rows) {
                int next = code_of(table.at(row + 1, 0));
                if (next != item_static_text && !is_button(next)) {
                    ++row;
                    line.row = row;
                    line.code = next;
                    line.kind = kind_of(next);
                } else if (next == item_static_text && table.at(row + 1, 5).to_string().empty()) {
                    ++row;
                }
            }
        }
        if (line.kind != DialogLine::Kind::text) {
            const Value& initial = table.at(line.row, 6);
            line.initial = initial.to_string();
            if (line.kind == DialogLine::Kind::list && entries)
                line.entries = entries(table.at(line.row, 5).to_string());
        }
        layout.lines.push_back(std::move(line));
    }
    return layout;
}

const DialogLine* find_input(const DialogLayout& layout, const std::string& label) {
    std::string key = label_key(label);
    for (const DialogLine& line : layout.lines)
        if (line.is_input() && label_key(line.label) == key)
            return &line;
    return nullptr;
}

int list_choice(const DialogLine& line, const std::string& answer) {
    std::string key = lower(trim(answer));
    for (std::size_t i = 0; i < line.entries.size(); ++i)
        if (lower(trim(line.entries[i])) == key)
            return static_cast<int>(i + 1);
    std::optional<double> n = engine::parse_number(trim(answer));
    if (n && *n == std::floor(*n) && *n >= 1 && *n <= static_cast<double>(line.entries.size()))
        return static_cast<int>(*n);
    throw DialogAnswerError("\"" + answer + "\" is not a choice of " + line.label + " (choose " + choices_text(line) +
                            ")");
}

void fill_table(api::Table& table, const DialogLayout& layout,
                const std::vector<std::pair<std::string, std::string>>& answers) {
    // Check every answer before writing anything, so a bad one leaves the table as it was.
    std::vector<std::pair<const DialogLine*, std::string>> given;
    for (const auto& [label, value] : answers) {
        const DialogLine* line = find_input(layout, label);
        if (line == nullptr) {
            std::string known;
            for (const DialogLine& l : layout.lines)
                if (l.is_input())
                    known += (known.empty() ? "" : ", ") + l.label;
            throw DialogAnswerError("the dialog has no field \"" + label + "\" (its fields: " + known + ")");
        }
        if (line->kind == DialogLine::Kind::list)
            list_choice(*line, value);
        if (line->kind == DialogLine::Kind::check && !parse_bool(value))
            throw DialogAnswerError(line->label + " takes true or false, not \"" + value + "\"");
        if (line->kind == DialogLine::Kind::unsupported)
            throw DialogAnswerError("the field \"" + line->label + "\" cannot be answered from the command line");
        given.emplace_back(line, value);
    }
    for (const DialogLine& line : layout.lines) {
        if (!line.is_input())
            continue;
        std::string text = line.initial;
        bool answered = false;
        for (const auto& [l, value] : given)
            if (l == &line)
                text = value, answered = true; // the last answer for a label wins
        Value& cell = table.at(line.row, 6);
        switch (line.kind) {
        case DialogLine::Kind::edit: cell = text.empty() ? Value() : Value::text(text); break;
        case DialogLine::Kind::check: cell = Value::boolean(parse_bool(text).value_or(false)); break;
        case DialogLine::Kind::list:
            if (answered) {
                cell = Value::number(list_choice(line, text));
            } else {
                // The add-in gives the position as text; hand it back as the number it means.
                std::optional<double> n = engine::parse_number(text);
                cell = Value::number(n ? *n : 1);
            }
            break;
        case DialogLine::Kind::unsupported:
        case DialogLine::Kind::text: break;
        }
    }
}

std::pair<std::string, std::string> split_field(const std::string& field) {
    std::size_t eq = field.find('=');
    if (eq == std::string::npos || trim(field.substr(0, eq)).empty())
        throw DialogAnswerError("--field takes LABEL=VALUE, not \"" + field + "\"");
    return {trim(field.substr(0, eq)), field.substr(eq + 1)};
}

} // namespace host::ui
