// Cells read and written through the raw callback entries, with recalculation in between,
// and the memory accounting of what the host hands out.

#include "Calls.hpp"

namespace host::api::testing {
namespace {

using engine::Value;

class ApiCoerce : public HostTest {};

TEST_F(ApiCoerce, ScalarConversionsFollowTheSpreadsheet) {
    struct Case {
        Value cell;
        std::uint16_t target;
        std::uint16_t type; // of the answer; 0: the conversion fails
        double number;      // for numbers, booleans (0/1) and integers
        std::string text;   // for texts
    };
    const Case cases[] = {
        {Value::text("2.5"), xltypeNum, xltypeNum, 2.5, ""},
        {Value::text(" 50%"), xltypeNum, xltypeNum, 0.5, ""},
        {Value::boolean(true), xltypeNum, xltypeNum, 1, ""},
        {Value(), xltypeNum, xltypeNum, 0, ""},
        {Value::number(1), xltypeStr, xltypeStr, 0, "1"},
        {Value::number(0.1), xltypeStr, xltypeStr, 0, "0.1"},
        {Value::number(-2.5), xltypeStr, xltypeStr, 0, "-2.5"},
        {Value::number(1.0 / 3), xltypeStr, xltypeStr, 0, "0.333333333333333"},
        {Value::number(1e20), xltypeStr, xltypeStr, 0, "1E+20"},
        {Value::number(123456789012345.0), xltypeStr, xltypeStr, 0, "123456789012345"},
        {Value::boolean(false), xltypeStr, xltypeStr, 0, "FALSE"},
        {Value(), xltypeStr, xltypeStr, 0, ""},
        {Value::text("true"), xltypeBool, xltypeBool, 1, ""},
        {Value::number(0), xltypeBool, xltypeBool, 0, ""},
        {Value::number(2.5), xltypeInt, xltypeInt, 3, ""},
        {Value::number(-2.5), xltypeInt, xltypeInt, -3, ""},
        {Value::text("12"), xltypeInt, xltypeInt, 12, ""},
        // An error coerces "successfully" to itself; the caller looks at the type.
        {Value::error(engine::ErrorCode::Div0), xltypeNum, xltypeErr, 7, ""},
        {Value::text("abc"), xltypeNum, 0, 0, ""},
        {Value::text("1,2"), xltypeNum, 0, 0, ""},
        {Value::text("maybe"), xltypeBool, 0, 0, ""},
        {Value::number(40000), xltypeInt, 0, 0, ""},
        {Value::number(1), xltypeNil, 0, 0, ""},
        // A text too long for a counted string is refused, not cut.
        {Value::text(std::string(255, 'x')), xltypeStr, xltypeStr, 0, std::string(255, 'x')},
        {Value::text(std::string(256, 'x')), xltypeStr, 0, 0, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.cell.to_string() + " to type " + std::to_string(k.target));
        book.set_value(at(0, "A1"), k.cell);
        XLOPER c = cell(0, 0), target = integer(static_cast<short>(k.target)), result = nil();
        ASSERT_EQ(call(xlCoerce, &result, {&c, &target}), k.type == 0 ? xlretFailed : xlretSuccess);
        if (k.type == 0)
            continue;
        ASSERT_EQ(result.xltype, k.type);
        switch (k.type) {
        case xltypeNum: EXPECT_EQ(result.val.num, k.number); break;
        case xltypeBool: EXPECT_EQ(result.val.xbool, k.number); break;
        case xltypeInt: EXPECT_EQ(result.val.w, k.number); break;
        case xltypeErr: EXPECT_EQ(result.val.err, k.number); break;
        case xltypeStr: EXPECT_EQ(text(result), k.text); break;
        }
        free_value(result);
    }
}

TEST_F(ApiCoerce, TextBackAndForth) {
    XLOPER s = str("42.5"), to_num = integer(xltypeNum), n = nil();
    ASSERT_EQ(call(xlCoerce, &n, {&s, &to_num}), xlretSuccess);
    ASSERT_EQ(n.xltype, xltypeNum);
    EXPECT_EQ(n.val.num, 42.5);
    XLOPER to_str = integer(xltypeStr), t = nil();
    ASSERT_EQ(call(xlCoerce, &t, {&n, &to_str}), xlretSuccess);
    EXPECT_EQ(text(t), "42.5");
    // A text stays a text, in fresh memory that must be given back.
    XLOPER copy = nil();
    ASSERT_EQ(call(xlCoerce, &copy, {&t, &to_str}), xlretSuccess);
    EXPECT_NE(copy.val.str, t.val.str);
    EXPECT_EQ(text(copy), "42.5");
    EXPECT_EQ(host.allocations().outstanding(), 2u);
    EXPECT_EQ(call(xlFree, nullptr, {&t, &copy}), xlretSuccess);
}

// With or without the target type a block becomes an array; one cell without it, its value.
TEST_F(ApiCoerce, BlockToArrayRowByRow) {
    book.set_value(at(0, "A1"), Value::number(1));
    book.set_value(at(0, "B1"), Value::text("two"));
    book.set_value(at(0, "A2"), Value::boolean(true));
    // B2 stays empty
    XLOPER r = sref(0, 1, 0, 1), target = integer(xltypeMulti);
    for (const std::vector<XLOPER*>& args : {std::vector<XLOPER*>{&r, &target}, std::vector<XLOPER*>{&r}}) {
        XLOPER result = nil();
        ASSERT_EQ(call(xlCoerce, &result, args), xlretSuccess);
        ASSERT_EQ(result.xltype, xltypeMulti);
        ASSERT_EQ(result.val.array.rows, 2);
        ASSERT_EQ(result.val.array.columns, 2);
        const XLOPER* e = result.val.array.lparray;
        EXPECT_EQ(e[0].xltype, xltypeNum);
        EXPECT_EQ(e[0].val.num, 1);
        EXPECT_EQ(text(e[1]), "two");
        EXPECT_EQ(e[2].xltype, xltypeBool);
        EXPECT_EQ(e[3].xltype, xltypeNil);
        // The array and the string inside it: both go with one xlFree.
        EXPECT_EQ(host.allocations().outstanding(), 2u);
        EXPECT_EQ(free_value(result), xlretSuccess);
    }
    XLOPER one = cell(0, 0), v = nil();
    ASSERT_EQ(call(xlCoerce, &v, {&one}), xlretSuccess);
    EXPECT_EQ(v.xltype, xltypeNum);
}

TEST_F(ApiCoerce, ArrayToScalarTakesTheTopLeft) {
    std::vector<XLOPER> e = {str("7"), num(8)};
    XLOPER m = multi(e, 1, 2), target = integer(xltypeNum), result = nil();
    ASSERT_EQ(call(xlCoerce, &result, {&m, &target}), xlretSuccess);
    EXPECT_EQ(result.val.num, 7);
}

TEST_F(ApiCoerce, ReferenceFormsConvert) {
    XLOPER s = sref(1, 2, 3, 4), to_ref = integer(xltypeRef), r = nil();
    ASSERT_EQ(call(xlCoerce, &r, {&s, &to_ref}), xlretSuccess);
    ASSERT_EQ(r.xltype, xltypeRef);
    EXPECT_EQ(r.val.mref.idSheet, host.sheet_id(0));
    EXPECT_EQ(r.val.mref.lpmref->reftbl[0].colLast, 4);
    XLOPER to_sref = integer(xltypeSRef), back = nil();
    ASSERT_EQ(call(xlCoerce, &back, {&r, &to_sref}), xlretSuccess);
    EXPECT_EQ(back.xltype, xltypeSRef);
    EXPECT_EQ(back.val.sref.ref.rwLast, 2);
    EXPECT_EQ(free_value(r), xlretSuccess);
    // A reference to another sheet has no short form.
    XLOPER other = ref(host.sheet_id(1), 0, 0, 0, 0), none = nil();
    EXPECT_EQ(call(xlCoerce, &none, {&other, &to_sref}), xlretFailed);
}

class ApiSet : public HostTest {
protected:
    ApiSet() {
        // B1 = 3 * A1, C1 = B1 + Data!A1 (another sheet), a chain of dependents.
        book.set_value(at(0, "A1"), Value::number(1));
        book.set_value(at(1, "A1"), Value::number(100));
        book.set_formula(at(0, "B1"), "=3*A1");
        book.set_formula(at(0, "C1"), "=B1+Data!A1");
        book.recalculate();
    }

