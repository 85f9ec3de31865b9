// Loads the built add-in module the way the spreadsheet does and drives its exported
// functions against the scripted callback stand-in of this program.

#include "FakeExcel.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using fake::Value;

typedef int (*Command)();
typedef LPXLOPER (*Info)(LPXLOPER);
typedef void (*Free)(LPXLOPER);

class Module : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        handle = dlopen(OMBRIX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    // The module stays loaded to the end: its value pools live as long as it does and are
    // never given back, so unloading it early would only hide them from the leak checker.
    void SetUp() override {
        ASSERT_NE(handle, nullptr);
        excel_().reset();
    }
    static fake::Excel& excel_() { return fake::Excel::instance(); }

    template <class F>
    static F get(const char* name) {
        void* symbol = dlsym(handle, name);
        if (!symbol)
            throw std::runtime_error(std::string("module does not export ") + name);
        F f;
        std::memcpy(&f, &symbol, sizeof f);
        return f;
    }
    static int run(const char* name) { return get<Command>(name)(); }

    static std::vector<std::string> alert_texts() {
        std::vector<std::string> out;
        for (const fake::Call* c : excel_().calls_of(xlcAlert)) {
            EXPECT_EQ(c->args.at(1).word, 3) << "alerts of the barrier are error alerts";
            out.push_back(c->args.at(0).str);
        }
        return out;
    }

    static void* handle;
};

void* Module::handle = nullptr;

std::vector<std::string> texts(const fake::Call& call) {
    std::vector<std::string> out;
    for (const Value& v : call.args)
        out.push_back(v.base_type() == xltypeStr ? v.str : "?");
    return out;
}

TEST_F(Module, OpeningRegistersSolveThenAboutAndAddsTheMenuInFrontOfHelp) {
    EXPECT_EQ(run("xlAutoOpen"), 1);
    EXPECT_TRUE(alert_texts().empty());

    std::vector<std::vector<std::string> > commands;
    for (const fake::Call* c : excel_().calls_of(xlfRegister))
        if (c->args.size() == 10)
            commands.push_back(texts(*c));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], (std::vector<std::string>{"/addins/ombrix.so", "Solve", "I", "Solve", "", " 2",
                                                      "Ombrix", " ", " ", "Solve"}));
    EXPECT_EQ(commands[1], (std::vector<std::string>{"/addins/ombrix.so", "About", "I", "About", "", " 2",
                                                      "Ombrix", " ", " ", "About"}));
    EXPECT_EQ(excel_().registered.count("CheckInstance"), 1u);

    auto adds = excel_().calls_of(xlfAddMenu);
    ASSERT_EQ(adds.size(), 1u);
    EXPECT_TRUE(adds[0]->args[2].is_str("Help"));
    const Value& table = adds[0]->args[1];
    ASSERT_EQ(table.rows, 3u);
    EXPECT_TRUE(table.at(0, 0).is_str("&Ombrix"));
    EXPECT_TRUE(table.at(1, 0).is_str("Solve"));
    EXPECT_TRUE(table.at(1, 1).is_str("Solve"));
    EXPECT_TRUE(table.at(2, 0).is_str("About"));
    EXPECT_TRUE(table.at(2, 1).is_str("About"));
    EXPECT_EQ(excel_().outstanding(), 0u) << "the module's own name was not released";

    // Opening again registers again but adds no second menu.
    excel_().calls.clear();
    EXPECT_EQ(run("xlAutoOpen"), 1);
    EXPECT_TRUE(excel_().calls_of(xlfAddMenu).empty());
    EXPECT_EQ(excel_().menu_order, std::vector<std::string>{"&Ombrix"});

    EXPECT_EQ(run("xlAutoClose"), 1);
}

TEST_F(Module, ClosingRemovesCommandsMenuAndCheckInstance) {
    ASSERT_EQ(run("xlAutoOpen"), 1);
    ASSERT_EQ(excel_().registered.size(), 3u);
    EXPECT_EQ(run("xlAutoClose"), 1);
    EXPECT_TRUE(excel_().registered.empty());
    EXPECT_TRUE(excel_().menus.empty());
    EXPECT_TRUE(alert_texts().empty());
    EXPECT_EQ(excel_().outstanding(), 0u);
}

TEST_F(Module, OpeningThatFailsStillCountsAsOpened) {
    // A spreadsheet that cannot tell the module's name: registration goes on with an empty
    // path, and nothing escapes the entry point.
    excel_().overrides[xlGetName] = [](int, XLOPER*, const std::vector<XLOPER*>&) { return xlretFailed; };
    EXPECT_EQ(run("xlAutoOpen"), 1);
    EXPECT_EQ(run("xlAutoClose"), 1);
}

