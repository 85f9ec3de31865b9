#include "api/Host.hpp"

#include "api/Text.hpp"

#include <algorithm>

namespace host::api {

namespace {
Host* current = nullptr;

// Sheet ids start well away from 0 and from small numbers so that a zeroed or made-up
// reference does not name a sheet by accident.
constexpr IDSHEET first_sheet_id = 0x5E10;
} // namespace

Host::Host(engine::Workbook& workbook, std::string book_name) : workbook_(&workbook), book_name_(std::move(book_name)) {
    // The worksheet menu bar as the spreadsheet shows it before any add-in is opened.
    std::vector<Menu>& bar = bars_[worksheet_menu_bar];
    for (const char* title : {"&File", "&Edit", "&View", "&Insert", "F&ormat", "&Tools", "&Data", "&Window", "&Help"}) {
        Menu m;
        m.title = title;
        m.builtin = true;
        bar.push_back(std::move(m));
    }
}

int Host::injected_fault(int xlfn) {
    if (xlfn != fault_.xlfn)
        return xlretSuccess;
    return fault_.calls++ < fault_.after ? xlretSuccess : fault_.code;
}

Host::~Host() {
    if (current == this)
        current = nullptr;
}

IDSHEET Host::sheet_id(int sheet) const { return first_sheet_id + static_cast<IDSHEET>(sheet); }

int Host::sheet_of(IDSHEET id) const {
    if (id < first_sheet_id || id - first_sheet_id >= static_cast<IDSHEET>(workbook_->sheet_count()))
        return -1;
    return static_cast<int>(id - first_sheet_id);
}

const Registration* Host::find_registration(std::string_view procedure) const {
    for (const Registration& r : registrations_)
        if (same_text(r.procedure(), procedure))
            return &r;
    return nullptr;
}

const std::vector<Menu>* Host::menu_bar(int bar) const {
    auto it = bars_.find(bar);
    return it == bars_.end() ? nullptr : &it->second;
}

const Table* Host::name_value(std::string_view name) const {
    auto it = names_.find(upper(name));
    return it == names_.end() ? nullptr : &it->second;
}

void Host::record_write(const std::vector<std::pair<engine::CellAddress, engine::Value>>& cells) {
    ++activity_.writes;
    wrote_since_read_ = true;
    if (evaluation_observer_)
        last_values_ = cells;
    // An optimiser writes the same cells again and again: only new ones need looking up.
    bool same = cells.size() == last_write_.size() &&
                std::equal(cells.begin(), cells.end(), last_write_.begin(),
                           [](const auto& cell, const engine::CellAddress& at) { return cell.first == at; });
    if (same)
        return;
    last_write_.clear();
    for (const auto& cell : cells) {
        last_write_.push_back(cell.first);
        if (written_.insert(cell.first).second)
            activity_.written.push_back(cell.first);
    }
}

void Host::record_read(const engine::CellAddress& cell) {
    if (!wrote_since_read_)
        return;
    wrote_since_read_ = false;
    ++activity_.read_after_write[cell];
    if (evaluation_observer_)
        evaluation_observer_(cell, workbook_->value(cell), last_values_);
}

void Host::record_evaluation(const std::vector<std::pair<engine::CellAddress, engine::Value>>& cells,
                             const engine::CellAddress& read, const engine::Value& value) {
    record_write(cells);
    wrote_since_read_ = false;
    ++activity_.read_after_write[read];
    if (evaluation_observer_)
        evaluation_observer_(read, value, cells);
}

void set_current_host(Host* host) { current = host; }
Host* current_host() { return current; }

} // namespace host::api
