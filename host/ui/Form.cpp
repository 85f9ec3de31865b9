#include "ui/Form.hpp"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <istream>
#include <ostream>

namespace host::ui {

namespace {

constexpr int label_width = 18;

} // namespace

Form::Form(const DialogLayout& layout, std::istream& in, std::ostream& out) : layout_(layout), in_(in), out_(out) {}

const DialogLine* Form::input(std::size_t number) const {
    std::size_t k = 0;
    for (const DialogLine& line : layout_.lines)
        if (line.is_input() && ++k == number)
            return &line;
    return nullptr;
}

std::string Form::current(const DialogLine& line) const {
    std::string value = line.initial;
    for (const auto& [label, v] : answers_)
        if (label == line.label)
            value = v;
    return value;
}

void Form::print() const {
    if (!layout_.title.empty())
        out_ << layout_.title << "\n";
    std::size_t number = 0;
    for (const DialogLine& line : layout_.lines) {
        if (!line.is_input()) {
            out_ << (line.label.empty() ? "" : "     " + line.label) << "\n";
            continue;
        }
        out_ << std::setw(4) << ++number << " " << std::left << std::setw(label_width) << line.label << std::right;
        std::string value = current(line);
        if (line.kind == DialogLine::Kind::list) {
            int chosen = 1;
            try {
                chosen = list_choice(line, value);
            } catch (const DialogAnswerError&) {
            }
            for (std::size_t i = 0; i < line.entries.size(); ++i)
                out_ << (i ? "  " : "") << (int(i) + 1 == chosen ? "[x] " : "[ ] ") << i + 1 << ") " << line.entries[i];
        } else if (line.kind == DialogLine::Kind::unsupported) {
            out_ << "(cannot be edited here)";
        } else {
            out_ << "[" << value << "]";
        }
        out_ << "\n";
    }
}

bool Form::edit(const DialogLine& line) {
    for (;;) {
        out_ << line.label;
        if (line.kind == DialogLine::Kind::list) {
            out_ << " (";
            for (std::size_t i = 0; i < line.entries.size(); ++i)
                out_ << (i ? ", " : "") << i + 1 << ") " << line.entries[i];
            out_ << ")";
        } else if (line.kind == DialogLine::Kind::check) {
            out_ << " (true or false)";
        }
        std::string shown = current(line);
        if (line.kind == DialogLine::Kind::list) {
            try {
                shown = line.entries.at(static_cast<std::size_t>(list_choice(line, shown) - 1));
            } catch (const std::exception&) {
            }
        }
        out_ << " [" << shown << "]: " << std::flush;
        std::string text;
        if (!std::getline(in_, text))
            return false;
        if (trim(text).empty())
            return true; // keep the value
        if (line.kind == DialogLine::Kind::list) {
            try {
                list_choice(line, text);
            } catch (const DialogAnswerError& e) {
                out_ << e.what() << "\n";
                continue;
            }
            text = trim(text);
        }
        answers_.emplace_back(line.label, text);
        return true;
    }
}

bool Form::run() {
    answers_.clear();
    for (;;) {
        print();
        out_ << "\nField number to change it, Enter to accept (OK), c to cancel: " << std::flush;
        std::string reply;
        if (!std::getline(in_, reply)) {
            out_ << "\n";
            return false;
        }
        std::string r = lower(trim(reply));
        if (r.empty() || r == "ok" || r == "o")
            return true;
        if (r == "c" || r == "cancel" || r == "q")
            return false;
        const DialogLine* line = nullptr;
        if (std::all_of(r.begin(), r.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
            r.size() < 6)
            line = input(static_cast<std::size_t>(std::stoul(r)));
        if (line == nullptr || line->kind == DialogLine::Kind::unsupported) {
            out_ << "No field " << trim(reply) << ".\n";
            continue;
        }
        if (!edit(*line)) {
            out_ << "\n";
            return false;
        }
        out_ << "\n";
    }
}

} // namespace host::ui
