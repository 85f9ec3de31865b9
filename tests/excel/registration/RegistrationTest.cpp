#include "excel/Registration.hpp"

#include "FakeExcel.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using fake::Value;

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Excel::instance().reset();
        base_outstanding = excel_().outstanding();
    }
    void TearDown() override {
        // Everything the spreadsheet filled was given back.
        EXPECT_EQ(excel_().outstanding(), base_outstanding);
    }
    static fake::Excel& excel_() { return fake::Excel::instance(); }

    // The module path as the open entry point passes it.
    XLOPER module() {
        path = "\x11/addins/ombrix.so";
        XLOPER x;
        x.xltype = xltypeStr;
        x.val.str = &path[0];
        return x;
    }

    static excel::Args args_of(const char* types) {
        excel::Args args;
        args.types.append(types);
        return args;
    }

    std::string path;
    std::size_t base_outstanding = 0;
};

std::vector<std::string> texts(const fake::Call& call) {
    std::vector<std::string> out;
    for (const Value& v : call.args)
        out.push_back(v.base_type() == xltypeStr ? v.str : "<type " + std::to_string(v.type) + ">");
    return out;
}

TEST_F(Registration, CommandIsRegisteredWithTheTenArgumentsInOrder) {
    excel::CommandMacro command("T", "N", args_of("I"), "H");
    XLOPER path_value = module();
    command.reg(&path_value);

    auto calls = excel_().calls_of(xlfRegister);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0]->has_result);
    EXPECT_EQ(texts(*calls[0]), (std::vector<std::string>{"/addins/ombrix.so", "N", "I", "N", "", " 2",
                                                           "T", " ", " ", "H"}));
}

TEST_F(Registration, WorksheetFunctionCarriesMacroTypeOneAndItsArguments) {
    excel::Args args;
    excel::RetImpl::set_result(args, 'B');
    excel::RetImpl::append_to(args, "x", 'B');
    excel::WorksheetFunction function("Cat", "Sum2", args, "Adds");
    XLOPER path_value = module();
    function.reg(&path_value);

    auto calls = excel_().calls_of(xlfRegister);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(texts(*calls[0]), (std::vector<std::string>{"/addins/ombrix.so", "Sum2", "BB", "Sum2", "x",
                                                           " 1", "Cat", " ", " ", "Adds"}));
}

TEST_F(Registration, ProceduresAreRegisteredMostRecentFirst) {
    excel::CommandMacro about("Ombrix", "About", args_of("I"), "About");
    excel::CommandMacro solve("Ombrix", "Solve", args_of("I"), "Solve");
    XLOPER path_value = module();
    excel::AddinFunction::register_all(&path_value);

    auto calls = excel_().calls_of(xlfRegister);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0]->args[1].is_str("Solve"));
    EXPECT_TRUE(calls[1]->args[1].is_str("About"));
}

TEST_F(Registration, OverlongHelpIsRefusedBeforeTheSpreadsheetIsCalled) {
    static const std::string help(256, 'h');
    excel::CommandMacro command("Ombrix", "Long", args_of("I"), help.c_str());
    XLOPER path_value = module();
    try {
        command.reg(&path_value);
        FAIL() << "a 256-character help text was accepted";
    } catch (const excel::ExcelException& e) {
        EXPECT_STREQ(e.what(), "String overrun");
    }
    EXPECT_TRUE(excel_().calls_of(xlfRegister).empty());
}

TEST_F(Registration, HelpOfExactly255CharactersIsRegisteredWhole) {
    static const std::string help(255, 'h');
    excel::CommandMacro command("Ombrix", "Long", args_of("I"), help.c_str());
    XLOPER path_value = module();
    command.reg(&path_value);
    auto calls = excel_().calls_of(xlfRegister);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]->args[9].str, help);
}

TEST_F(Registration, ArgumentListsAreJoinedWithCommasAndMarkedVolatile) {
    excel::Args args;
    excel::RetImpl::append_to(args, "x", 'B');
    excel::RetImpl::append_to(args, "y", 'B');
    EXPECT_STREQ(args.names.c_str(), "x,y");
    EXPECT_STREQ(args.types.c_str(), "BB");
    excel::RetImpl::make_volatile(args);
    EXPECT_STREQ(args.types.c_str(), "BB!");
    // The function keeps copies that point at its own buffers.
    excel::WorksheetFunction f("C", "F", args, "H");
    EXPECT_EQ(f.arg_names.value.val.str, f.arg_names.buffer);
    EXPECT_STREQ(f.arg_types.c_str(), "BB!");
}

TEST_F(Registration, ArgumentListOverrunsAreRefusedPieceByPiece) {
    struct Case {
        std::size_t names_before;
        std::size_t types_before;
        std::size_t name_length;
        std::size_t names_after; // length of names after the refusal
    };
    // names full: the comma is refused; a name that does not fit is refused after its
    // comma went in; a full type text refuses the letter.
    const Case cases[] = {{255, 1, 1, 255}, {250, 1, 10, 251}, {3, 255, 1, 5}};
    for (const Case& c : cases) {
        excel::Args args;
        args.names.append(std::string(c.names_before, 'n').c_str());
        args.types.append(std::string(c.types_before, 'B').c_str());
        try {
            excel::RetImpl::append_to(args, std::string(c.name_length, 'a').c_str(), 'B');
            ADD_FAILURE() << "no overrun for names " << c.names_before << ", types " << c.types_before;
        } catch (const excel::ExcelException& e) {
            EXPECT_STREQ(e.what(), "CharBuffer overrun");
        }
        EXPECT_EQ(args.names.length(), c.names_after) << "names " << c.names_before;
    }
    excel::Args full;
    full.types.append(std::string(255, 'B').c_str());
    EXPECT_THROW(excel::RetImpl::make_volatile(full), excel::ExcelException);
}

