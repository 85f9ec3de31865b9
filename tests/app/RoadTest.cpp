// The add-in module loaded through the host as the command loads it, walked from open to
// close: registration and menu, the Solve dialog and its result, every failure of Solve
// reaching an error alert, and everything removed again on close. Each test runs in a
// process of its own, so each starts from a freshly loaded module.
#include "AddinLoader.hpp"
#include "Message.hpp"
#include "Mirror.hpp"

#include "api/Host.hpp"
#include "ui/Dialog.hpp"
#include "ui/FrontEnd.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

#include <sstream>

namespace {

using host::engine::CellAddress;
using host::engine::Value;

// A workbook with a model on Sheet1: variables B1:C1, bounds in B2:C2 and B3:C3, the
// objective in B5 (the mirror's formula).
struct Model {
    host::engine::Workbook book;
    Model() {
        book.add_sheet("Sheet1");
        book.add_sheet("Other");
        set(0, 1, 0.5), set(0, 2, 0.5);
        set(1, 1, -3), set(1, 2, -2);
        set(2, 1, 4), set(2, 2, 1.5);
        book.set_formula({0, 4, 1}, mirror::bowl_formula);
        set(6, 0, 1); // A7:C7 hold text and blanks for the failure cases
        book.set_value({0, 6, 1}, Value::text("n/a"));
        book.set_formula({0, 7, 0}, "1/0");
        book.set_active_sheet(0);
        book.recalculate_all();
    }
    void set(int row, int col, double x) { book.set_value({0, row, col}, Value::number(x)); }
    double at(int row, int col) const { return book.value({0, row, col}).as_number(); }
};

// The host, the terminal stand-in and the loaded module, in the order they must go away.
struct Road {
    Model model;
    host::api::Host host{model.book, "Model.xlsx"};
    host::api::CurrentHost current{host};
    std::ostringstream out, err;
    host::ui::FrontEnd front{out, err};
    std::unique_ptr<app::AddinLoader> addin;
    std::vector<host::api::Table> tables; // every dialog as the add-in laid it out

    Road() {
        front.attach(host);
        host.set_dialog_handler([this](host::api::Table& t) {
            tables.push_back(t);
            return front.answer(t);
        });
        addin = std::make_unique<app::AddinLoader>(OMBRIX_ADDIN_PATH);
        host.set_module_path(addin->path());
        app::AddinLoader* loader = addin.get();
        host.set_procedure_resolver([loader](const std::string&, const std::string& p) { return loader->exports(p); });
    }
    ~Road() { addin.reset(); }

