// Menus on the menu bars: xlfAddMenu, xlfDeleteMenu, xlfGetBar.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

std::vector<Menu>* Dispatch::bar_arg(int i) {
    auto it = host.bars_.find(static_cast<int>(int_arg(i)));
    return it == host.bars_.end() ? nullptr : &it->second;
}

// A menu named by title or by 1-based position; end() when there is none.
std::vector<Menu>::iterator Dispatch::menu_arg(std::vector<Menu>& bar, int i) {
    if (type(i) == xltypeStr) {
        std::string_view title = counted(arg(i).val.str);
        for (auto it = bar.begin(); it != bar.end(); ++it)
            if (same_menu_title(it->title, title))
                return it;
        return bar.end();
    }
    long position = int_arg(i);
    if (position < 1 || position > static_cast<long>(bar.size()))
        return bar.end();
    return bar.begin() + (position - 1);
}

int Dispatch::add_menu() {
    want_count(2, 3);
    std::vector<Menu>* bar = bar_arg(0);
    if (type(1) != xltypeMulti)
        refuse(xlretFailed);
    const XLOPER& table = arg(1);
    multi_size(table);
    if (table.val.array.columns > 5)
        refuse(xlretFailed);
    if (bar == nullptr) {
        out = error_value(ErrorCode::Value);
        return xlretSuccess;
    }
    Menu menu;
    int columns = table.val.array.columns;
    for (int r = 0; r < table.val.array.rows; ++r) {
        std::vector<std::string> row(5);
        for (int c = 0; c < columns; ++c) {
            const XLOPER& e = table.val.array.lparray[r * columns + c];
            std::optional<std::string> t = text_of(scalar_of(e));
            if (!t)
                refuse(xlretFailed);
            row[static_cast<std::size_t>(c)] = *t;
        }
        if (r == 0)
            menu.title = row[0];
        else
            menu.items.push_back(std::move(row));
    }
    if (menu.title.empty()) {
        out = error_value(ErrorCode::Value);
        return xlretSuccess;
    }
    auto where = bar->end();
    if (given(2)) {
        where = menu_arg(*bar, 2);
        if (where == bar->end()) {
            out = error_value(ErrorCode::Value);
            return xlretSuccess;
        }
    }
    where = bar->insert(where, std::move(menu));
    out = num_value(static_cast<double>(where - bar->begin() + 1));
    return xlretSuccess;
}

int Dispatch::delete_menu() {
    want_count(2, 2);
    std::vector<Menu>* bar = bar_arg(0);
    if (type(1) != xltypeStr && type(1) != xltypeNum && type(1) != xltypeInt)
        refuse(xlretFailed);
    auto it = bar == nullptr ? std::vector<Menu>::iterator() : menu_arg(*bar, 1);
    if (bar == nullptr || it == bar->end()) {
        out = error_value(ErrorCode::Value);
        return xlretSuccess;
    }
    bar->erase(it);
    out = bool_value(true);
    return xlretSuccess;
}

int Dispatch::get_bar() {
    if (count == 0) {
        out = num_value(worksheet_menu_bar); // the active menu bar
        return xlretSuccess;
    }
    want_count(3, 3);
    std::vector<Menu>* bar = bar_arg(0);
    if (type(1) != xltypeStr && type(1) != xltypeNum && type(1) != xltypeInt)
        refuse(xlretFailed);
    long item = int_arg(2);
    auto it = bar == nullptr ? std::vector<Menu>::iterator() : menu_arg(*bar, 1);
    if (bar == nullptr || it == bar->end() || item < 0 || item > static_cast<long>(it->items.size())) {
        out = error_value(ErrorCode::NA);
        return xlretSuccess;
    }
    set_text_result(item == 0 ? it->title : it->items[static_cast<std::size_t>(item - 1)][0]);
    return xlretSuccess;
}

} // namespace host::api
