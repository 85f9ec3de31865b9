// What the host records of the add-in's requests (registrations, menus, names, dialogs,
// alerts), and how it answers requests it cannot or must not carry out.

#include "Calls.hpp"

#include <limits>
#include <stdexcept>

namespace host::api::testing {
namespace {

using engine::Value;

class ApiMalformed : public HostTest {};

TEST_F(ApiMalformed, EveryBadRequestAnswersACodeAndChangesNothing) {
    book.set_value(at(0, "A1"), Value::number(1));
    XLOPER n = num(2), c = cell(0, 0), to_num = integer(xltypeNum), zero = integer(0);
    XLOPER backwards = sref(3, 1, 0, 0), wide_sref = cell(0, 0);
    wide_sref.val.sref.count = 2;
    XLOPER null_str = of_type(xltypeStr, [](auto& v) { v.str = nullptr; });
    XLOPER strange = of_type(0x200, [](auto&) {});
    XLOPER bad_error = err(99);
    XLOPER not_finite = num(std::numeric_limits<double>::infinity());
    XLOPER bad_sheet = ref(12345, 0, 0, 0, 0);
    XLOPER two_areas = ref(host.sheet_id(0), 0, 0, 0, 0);
    two_areas.val.mref.lpmref->count = 2;
    XLOPER null_mref = ref(host.sheet_id(0), 0, 0, 0, 0);
    null_mref.val.mref.lpmref = nullptr;
    std::vector<XLOPER> no_elements;
    XLOPER empty_multi = multi(no_elements, 0, 0);
    std::vector<XLOPER> nested_elements = {num(1), cell(0, 0)};
    XLOPER nested = multi(nested_elements, 1, 2);

    struct Case {
        const char* what;
        int xlfn;
        std::vector<XLOPER*> args;
        int code;
    };
    const Case cases[] = {
        {"unknown function", 9999, {}, xlretInvXlfn},
        {"negative function", -1, {}, xlretInvXlfn},
        {"set without arguments", xlSet, {}, xlretInvCount},
        {"set with three", xlSet, {&c, &n, &n}, xlretInvCount},
        {"sheet name of nothing", xlSheetNm, {}, xlretInvCount},
        {"get name with an argument", xlGetName, {&n}, xlretInvCount},
        {"coerce with three", xlCoerce, {&c, &to_num, &to_num}, xlretInvCount},
        {"set a number", xlSet, {&n, &n}, xlretFailed},
        {"set a backwards rectangle", xlSet, {&backwards, &n}, xlretFailed},
        {"set an unknown sheet", xlSet, {&bad_sheet, &n}, xlretFailed},
        {"set two areas", xlSet, {&two_areas, &n}, xlretFailed},
        {"set with an array inside an array", xlSet, {&c, &nested}, xlretInvXloper},
        {"coerce an unknown sheet", xlCoerce, {&bad_sheet, &to_num}, xlretFailed},
        {"reference without its list", xlCoerce, {&null_mref}, xlretInvXloper},
        {"coerce to type 0", xlCoerce, {&c, &zero}, xlretFailed},
        {"coerce a null string", xlCoerce, {&null_str, &to_num}, xlretInvXloper},
        {"coerce an unknown type", xlCoerce, {&strange, &to_num}, xlretInvXloper},
        {"coerce an unknown error code", xlCoerce, {&bad_error, &to_num}, xlretInvXloper},
        {"coerce an empty array", xlCoerce, {&empty_multi}, xlretInvXloper},
        {"short reference of count 2", xlCoerce, {&wide_sref}, xlretInvXloper},
        {"sheet id of a number", xlSheetId, {&n}, xlretFailed},
        {"sheet name of a number", xlSheetNm, {&n}, xlretFailed},
        {"alert of a reference", xlcAlert, {&bad_sheet}, xlretFailed},
        {"register with two arguments", xlfRegister, {&n, &n}, xlretInvCount},
        {"dialog of a number", xlfDialogBox, {&n}, xlretFailed},
        {"name that reads as #NUM!", xlfSetName, {&not_finite}, xlretFailed},
        {"alert that reads as #NUM!", xlcAlert, {&not_finite}, xlretFailed},
        {"menu table of a number", xlfAddMenu, {&n, &n}, xlretFailed},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        XLOPER result = num(5);
        EXPECT_EQ(Excel4v(k.xlfn, &result, static_cast<int>(k.args.size()), const_cast<LPXLOPER*>(k.args.data())),
                  k.code);
        EXPECT_EQ(result.xltype, xltypeErr); // a failure leaves an error, not the old value
    }
    EXPECT_EQ(book.value(at(0, "A1")), Value::number(1));
    EXPECT_TRUE(host.registrations().empty());
    EXPECT_TRUE(host.alerts().empty());
}

TEST_F(ApiMalformed, CountsPointersAndSessionsOutsideTheProtocol) {
    XLOPER result = nil();
    EXPECT_EQ(Excel4v(xlGetName, &result, -1, nullptr), xlretInvCount);
    EXPECT_EQ(Excel4v(xlFree, nullptr, 1, nullptr), xlretInvCount);
    LPXLOPER null_arg[] = {nullptr};
    EXPECT_EQ(Excel4v(xlFree, nullptr, 1, null_arg), xlretInvXloper);
    std::vector<XLOPER> many(31, num(1));
    std::vector<LPXLOPER> pointers;
    for (XLOPER& v : many)
        pointers.push_back(&v);
    EXPECT_EQ(Excel4v(xlfOr, &result, 31, pointers.data()), xlretInvCount);
    EXPECT_EQ(Excel4(xlfOr, &result, 31), xlretInvCount);
    // Thirty is allowed.
    ASSERT_EQ(Excel4v(xlfOr, &result, 30, pointers.data()), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeBool);
    // Without a session nothing answers.
    set_current_host(nullptr);
    EXPECT_EQ(Excel4(xlGetName, &result, 0), xlretFailed);
    set_current_host(&host);
}

class ApiRegistrations : public HostTest {};

TEST_F(ApiRegistrations, TenArgumentsAreRecordedAsGiven) {
    const std::vector<std::string> given = {
        "/opt/ombrix/ombrix.so", "Solve", "I", "Solve", "", " 2", "Ombrix", " ", " ", "Solve"};
    std::vector<XLOPER> a;
    std::vector<XLOPER*> args;
    for (const std::string& g : given)
        a.push_back(str(g));
    for (XLOPER& v : a)
        args.push_back(&v);
    XLOPER id = nil();
    ASSERT_EQ(call(xlfRegister, &id, args), xlretSuccess);
    ASSERT_EQ(id.xltype, xltypeNum);
    const Registration* r = host.find_registration("solve");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->id, id.val.num);
    EXPECT_EQ(r->arguments, given);