TEST_F(Module, AddInManagerInfoNamesTheAddinForActionOneOnly) {
    Info info = get<Info>("xlAddInManagerInfo");
    struct Case {
        Value action;
        bool named;
    } cases[] = {{fake::num(1), true}, {fake::num(2), false}, {fake::num(0), false},
                 {fake::str("1"), true}, {fake::str("x"), false}, {fake::nil(), false}};
    for (const Case& c : cases) {
        XLOPER action;
        std::string buffer = std::string(1, static_cast<char>(c.action.str.size())) + c.action.str;
        action.xltype = c.action.type;
        if (c.action.type == xltypeStr)
            action.val.str = &buffer[0];
        else
            action.val.num = c.action.num;
        Value answer = Value::copy(info(&action));
        if (c.named) {
            EXPECT_EQ(answer.type, xltypeStr) << "no xlbitDLLFree on the answer";
            EXPECT_EQ(answer.str, "Ombrix");
        } else {
            EXPECT_EQ(answer.type, xltypeErr);
            EXPECT_EQ(answer.word, 15);
        }
    }
}

TEST_F(Module, AutoFreeReleasesOnlyWhatCarriesTheFreeBit) {
    Free free_value = get<Free>("xlAutoFree");
    // Without the bit nothing is touched: the text stays readable.
    char text[] = "\x03" "abc";
    XLOPER plain;
    plain.xltype = xltypeStr;
    plain.val.str = text;
    free_value(&plain);
    EXPECT_EQ(std::string(text + 1, 3), "abc");
    XLOPER number;
    number.xltype = xltypeNum | xlbitDLLFree;
    number.val.num = 1.0;
    free_value(&number);
    free_value(nullptr);

    // With the bit, memory from outside the pools goes back to the heap; a leak or a
    // mismatched release shows under the sanitizers.
    XLOPER heap_string;
    heap_string.xltype = xltypeStr | xlbitDLLFree;
    heap_string.val.str = new char[300];
    heap_string.val.str[0] = 0;
    free_value(&heap_string);

    char* elements = new char[2 * sizeof(XLOPER)];
    XLOPER* cells = reinterpret_cast<XLOPER*>(elements);
    cells[0].xltype = xltypeNum;
    cells[0].val.num = 2.0;
    cells[1].xltype = xltypeStr;
    cells[1].val.str = new char[300];
    cells[1].val.str[0] = 0;
    XLOPER array;
    array.xltype = xltypeMulti | xlbitDLLFree;
    array.val.array.lparray = cells;
    array.val.array.rows = 1;
    array.val.array.columns = 2;
    free_value(&array);
}

TEST_F(Module, TheQuietEntryPointsAnswerOne) {
    EXPECT_EQ(run("xlAutoAdd"), 1);
    EXPECT_EQ(run("xlAutoRemove"), 1);
    EXPECT_EQ(run("CheckInstance"), 1);
    EXPECT_TRUE(excel_().calls.empty());
}

TEST_F(Module, SolveCancelledChangesNothingAndShowsNothing) {
    EXPECT_EQ(run("Solve"), 0);
    ASSERT_EQ(excel_().calls_of(xlfDialogBox).size(), 1u);
    EXPECT_TRUE(alert_texts().empty());
    EXPECT_EQ(excel_().outstanding(), 0u);
}

TEST_F(Module, SolveFailureEndsInOneErrorAlert) {
    // OK with a population of 1: the edit box of "Population" is control 11.
    excel_().overrides[xlfDialogBox] = [](int, XLOPER* result, const std::vector<XLOPER*>& args) {
        Value table = Value::copy(args.at(0));
        for (unsigned r = 0; r + 1 < table.rows; ++r) {
            if (table.at(r, 5).is_str("Population"))
                table.elements.at((r + 1) * table.columns + 6) = fake::str("1");
            // A list answers with the position of its entry, as a number.
            if (table.at(r, 0).base_type() == xltypeNum && table.at(r, 0).num == 21)
                table.elements.at(r * table.columns + 6) = fake::num(1);
        }
        fake::Excel::instance().give_array(result, table);
        return 0;
    };
    EXPECT_EQ(run("Solve"), 0);
    EXPECT_EQ(alert_texts(), std::vector<std::string>{"Expected population size to be an integer above 2"});
    EXPECT_EQ(excel_().outstanding(), 0u);
}

TEST_F(Module, EveryCommandReturnsZeroWhateverHappens) {
    for (const char* name : {"About", "RunTests", "Test"}) {
        excel_().reset();
        EXPECT_EQ(run(name), 0) << name;
        EXPECT_LE(excel_().calls_of(xlcAlert).size(), 1u) << name;
    }
}

} // namespace
