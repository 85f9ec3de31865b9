#ifndef OMBRIX_HOST_UI_STATUSLINE_HPP
#define OMBRIX_HOST_UI_STATUSLINE_HPP

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace host::ui {

// How the status bar reaches the user.
enum class StatusDisplay {
    none,     // not at all
    lines,    // one line per text, at most one a second (a log or a pipe)
    in_place, // one terminal line rewritten in place, with a progress bar
};

// How far along a text says its command is, from the counters "A of B" in it, read as
// nested counters, outermost first, each A counting from 1 and not yet done: "trial 2 of 4,
// step 3 of 10" is (1 + 2/10) / 4 = 0.3. None when the text has no counter.
std::optional<double> progress_of(std::string_view text);

// The status bar on a stream.
class StatusLine {
public:
    StatusLine(std::ostream& out, StatusDisplay display) : out_(out), display_(display) {}
    void set_display(StatusDisplay display) { display_ = display; }

    // A new text, or none when the bar is given back.
    void show(const std::optional<std::string>& text);
    // Takes the in-place line off the terminal so that other output starts on a clean
    // line; the next text brings it back.
    void make_room();

private:
    std::ostream& out_;
    StatusDisplay display_;
    bool on_screen_ = false;
    std::optional<std::chrono::steady_clock::time_point> last_line_;
};

} // namespace host::ui

#endif