    const std::vector<host::api::Menu>& bar() const { return *host.menu_bar(host::api::worksheet_menu_bar); }
    int ombrix_menus() const {
        int n = 0;
        for (const host::api::Menu& m : bar())
            n += m.title == "&Ombrix";
        return n;
    }
    std::vector<std::pair<std::string, std::string>> valid_answers() const {
        return {{"Var Vector", "B1:C1"},   {"Min Vector", "B2:C2"},  {"Max Vector", "B3:C3"},
                {"Function Cell", "B5"},   {"Goal:", "Maximise"},    {"Seed", "11"},
                {"Population", "20"},      {"Generations", "15"},    {"Trials", "2"},
                {"Crossover Rate", "0.9"}, {"Mutation Rate", "0.02"}};
    }
    std::string last_alert() const { return host.alerts().empty() ? std::string() : host.alerts().back().text; }
};

TEST(AddinRoad, OpenRegistersCommandsAndAddsTheMenuOnce) {
    Road road;
    EXPECT_EQ(road.addin->open(), 1);
    const host::api::Registration* solve = road.host.find_registration("Solve");
    const host::api::Registration* options = road.host.find_registration("Options");
    const host::api::Registration* about = road.host.find_registration("About");
    ASSERT_NE(solve, nullptr);
    ASSERT_NE(options, nullptr);
    ASSERT_NE(about, nullptr);
    for (const auto& [r, name] :
         {std::pair{solve, "Solve"}, std::pair{options, "Options"}, std::pair{about, "About"}}) {
        EXPECT_EQ(r->arguments,
                  (std::vector<std::string>{road.addin->path(), name, "I", name, "", " 2", "Ombrix", " ", " ", name}));
    }
    // Solve is registered first, then Options, then About; neither self test is registered.
    EXPECT_LT(solve, options);
    EXPECT_LT(options, about);
    EXPECT_EQ(road.host.find_registration("RunTests"), nullptr);

    // The menu's items are checked through the command (`ombrix menu`).
    ASSERT_EQ(road.ombrix_menus(), 1);
    EXPECT_EQ(road.addin->open(), 1);
    EXPECT_EQ(road.ombrix_menus(), 1); // a second open adds no second menu
    EXPECT_TRUE(road.host.alerts().empty());
}

TEST(AddinRoad, SolveShowsItsDialogAndWritesTheBestPoint) {
    Road road;
    road.addin->open();
    road.front.set_answers(road.valid_answers());
    EXPECT_EQ(road.addin->run("Solve"), 0);
    EXPECT_TRUE(road.host.alerts().empty()) << road.last_alert();
    ASSERT_EQ(road.tables.size(), 1u);

    const host::api::Table& t = road.tables[0];
    ASSERT_EQ(t.rows, 43); // 20 controls, the dialog row, OK and Cancel
    // Layout of each kind: tests/excel/DialogTest. The goal list's entries were defined for
    // the dialog only.
    EXPECT_EQ(t.at(4 + 2 * 7, 0), Value::number(21));
    EXPECT_EQ(road.host.name_value(t.at(4 + 2 * 7, 5).to_string()), nullptr);

    // The best point is written back, and it is the optimiser's own answer for this model.
    mirror::Settings s{11, 20, 15, 2, 0.9, 0.02, true};
    std::vector<double> best = mirror::solve(s, {-3, -2}, {4, 1.5}, mirror::bowl);
    EXPECT_EQ(road.model.at(0, 1), best[0]);
    EXPECT_EQ(road.model.at(0, 2), best[1]);
    EXPECT_EQ(road.model.at(4, 1), mirror::bowl(best));

    // Settings stay for the next Solve: its dialog opens with what was entered.
    road.front.set_answers({});
    road.addin->run("Solve");
    ASSERT_EQ(road.tables.size(), 2u);
    EXPECT_EQ(road.tables[1].at(4 + 2 * 10, 6).to_string(), "11");
}

TEST(AddinRoad, EveryFailureOfSolveReachesAnErrorAlert) {
    struct Case {
        const char* label;
        const char* value;
        const char* alert;
        const char* label2 = nullptr;
        const char* value2 = nullptr;
    } cases[] = {
        // One per stage of Solve (the whole list, in checking order: tests/solver/commands).
        {"Population", "1", "Expected population size to be an integer above 2"},
        {"Min Vector", "A7:B7", "Failed to read Min vector. Ensure all values are numbers"},
        {"Function Cell", "", "Invalid target cell specified"},
        {"Max Vector", "B2:C2", ""},                                         // equal bounds are accepted
        {"Min Vector", "B3:C3", "Unknown exception", "Max Vector", "B2:C2"}, // maxima below minima
        {"Function Cell", "B7", "Failed to get cell value as double"},
        {"Var Vector", "B1:C1:D1", "Cell picker returned malformed"},
    };
    Road road;
    road.addin->open();
    for (const Case& c : cases) {
        std::size_t before = road.host.alerts().size();
        auto answers = road.valid_answers();
        answers.emplace_back(c.label, c.value);
        if (c.label2)
            answers.emplace_back(c.label2, c.value2);
        road.front.set_answers(answers);
        EXPECT_EQ(road.addin->run("Solve"), 0);
        if (*c.alert == '\0') {
            EXPECT_EQ(road.host.alerts().size(), before) << c.label << "=" << c.value << ": " << road.last_alert();
            continue;
        }
        ASSERT_EQ(road.host.alerts().size(), before + 1) << c.label << "=" << c.value;
        // An alert may go on after the known message with details (what a cell held).
        EXPECT_EQ(road.host.alerts().back().text.substr(0, std::strlen(c.alert)), c.alert) << c.label << "=" << c.value;
        EXPECT_EQ(road.host.alerts().back().type, 3);
    }
    // Each alert went to standard error, none to the output.
    EXPECT_EQ(road.front.error_alerts(), std::size(cases) - 1);
    EXPECT_NE(road.err.str().find("Error: Invalid target cell specified\n"), std::string::npos);
    EXPECT_EQ(road.out.str(), "");
}

// The host refusing a call: opening still answers 1, and a Solve that loses the host part way
// through its run ends in an error alert with the variable cells as they were.
TEST(AddinRoad, RefusalsOfTheHostMidway) {
    for (int xlfn : {xlGetName, xlfRegister, xlfAddMenu}) {
        Road road;
        road.host.fail_calls(xlfn, 0);
        EXPECT_EQ(road.addin->open(), 1) << xlfn;
        EXPECT_EQ(road.addin->close(), 1) << xlfn;
        EXPECT_EQ(road.ombrix_menus(), 0) << xlfn;
    }
    // Reads fail: the cells are put back. Writes fail: nothing can be put back.
    for (auto [xlfn, alert] :
         {std::pair{xlCoerce, "Failed to get cell value as double"}, std::pair{xlSet, "Failed to set range"}}) {
        Road road;
        road.addin->open();
        road.front.set_answers(road.valid_answers());
        road.host.fail_calls(xlfn, 40);
        EXPECT_EQ(road.addin->run("Solve"), 0);
        EXPECT_GT(road.host.calls_to_failing_function(), 40) << xlfn;
        ASSERT_EQ(road.host.alerts().size(), 1u) << xlfn;
        EXPECT_EQ(road.host.alerts()[0].type, 3);
        EXPECT_EQ(road.last_alert().rfind(alert, 0), 0u) << xlfn << ": " << road.last_alert();
        if (xlfn == xlCoerce) {
            EXPECT_EQ(road.model.at(0, 1), 0.5);
            EXPECT_EQ(road.model.at(0, 2), 0.5);
        }
    }
}

TEST(AddinRoad, CloseRemovesWhatOpenAdded) {
    Road road;
    std::size_t menus = road.bar().size();
    road.addin->open();
    road.front.set_answers(road.valid_answers());
    road.addin->run("Solve");
    ASSERT_FALSE(road.host.registrations().empty());
    // The quiet entry points change nothing the host can see.
    const std::size_t registered = road.host.registrations().size();
    EXPECT_EQ(road.addin->run("xlAutoAdd"), 1);
    EXPECT_EQ(road.addin->run("xlAutoRemove"), 1);
    EXPECT_EQ(road.host.registrations().size(), registered);
    EXPECT_EQ(road.ombrix_menus(), 1);
    EXPECT_EQ(road.addin->close(), 1);
    EXPECT_TRUE(road.host.registrations().empty());
    EXPECT_EQ(road.ombrix_menus(), 0);
    EXPECT_EQ(road.bar().size(), menus);
    EXPECT_EQ(road.host.name_count(), 0u);
    EXPECT_TRUE(road.host.alerts().empty()) << road.last_alert();
    EXPECT_EQ(road.host.allocations().outstanding(), 0u);
    // Opening again after a close puts everything back.
    road.addin->open();
    EXPECT_EQ(road.ombrix_menus(), 1);
    EXPECT_THROW(road.addin->run("NoSuchCommand"), app::AddinError);
}

// The add-in manager learns the add-in's name for action 1 and #VALUE! for any other.
TEST(AddinRoad, TheAddInManager) {
    Road road;
    road.addin->open();
    void* module = dlopen(road.addin->path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    void* symbol = dlsym(module, "xlAddInManagerInfo");
    dlclose(module);
    ASSERT_NE(symbol, nullptr);
    LPXLOPER (*info)(LPXLOPER);
    std::memcpy(&info, &symbol, sizeof info);
    XLOPER one_text, two;
    char text[] = "\0011";
    one_text.xltype = xltypeStr, one_text.val.str = text; // the action as text, coerced
    two.xltype = xltypeNum, two.val.num = 2;
    const XLOPER* name = info(&one_text);
    ASSERT_EQ(name->xltype & 0x0FFF, xltypeStr);
    EXPECT_EQ(std::string(name->val.str + 1, static_cast<unsigned char>(name->val.str[0])), "Ombrix");
    const XLOPER* other = info(&two);
    EXPECT_EQ(other->xltype, xltypeErr);
    EXPECT_EQ(other->val.err, 15);
    EXPECT_EQ(road.host.allocations().outstanding(), 0u);
}

// A text file, and a shared library that is not an add-in (the maths library).
TEST(AddinLoading, RefusesWhatIsNoAddin) {
    for (auto [path, message] : {std::pair{OMBRIX_SOURCE_DIR "/README.md", "README.md"},
                                 std::pair{"/lib/x86_64-linux-gnu/libm.so.6", "not an add-in"}}) {
        if (access(path, R_OK) != 0)
            continue;
        const char* file = path;
        EXPECT_NE(message_of([file] { app::AddinLoader{file}; }).find(message), std::string::npos) << path;
    }
}

} // namespace
