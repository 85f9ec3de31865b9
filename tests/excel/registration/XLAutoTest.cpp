#include "excel/framewrk/xlauto.hpp"
#include "excel/framewrk/xlcoerce.hpp"

#include "FakeExcel.hpp"
#include "excel/framewrk/Framework.hpp"

#include <gtest/gtest.h>

namespace {

class Framework : public ::testing::Test {
protected:
    void SetUp() override { fake::Excel::instance().reset(); }
    void TearDown() override {
        QuitFramework();
        EXPECT_EQ(excel_().outstanding(), 0u);
    }
    static fake::Excel& excel_() { return fake::Excel::instance(); }
};

TEST_F(Framework, SetUpEmptiesThePoolAndKeepsTheAddinLoadedThroughCheckInstance) {
    TempNum(1.0);
    TempNum(2.0);
    ASSERT_GT(TempMemoryOffset(), 0);
    EXPECT_EQ(InitFramework(), 0);
    EXPECT_EQ(TempMemoryOffset(), 0);

    // Not registered yet: the id lookup fails and the procedure is registered with "J".
    auto lookups = excel_().calls_of(xlfRegisterId);
    ASSERT_FALSE(lookups.empty());
    EXPECT_TRUE(lookups.back()->args[1].is_str("CheckInstance"));
    auto registrations = excel_().calls_of(xlfRegister);
    ASSERT_EQ(registrations.size(), 1u);
    ASSERT_EQ(registrations[0]->args.size(), 3u);
    EXPECT_TRUE(registrations[0]->args[0].is_str("/addins/ombrix.so"));
    EXPECT_TRUE(registrations[0]->args[1].is_str("CheckInstance"));
    EXPECT_TRUE(registrations[0]->args[2].is_str("J"));
    EXPECT_EQ(excel_().registered.count("CheckInstance"), 1u);

    auto workspace = excel_().calls_of(xlfGetWorkspace);
    ASSERT_EQ(workspace.size(), 1u);
    EXPECT_EQ(workspace[0]->args[0].num, 2.0);
    EXPECT_EQ(xlauto::version_text(), "16.0");
    // Any version but 8.0 stops before the automation search.
    EXPECT_TRUE(excel_().calls_of(xlcEcho).empty());
    EXPECT_TRUE(excel_().calls_of(xlcNew).empty());
}

TEST_F(Framework, AnExistingRegistrationIsKept) {
    InitFramework();
    excel_().calls.clear();
    // The set-up first takes its own registration down, so register behind its back.
    excel_().overrides[xlfUnregister] = [](int, XLOPER*, const std::vector<XLOPER*>&) { return 0; };
    InitFramework();
    EXPECT_TRUE(excel_().calls_of(xlfRegister).empty());
    excel_().overrides.clear();
}

TEST_F(Framework, FailingRegistrationOrNameEndsTheSetUpWithAFailure) {
    excel_().overrides[xlfRegister] = [](int, XLOPER* result, const std::vector<XLOPER*>&) {
        result->xltype = xltypeErr;
        result->val.err = 15;
        return 0;
    };
    EXPECT_EQ(InitXLCoerce(), xlauto_fail);
    EXPECT_TRUE(excel_().calls_of(xlfGetWorkspace).empty());

    excel_().reset();
    excel_().overrides[xlGetName] = [](int, XLOPER*, const std::vector<XLOPER*>&) { return xlretFailed; };
    EXPECT_EQ(InitXLCoerce(), xlauto_fail);
    EXPECT_TRUE(excel_().calls_of(xlfRegisterId).empty());
    excel_().overrides.clear();
}

TEST_F(Framework, VersionEightWithoutAutomationIsAFailureNotACrash) {
    excel_().version = "8.0";
    EXPECT_NE(InitXLCoerce(), xlauto_ok);
    EXPECT_EQ(xlauto::version_text(), "8.0");
    EXPECT_FALSE(xlauto::automation_ready());
    excel_().version = "16.0";
    InitXLCoerce();
}

TEST_F(Framework, TearDownUnregistersCheckInstance) {
    InitFramework();
    ASSERT_EQ(excel_().registered.count("CheckInstance"), 1u);
    const double id = excel_().registered["CheckInstance"];
    excel_().calls.clear();
    EXPECT_EQ(QuitFramework(), 0);
    auto unregs = excel_().calls_of(xlfUnregister);
    ASSERT_EQ(unregs.size(), 1u);
    EXPECT_EQ(unregs[0]->args[0].num, id);
    EXPECT_EQ(excel_().registered.count("CheckInstance"), 0u);
}

TEST_F(Framework, CheckInstanceAnswersOneAndMarksNothingOutsideAProbe) {
    EXPECT_EQ(check_instance_probe(), 1);
    EXPECT_FALSE(xlauto::correct_instance());
}

TEST_F(Framework, CoercionRefusesBadCountsAndTargets) {
    XLOPER result, source, target;
    source.xltype = xltypeNum;
    source.val.num = 3.0;
    target.xltype = xltypeNum;
    target.val.num = xltypeInt;
    LPXLOPER args[3] = {&source, &target, &target};
    EXPECT_EQ(XLCoercev(&result, 0, args), xlretInvCount);
    EXPECT_EQ(XLCoercev(&result, 3, args), xlretInvCount);
    EXPECT_EQ(XLCoercev(&result, 2, args), xlretInvCount) << "a target that is no xltypeInt";
    EXPECT_TRUE(excel_().calls_of(xlCoerce).empty());
}

TEST_F(Framework, CoercionOfAnythingButVersionEightReferencesIsPlainCoercion) {
    XLOPER result, source;
    source.xltype = xltypeStr;
    char text[] = "\x02" "42";
    source.val.str = text;
    result.xltype = xltypeNil;
    ASSERT_EQ(XLCoerce(&result, &source, TempInt(xltypeInt)), 0);
    ASSERT_EQ(result.xltype, xltypeInt);
    EXPECT_EQ(result.val.w, 42);
    auto coercions = excel_().calls_of(xlCoerce);
    ASSERT_EQ(coercions.size(), 1u);
    EXPECT_EQ(coercions[0]->args.size(), 2u);
    EXPECT_EQ(coercions[0]->args[1].word, xltypeInt);

    XLOPER one;
    one.xltype = xltypeNil;
    EXPECT_EQ(XLCoerce(&one, &source), xlretFailed); // the fake cannot coerce to "missing"
    EXPECT_EQ(excel_().calls_of(xlCoerce).back()->args.size(), 1u);
}

} // namespace