    double read(int sheet, const char* a1) {
        const engine::CellAddress c = at(sheet, a1);
        XLOPER r = ref(host.sheet_id(sheet), c.row, c.row, c.col, c.col), target = integer(xltypeNum), result = nil();
        EXPECT_EQ(call(xlCoerce, &result, {&r, &target}), xlretSuccess);
        EXPECT_EQ(result.xltype, xltypeNum);
        return result.val.num;
    }
};

TEST_F(ApiSet, WriteRecalculatesDependentsBeforeTheNextRead) {
    EXPECT_EQ(read(0, "C1"), 103);
    XLOPER a1 = cell(0, 0), v = num(5);
    ASSERT_EQ(call(xlSet, nullptr, {&a1, &v}), xlretSuccess);
    EXPECT_EQ(read(0, "B1"), 15);
    EXPECT_EQ(read(0, "C1"), 115);
    // A write on another sheet, through its id, reaches the dependents on this one.
    XLOPER data = ref(host.sheet_id(1), 0, 0, 0, 0), w = num(-15);
    ASSERT_EQ(call(xlSet, nullptr, {&data, &w}), xlretSuccess);
    EXPECT_EQ(read(0, "C1"), 0);
}

TEST_F(ApiSet, ManualWorkbookIsStillRecalculatedAfterAWrite) {
    book.set_automatic(false);
    XLOPER a1 = cell(0, 0), v = num(2);
    ASSERT_EQ(call(xlSet, nullptr, {&a1, &v}), xlretSuccess);
    EXPECT_EQ(read(0, "B1"), 6);
}

TEST_F(ApiSet, BlocksTakeAnArrayOfTheirShapeOrOneValueOrNone) {
    std::vector<XLOPER> e = {num(1), num(2), str("x"), boolean(true), nil(), err(42)};
    XLOPER m = multi(e, 2, 3), r = sref(4, 5, 0, 2);
    ASSERT_EQ(call(xlSet, nullptr, {&r, &m}), xlretSuccess);
    EXPECT_EQ(book.value(at(0, "A5")), Value::number(1));
    EXPECT_EQ(book.value(at(0, "B5")), Value::number(2));
    EXPECT_EQ(book.value(at(0, "C5")), Value::text("x"));
    EXPECT_EQ(book.value(at(0, "A6")), Value::boolean(true));
    EXPECT_TRUE(book.value(at(0, "B6")).is_empty());
    EXPECT_EQ(book.value(at(0, "C6")), Value::error(engine::ErrorCode::NA));

    // An array of another shape writes nothing.
    XLOPER column = sref(0, 2, 0, 0), row = multi(e, 1, 3), transposed = multi(e, 3, 1), across = sref(0, 0, 0, 1);
    EXPECT_EQ(call(xlSet, nullptr, {&column, &row}), xlretFailed);
    EXPECT_EQ(call(xlSet, nullptr, {&across, &transposed}), xlretFailed);
    EXPECT_EQ(book.value(at(0, "A1")), Value::number(1));
    EXPECT_TRUE(book.value(at(0, "A2")).is_empty());

    XLOPER block = sref(9, 10, 1, 2), v = num(4);
    ASSERT_EQ(call(xlSet, nullptr, {&block, &v}), xlretSuccess);
    EXPECT_EQ(book.value(at(0, "C11")), Value::number(4));
    ASSERT_EQ(call(xlSet, nullptr, {&block}), xlretSuccess);
    EXPECT_TRUE(book.value(at(0, "B10")).is_empty());
}

class ApiSheets : public HostTest {};

TEST_F(ApiSheets, IdOfTheActiveSheetAndOfANamedOne) {
    XLOPER id = nil();
    ASSERT_EQ(call(xlSheetId, &id, {}), xlretSuccess);
    ASSERT_EQ(id.xltype, xltypeRef);
    EXPECT_EQ(id.val.mref.idSheet, host.sheet_id(0));
    EXPECT_EQ(id.val.mref.lpmref, nullptr);
    EXPECT_EQ(free_value(id), xlretSuccess);

    for (const char* name : {"Data", "data", "[Book1]Data"}) {
        SCOPED_TRACE(name);
        XLOPER n = str(name), other = nil();
        ASSERT_EQ(call(xlSheetId, &other, {&n}), xlretSuccess);
        EXPECT_EQ(other.val.mref.idSheet, host.sheet_id(1));
    }
    for (const char* name : {"Nope", "[Book2]Data", "[Book1", ""}) {
        SCOPED_TRACE(name);
        XLOPER n = str(name), other = nil();
        EXPECT_EQ(call(xlSheetId, &other, {&n}), xlretFailed);
    }
}

TEST_F(ApiSheets, ActiveSheetFollowsTheWorkbook) {
    book.set_active_sheet(1);
    book.set_value(at(1, "A1"), Value::number(3));
    XLOPER c = cell(0, 0), target = integer(xltypeNum), result = nil();
    ASSERT_EQ(call(xlCoerce, &result, {&c, &target}), xlretSuccess);
    EXPECT_EQ(result.val.num, 3);
}

TEST_F(ApiSheets, NameOfAReferenceCarriesTheBook) {
    XLOPER s = cell(0, 0), name = nil();
    ASSERT_EQ(call(xlSheetNm, &name, {&s}), xlretSuccess);
    EXPECT_EQ(text(name), "[Book1]Sheet1");
    free_value(name);
    host.set_book_name("model.xlsx");
    XLOPER r = ref(host.sheet_id(1), 3, 3, 3, 3), other = nil();
    ASSERT_EQ(call(xlSheetNm, &other, {&r}), xlretSuccess);
    EXPECT_EQ(text(other), "[model.xlsx]Data");
    free_value(other);
}

TEST_F(ApiSheets, ModulePathAndCaller) {
    XLOPER path = nil();
    ASSERT_EQ(call(xlGetName, &path, {}), xlretSuccess);
    EXPECT_EQ(text(path), "/opt/ombrix/ombrix.so");
    free_value(path);

    host.set_caller(std::make_pair(std::uint16_t(9), std::uint8_t(27)));
    XLOPER caller = nil();
    ASSERT_EQ(call(xlfCaller, &caller, {}), xlretSuccess);
    ASSERT_EQ(caller.xltype, xltypeSRef);
    EXPECT_EQ(caller.val.sref.ref.rwFirst, 9);
    EXPECT_EQ(caller.val.sref.ref.colFirst, 27);
    host.set_caller(std::nullopt);
    ASSERT_EQ(call(xlfCaller, &caller, {}), xlretSuccess);
    EXPECT_EQ(caller.xltype, xltypeErr);
}

class ApiMemory : public HostTest {};

TEST_F(ApiMemory, EverythingHandedOutComesBackWithXlFree) {
    book.set_value(at(0, "A1"), Value::text("a"));
    book.set_value(at(0, "A2"), Value::text("b"));
    XLOPER block = sref(0, 1, 0, 0), to_multi = integer(xltypeMulti), to_ref = integer(xltypeRef);
    XLOPER a = nil(), r = nil(), name = nil(), path = nil();
    ASSERT_EQ(call(xlCoerce, &a, {&block, &to_multi}), xlretSuccess);
    ASSERT_EQ(call(xlCoerce, &r, {&block, &to_ref}), xlretSuccess);
    ASSERT_EQ(call(xlSheetNm, &name, {&block}), xlretSuccess);
    ASSERT_EQ(call(xlGetName, &path, {}), xlretSuccess);
    // array + 2 strings, reference list, 2 strings
    EXPECT_EQ(host.allocations().outstanding(), 6u);
    EXPECT_EQ(call(xlFree, nullptr, {&a, &r, &name, &path}), xlretSuccess);
    EXPECT_EQ(host.allocations().total_released(), host.allocations().total_allocated());
}

TEST_F(ApiMemory, SecondFreeAndForeignMemoryAreRefusedSafely) {
    XLOPER path = nil();
    ASSERT_EQ(call(xlGetName, &path, {}), xlretSuccess);
    XLOPER copy = path;
    EXPECT_EQ(free_value(path), xlretSuccess);
    EXPECT_EQ(free_value(copy), xlretFailed);

    XLOPER mine = str("not the host's");
    EXPECT_EQ(free_value(mine), xlretFailed);
    EXPECT_EQ(texts.back().size(), 15u); // untouched
    std::vector<XLOPER> e = {num(1)};
    XLOPER m = multi(e, 1, 1);
    EXPECT_EQ(free_value(m), xlretFailed);
    // Values that hold no memory free trivially.
    XLOPER n = num(1), s = cell(0, 0);
    EXPECT_EQ(call(xlFree, nullptr, {&n, &s}), xlretSuccess);
}

TEST_F(ApiMemory, AFailedCallLeavesNothingBehind) {
    // The third cell cannot be coerced to a string: the partly built array is dropped.
    book.set_value(at(0, "A1"), Value::text("a"));
    book.set_value(at(0, "A2"), Value::text(std::string(300, 'y')));
    XLOPER block = sref(0, 1, 0, 0), to_multi = integer(xltypeMulti), a = nil();
    EXPECT_EQ(call(xlCoerce, &a, {&block, &to_multi}), xlretFailed);
    EXPECT_EQ(host.allocations().outstanding(), 0u);
    // And a result nobody asked for is not kept either.
    EXPECT_EQ(call(xlGetName, nullptr, {}), xlretSuccess);
    EXPECT_EQ(host.allocations().outstanding(), 0u);
}

} // namespace
} // namespace host::api::testing
