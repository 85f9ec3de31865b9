#include "ui/StatusLine.hpp"

#include <cctype>
#include <cmath>
#include <ostream>

namespace host::ui {

namespace {

constexpr int bar_width = 10;
// With the bar, a line that fits 80 columns; a longer one would wrap and not be rewritten.
constexpr std::size_t text_width = 66;

// A whole number at text[i...], moving i past it.
std::optional<double> number_at(std::string_view text, std::size_t& i) {
    std::size_t start = i;
    double n = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        n = n * 10 + (text[i++] - '0');
    if (i == start)
        return std::nullopt;
    return n;
}

} // namespace

std::optional<double> progress_of(std::string_view text) {
    double fraction = 0, scale = 1;
    bool any = false;
    for (std::size_t i = 0; i < text.size();) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])) ||
            (i > 0 && std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
            ++i;
            continue;
        }
        std::optional<double> a = number_at(text, i);
        if (text.substr(i, 4) != " of ")
            continue;
        std::size_t j = i + 4;
        std::optional<double> b = number_at(text, j);
        if (!b || *b < 1 || *a < 1 || *a > *b)
            continue;
        i = j;
        scale /= *b;
        fraction += (*a - 1) * scale;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return fraction;
}

void StatusLine::show(const std::optional<std::string>& text) {
    switch (display_) {
    case StatusDisplay::none: return;
    case StatusDisplay::lines: {
        if (!text)
            return;
        auto now = std::chrono::steady_clock::now();
        if (last_line_ && now - *last_line_ < std::chrono::seconds(1))
            return;
        last_line_ = now;
        out_ << *text << "\n" << std::flush;
        return;
    }
    case StatusDisplay::in_place:
        if (!text) {
            make_room();
            return;
        }
        out_ << "\r";
        if (std::optional<double> done = progress_of(*text)) {
            int filled = static_cast<int>(std::floor(*done * bar_width));
            out_ << "[" << std::string(static_cast<std::size_t>(filled), '#')
                 << std::string(static_cast<std::size_t>(bar_width - filled), '.') << "] ";
        }
        out_ << text->substr(0, text_width) << "\x1b[K" << std::flush;
        on_screen_ = true;
        return;
    }
}

void StatusLine::make_room() {
    if (!on_screen_)
        return;
    out_ << "\r\x1b[K" << std::flush;
    on_screen_ = false;
}

} // namespace host::ui