TEST_F(Registration, MenuIsAddedInFrontOfHelpWithItsOptionsMostRecentFirst) {
    excel::Menu menu("M");
    excel::Menu other("Other");
    excel::MenuOption about(menu, "About");
    excel::MenuOption elsewhere(other, "Elsewhere");
    excel::MenuOption solve(menu, "Solve");
    menu.reg(nullptr);

    auto bars = excel_().calls_of(xlfGetBar);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]->args[0].word, 10);
    EXPECT_TRUE(bars[0]->args[1].is_str("M"));
    EXPECT_EQ(bars[0]->args[2].word, 0);

    auto adds = excel_().calls_of(xlfAddMenu);
    ASSERT_EQ(adds.size(), 1u);
    const fake::Call& add = *adds[0];
    ASSERT_EQ(add.args.size(), 3u);
    EXPECT_EQ(add.args[0].base_type(), xltypeNum);
    EXPECT_EQ(add.args[0].num, 10.0);
    EXPECT_TRUE(add.args[2].is_str("Help"));
    const Value& table = add.args[1];
    ASSERT_EQ(table.rows, 3u);
    ASSERT_EQ(table.columns, 5u);
    const char* expected[3][5] = {{"M", "", "", "", ""},
                                  {"Solve", "Solve", "", "", ""},
                                  {"About", "About", "", "", ""}};
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned c = 0; c < 5; ++c)
            EXPECT_TRUE(table.at(r, c).is_str(expected[r][c])) << "row " << r << " column " << c;
}

TEST_F(Registration, MenuThatExistsAlreadyIsNotAddedAgain) {
    excel::Menu menu("M");
    excel::MenuOption solve(menu, "Solve");
    menu.reg(nullptr);
    menu.reg(nullptr);
    EXPECT_EQ(excel_().calls_of(xlfGetBar).size(), 2u);
    EXPECT_EQ(excel_().calls_of(xlfAddMenu).size(), 1u);
    EXPECT_EQ(excel_().menu_order, (std::vector<std::string>{"M"}));
}

TEST_F(Registration, MenuWithoutOptionsHasItsTitleRowOnly) {
    excel::Menu menu("Bare");
    menu.reg(nullptr);
    auto adds = excel_().calls_of(xlfAddMenu);
    ASSERT_EQ(adds.size(), 1u);
    EXPECT_EQ(adds[0]->args[1].rows, 1u);
    EXPECT_TRUE(adds[0]->args[1].at(0, 0).is_str("Bare"));
}

TEST_F(Registration, MenuIsDeletedOnlyWhenTheBarHasIt) {
    excel::Menu menu("M");
    menu.unreg();
    EXPECT_TRUE(excel_().calls_of(xlfDeleteMenu).empty());

    menu.reg(nullptr);
    menu.unreg();
    auto deletes = excel_().calls_of(xlfDeleteMenu);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0]->args[0].num, 10.0);
    EXPECT_TRUE(deletes[0]->args[1].is_str("M"));
    EXPECT_TRUE(excel_().menus.empty());
}

TEST_F(Registration, AddinRegistersProceduresThenMenusAndUndoesBothOnClose) {
    excel::Addin addin("Ombrix");
    excel::CommandMacro about("Ombrix", "About", args_of("I"), "About");
    excel::CommandMacro solve("Ombrix", "Solve", args_of("I"), "Solve");
    excel::Menu menu("&Ombrix");
    excel::MenuOption about_item(menu, "About");
    excel::MenuOption solve_item(menu, "Solve");

    XLOPER path_value = module();
    addin.reg(&path_value);
    std::vector<int> order;
    for (const fake::Call& c : excel_().calls)
        if (c.function == xlfRegister || c.function == xlfAddMenu)
            order.push_back(c.function);
    EXPECT_EQ(order, (std::vector<int>{xlfRegister, xlfRegister, xlfAddMenu}));
    EXPECT_EQ(excel_().registered.size(), 2u);

    excel_().calls.clear();
    addin.unreg();
    // Each procedure is looked up by name and unregistered by its id, before the menu goes.
    auto ids = excel_().calls_of(xlfRegisterId);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_TRUE(ids[0]->args[0].is_str("/addins/ombrix.so"));
    EXPECT_TRUE(ids[0]->args[1].is_str("Solve"));
    EXPECT_TRUE(ids[1]->args[1].is_str("About"));
    EXPECT_EQ(excel_().calls_of(xlfUnregister).size(), 2u);
    EXPECT_TRUE(excel_().registered.empty());
    EXPECT_TRUE(excel_().menus.empty());
    EXPECT_EQ(excel_().calls.back().function, xlFree);
    bool menu_deleted_last = false;
    for (const fake::Call& c : excel_().calls) {
        if (c.function == xlfDeleteMenu)
            menu_deleted_last = true;
        if (c.function == xlfUnregister) {
            EXPECT_FALSE(menu_deleted_last) << "a procedure was unregistered after the menu went";
        }
    }
    EXPECT_TRUE(menu_deleted_last);
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredCallsNoUnregister) {
    excel::CommandMacro solve("Ombrix", "Solve", args_of("I"), "Solve");
    solve.unreg();
    EXPECT_EQ(excel_().calls_of(xlfRegisterId).size(), 1u);
    EXPECT_TRUE(excel_().calls_of(xlfUnregister).empty());
}

} // namespace
