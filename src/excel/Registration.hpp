#ifndef OMBRIX_EXCEL_REGISTRATION_HPP
#define OMBRIX_EXCEL_REGISTRATION_HPP

// What the add-in offers the spreadsheet, declared as static objects: the add-in itself,
// its commands and worksheet functions, its menus and their items. Each object joins its
// class's instance list when constructed, so opening the add-in can register them all.

#include "excel/String.hpp"
#include "object/InstancesStackable.hpp"

namespace excel {

// The signature of a procedure: argument names separated by "," and the type text (the
// result letter, one letter per argument, then markers such as "!").
struct Args {
    CharBuffer names;
    CharBuffer types;
};

class RetImpl {
public:
    // Adds an argument: "," (when there are names already), the name, and its type letter.
    // Each piece that would pass 255 characters throws "CharBuffer overrun".
    static void append_to(Args& args, const char* name, char type);
    // Marks the function volatile.
    static void make_volatile(Args& args);
    // Sets the result letter of a procedure that has no arguments yet.
    static void set_result(Args& args, char type) { args.types.append(type); }
};

// One exported procedure. The text pointers are kept, not copied: they must be static.
class AddinFunction : public object::InstancesStackable<AddinFunction> {
public:
    AddinFunction(const char* category, const char* name, const Args& args, const char* help, bool is_function);

    // Registers with xlfRegister; module is the value (a string) of the add-in file's path.
    // Texts over 255 characters throw "String overrun" before the spreadsheet is called;
    // the spreadsheet's refusal is not reported.
    void reg(void* module) const;
    // Removes the registration again, if the spreadsheet has one.
    void unreg() const;

    // Every instance, most recently constructed first.
    static void register_all(void* module);
    static void unregister_all();

    const char* category;
    const char* name;
    CharBuffer arg_names;
    CharBuffer arg_types;
    const char* help;
    bool is_function;
};

class CommandMacro : public AddinFunction {
public:
    CommandMacro(const char* category, const char* name, const Args& args, const char* help)
        : AddinFunction(category, name, args, help, false) {}
};

class WorksheetFunction : public AddinFunction {
public:
    WorksheetFunction(const char* category, const char* name, const Args& args, const char* help)
        : AddinFunction(category, name, args, help, true) {}
};

// A menu on the worksheet menu bar (bar 10), placed in front of Help.
class Menu : public object::InstancesStackable<Menu> {
public:
    explicit Menu(const char* name) : name(name) {}

    // Adds the menu with its items unless the bar has it already; module is not used.
    void reg(void* module) const;
    // Deletes the menu if the bar has it.
    void unreg() const;

    static void register_all(void* module);
    static void unregister_all();

    const char* name; // as the bar shows it, "&" before the access key
};

// An item of a menu; its text is also the name of the command it runs.
class MenuOption : public object::InstancesStackable<MenuOption> {
public:
    // The item's text runs the command of that name, or macro when given ("Options..." runs
    // Options).
    MenuOption(const Menu& menu, const char* name, const char* macro = nullptr)
        : menu(&menu), name(name), macro(macro ? macro : name) {}

    const Menu* menu;
    const char* name;
    const char* macro;
};

class Addin {
public:
    explicit Addin(const char* name) : name(name) {}

    // Every procedure, then every menu.
    void reg(void* module) const;
    // Procedures first, then menus.
    void unreg() const;

    const char* name;
};

} // namespace excel

#endif
