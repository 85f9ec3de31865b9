#include "excel/Registration.hpp"

#include "excel/ExcelException.hpp"
#include "excel/framewrk/Framework.hpp"

#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace excel {

void RetImpl::append_to(Args& args, const char* name, char type) {
    if (args.names.length() > 0)
        args.names.append(',');
    args.names.append(name);
    args.types.append(type);
}

void RetImpl::make_volatile(Args& args) { args.types.append('!'); }

AddinFunction::AddinFunction(const char* category, const char* name, const Args& args, const char* help,
                             bool is_function)
    : category(category), name(name), arg_names(args.names), arg_types(args.types), help(help),
      is_function(is_function) {}

void AddinFunction::reg(void* module) const {
    String help_text(help);
    String shortcut(" ");
    String topic(" ");
    String category_text(category);
    String macro_type(is_function ? " 1" : " 2");
    String procedure(name);
    String function_text(name);
    // The buffers' values point into this object's own buffers; copies for the call only.
    XLOPER types = arg_types.value;
    XLOPER names = arg_names.value;
    Excel(xlfRegister, nullptr, 10, static_cast<LPXLOPER>(module), &procedure, &types, &function_text, &names,
          &macro_type, &category_text, &shortcut, &topic, &help_text);
}

void AddinFunction::unreg() const {
    // Unregistering goes by register id, which the spreadsheet tells for the module path
    // and the procedure's name.
    XLOPER module;
    module.xltype = xltypeNil;
    if (Excel(xlGetName, &module, 0) != xlretSuccess)
        return;
    if ((module.xltype & 0x0FFF) == xltypeStr) {
        String procedure(name);
        XLOPER id;
        id.xltype = xltypeNil;
        if (Excel(xlfRegisterId, &id, 2, &module, &procedure) == xlretSuccess) {
            if ((id.xltype & 0x0FFF) == xltypeNum)
                Excel(xlfUnregister, nullptr, 1, &id);
            Excel(xlFree, nullptr, 1, &id);
        }
    }
    Excel(xlFree, nullptr, 1, &module);
}

void AddinFunction::register_all(void* module) {
    for (const AddinFunction* f = instances(); f; f = f->get_next())
        f->reg(module);
}

void AddinFunction::unregister_all() {
    for (const AddinFunction* f = instances(); f; f = f->get_next())
        f->unreg();
}

namespace {

// Asks bar 10 for the menu; the answer is an error value when the bar has no such menu.
XLOPER get_bar(const char* name) {
    XLOPER result;
    result.xltype = xltypeErr;
    result.val.err = 42;
    String title(name);
    Excel(xlfGetBar, &result, 3, TempInt(10), &title, TempInt(0));
    return result;
}

// The menu table for the length of one call; movable global memory on Windows.
class MenuTable {
public:
    explicit MenuTable(std::size_t count) {
#ifdef _WIN32
        handle = GlobalAlloc(GMEM_MOVEABLE, count * sizeof(XLOPER));
        cells = handle ? static_cast<XLOPER*>(GlobalLock(handle)) : nullptr;
        if (!cells) {
            if (handle)
                GlobalFree(handle);
            throw ExcelException("Menu table memory failure");
        }
#else
        storage.resize(count);
        cells = storage.data();
#endif
    }
    ~MenuTable() {
#ifdef _WIN32
        GlobalUnlock(handle);
        GlobalFree(handle);
#endif
    }
    MenuTable(const MenuTable&) = delete;
    MenuTable& operator=(const MenuTable&) = delete;

    XLOPER* data() { return cells; }

private:
    XLOPER* cells;
#ifdef _WIN32
    HGLOBAL handle;
#else
    std::vector<XLOPER> storage;
#endif
};

} // namespace

void Menu::reg(void*) const {
    XLOPER bar = get_bar(name);
    if ((bar.xltype & 0x0FFF) != xltypeErr) {
        Excel(xlFree, nullptr, 1, &bar);
        return;
    }

    unsigned n = 1;
    for (const MenuOption* o = MenuOption::instances(); o; o = o->get_next())
        if (o->menu == this)
            ++n;

    const String empty;
    const String title(name);
    MenuTable table(std::size_t(n) * 5);
    XLOPER* cells = table.data();
    for (std::size_t i = 0; i < std::size_t(n) * 5; ++i)
        cells[i] = empty;
    cells[0] = title;

    StringArray options(n), macros(n);
    unsigned row = 1;
    for (const MenuOption* o = MenuOption::instances(); o; o = o->get_next()) {
        if (o->menu != this)
            continue;
        options[row] = o->name;
        macros[row] = o->macro;
        cells[row * 5] = options[row];
        cells[row * 5 + 1] = macros[row];
        ++row;
    }

    XLOPER menu_table;
    menu_table.xltype = xltypeMulti;
    menu_table.val.array.lparray = cells;
    menu_table.val.array.rows = static_cast<std::uint16_t>(n);
    menu_table.val.array.columns = 5;
    String help("Help");
    Excel(xlfAddMenu, nullptr, 3, TempNum(10.0), &menu_table, &help);
}

void Menu::unreg() const {
    XLOPER bar = get_bar(name);
    if ((bar.xltype & 0x0FFF) == xltypeErr)
        return;
    String title(name);
    Excel(xlfDeleteMenu, nullptr, 2, TempNum(10.0), &title);
    Excel(xlFree, nullptr, 1, &bar);
}

void Menu::register_all(void* module) {
    for (const Menu* m = instances(); m; m = m->get_next())
        m->reg(module);
}

void Menu::unregister_all() {
    for (const Menu* m = instances(); m; m = m->get_next())
        m->unreg();
}

void Addin::reg(void* module) const {
    AddinFunction::register_all(module);
    Menu::register_all(module);
}

void Addin::unreg() const {
    AddinFunction::unregister_all();
    Menu::unregister_all();
}

} // namespace excel