    // Registering again keeps the id and the single record.
    XLOPER again = nil();
    ASSERT_EQ(call(xlfRegister, &again, args), xlretSuccess);
    EXPECT_EQ(again.val.num, id.val.num);
    EXPECT_EQ(host.registrations().size(), 1u);

    XLOPER module = str("/opt/ombrix/ombrix.so"), proc = str("SOLVE"), found = nil();
    ASSERT_EQ(call(xlfRegisterId, &found, {&module, &proc}), xlretSuccess);
    EXPECT_EQ(found.val.num, id.val.num);

    XLOPER gone = nil();
    ASSERT_EQ(call(xlfUnregister, &gone, {&id}), xlretSuccess);
    EXPECT_EQ(gone.val.xbool, 1);
    EXPECT_TRUE(host.registrations().empty());
    ASSERT_EQ(call(xlfUnregister, &gone, {&id}), xlretSuccess);
    EXPECT_EQ(gone.val.xbool, 0);
}

TEST_F(ApiRegistrations, RegisterIdNeedsATypeTextAndTheResolverRefusesWhatTheModuleLacks) {
    XLOPER module = str("/opt/ombrix/ombrix.so"), proc = str("CheckInstance"), type = str("J"), id = nil();
    ASSERT_EQ(call(xlfRegisterId, &id, {&module, &proc}), xlretSuccess);
    EXPECT_EQ(id.xltype, xltypeErr);
    ASSERT_EQ(call(xlfRegisterId, &id, {&module, &proc, &type}), xlretSuccess);
    ASSERT_EQ(id.xltype, xltypeNum);
    EXPECT_EQ(host.find_registration("CheckInstance")->type_text(), "J");

    host.set_procedure_resolver([](const std::string&, const std::string& p) { return p == "About"; });
    XLOPER about = str("About"), other = str("Missing");
    ASSERT_EQ(call(xlfRegister, &id, {&module, &other, &type}), xlretSuccess);
    EXPECT_EQ(id.xltype, xltypeErr);
    ASSERT_EQ(call(xlfRegister, &id, {&module, &about, &type}), xlretSuccess);
    EXPECT_EQ(id.xltype, xltypeNum);
    EXPECT_EQ(host.registrations().size(), 2u);
}

class ApiMenus : public HostTest {
protected:
    const std::vector<Menu>& bar() { return *host.menu_bar(worksheet_menu_bar); }
    int position(const std::string& title) {
        for (std::size_t i = 0; i < bar().size(); ++i)
            if (bar()[i].title == title)
                return static_cast<int>(i);
        return -1;
    }
};

TEST_F(ApiMenus, AddedInFrontOfHelpAndFoundByGetBar) {
    XLOPER ten = integer(10), title = str("&Ombrix"), zero = integer(0), result = nil();
    ASSERT_EQ(call(xlfGetBar, &result, {&ten, &title, &zero}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeErr);

    std::vector<XLOPER> table = {str("&Ombrix"), str(""),      str(""), str(""), str(""),
                                 str("Solve"),   str("Solve"), str(""), str(""), str(""),
                                 str("About"),   str("About"), str(""), str(""), str("")};
    XLOPER ten_num = num(10), m = multi(table, 3, 5), help = str("Help");
    ASSERT_EQ(call(xlfAddMenu, &result, {&ten_num, &m, &help}), xlretSuccess);
    ASSERT_EQ(result.xltype, xltypeNum);
    EXPECT_EQ(position("&Ombrix") + 1, result.val.num);
    EXPECT_EQ(position("&Help"), position("&Ombrix") + 1);
    const Menu& added = bar()[static_cast<std::size_t>(position("&Ombrix"))];
    ASSERT_EQ(added.items.size(), 2u);
    EXPECT_EQ(added.items[0][0], "Solve");
    EXPECT_EQ(added.items[1][1], "About");

    // Found now, by its title with or without the access key.
    for (const char* name : {"&Ombrix", "ombrix"}) {
        XLOPER t = str(name), found = nil();
        ASSERT_EQ(call(xlfGetBar, &found, {&ten, &t, &zero}), xlretSuccess);
        EXPECT_EQ(text(found), "&Ombrix");
        free_value(found);
    }

    XLOPER gone = nil();
    ASSERT_EQ(call(xlfDeleteMenu, &gone, {&ten_num, &title}), xlretSuccess);
    EXPECT_EQ(position("&Ombrix"), -1);
    ASSERT_EQ(call(xlfDeleteMenu, &gone, {&ten_num, &title}), xlretSuccess);
    EXPECT_EQ(gone.xltype, xltypeErr);
}

TEST_F(ApiMenus, UnknownBarsAndPositionsAnswerErrors) {
    std::vector<XLOPER> table = {str("X")};
    XLOPER m = multi(table, 1, 1), bar99 = num(99), ten = num(10), nowhere = str("Nowhere"), result = nil();
    ASSERT_EQ(call(xlfAddMenu, &result, {&bar99, &m}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeErr);
    ASSERT_EQ(call(xlfAddMenu, &result, {&ten, &m, &nowhere}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeErr);
    EXPECT_EQ(position("X"), -1);
    // Without a position the menu goes last.
    ASSERT_EQ(call(xlfAddMenu, &result, {&ten, &m}), xlretSuccess);
    EXPECT_EQ(position("X"), static_cast<int>(bar().size()) - 1);
}

class ApiSession : public HostTest {};

TEST_F(ApiSession, AlertsAreRecordedAndForwarded) {
    std::vector<Alert> seen;
    host.set_alert_handler([&](const Alert& a) { seen.push_back(a); });
    XLOPER message = str("Expected variable vector"), three = integer(3), result = nil();
    ASSERT_EQ(call(xlcAlert, &result, {&message, &three}), xlretSuccess);
    XLOPER note = str("Ombrix 0.1"), bad_type = integer(4);
    ASSERT_EQ(call(xlcAlert, nullptr, {&note}), xlretSuccess);
    EXPECT_EQ(call(xlcAlert, nullptr, {&note, &bad_type}), xlretFailed);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Expected variable vector");
    EXPECT_EQ(seen[0].type, 3);
    EXPECT_EQ(seen[1].type, 2);
    EXPECT_EQ(host.alerts().size(), 2u);
}

// The add-in's own dialog against the front end (lists, results, Cancel): tests/excel/DialogTest.
TEST_F(ApiSession, DialogWithoutAFrontEndIsCancelledAndABrokenOneFails) {
    std::vector<XLOPER> table = {nil(), nil(), nil(), num(430), num(140), str("Ombrix"), nil()};
    XLOPER t = multi(table, 1, 7), answer = nil();
    host.set_dialog_handler(nullptr);
    ASSERT_EQ(call(xlfDialogBox, &answer, {&t}), xlretSuccess);
    EXPECT_EQ(answer.xltype, xltypeBool);
    EXPECT_EQ(answer.val.xbool, 0);
    EXPECT_EQ(host.dialogs_shown(), 1u);
    host.set_dialog_handler([](Table& d) {
        d.rows = 0;
        d.cells.clear();
        return true;
    });
    EXPECT_EQ(call(xlfDialogBox, &answer, {&t}), xlretFailed);
    host.set_dialog_handler([](Table&) -> bool { throw std::runtime_error("terminal closed"); });
    EXPECT_EQ(call(xlfDialogBox, &answer, {&t}), xlretFailed);
}

TEST_F(ApiSession, WorkspaceAndAutomationAnswers) {
    XLOPER two = num(2), version = nil();
    ASSERT_EQ(call(xlfGetWorkspace, &version, {&two}), xlretSuccess);
    EXPECT_EQ(text(version), "16.0");
    free_value(version);

    XLOPER no = boolean(false), yes = boolean(true), six = num(6), result = nil();
    ASSERT_EQ(call(xlcEcho, nullptr, {&no}), xlretSuccess);
    EXPECT_FALSE(host.echo());
    ASSERT_EQ(call(xlcEcho, nullptr, {&yes}), xlretSuccess);
    EXPECT_TRUE(host.echo());
    EXPECT_NE(call(xlcNew, &result, {&six}), xlretSuccess);
    ASSERT_EQ(call(xlcActivate, &result, {}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeBool);
    EXPECT_EQ(result.val.xbool, 1);
}

TEST_F(ApiSession, IsTextAndOrOverABlock) {
    book.set_value(at(0, "A1"), Value::number(1));
    book.set_value(at(0, "A2"), Value::text("t"));
    XLOPER block = sref(0, 1, 0, 0), flags = nil();
    ASSERT_EQ(call(xlfIstext, &flags, {&block}), xlretSuccess);
    ASSERT_EQ(flags.xltype, xltypeMulti);
    EXPECT_EQ(flags.val.array.lparray[0].val.xbool, 0);
    EXPECT_EQ(flags.val.array.lparray[1].val.xbool, 1);
    XLOPER any = nil();
    ASSERT_EQ(call(xlfOr, &any, {&flags}), xlretSuccess);
    EXPECT_EQ(any.val.xbool, 1);
    free_value(flags);

    XLOPER numbers = sref(0, 0, 0, 0);
    ASSERT_EQ(call(xlfIstext, &flags, {&numbers}), xlretSuccess);
    ASSERT_EQ(flags.xltype, xltypeBool);
    ASSERT_EQ(call(xlfOr, &any, {&flags}), xlretSuccess);
    EXPECT_EQ(any.val.xbool, 0);
    XLOPER word = str("maybe");
    ASSERT_EQ(call(xlfOr, &any, {&word}), xlretSuccess);
    EXPECT_EQ(any.xltype, xltypeErr);
}

} // namespace
} // namespace host::api::testing
