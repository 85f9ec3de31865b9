#include "win32/Registry.hpp"
#include "win32/ProductVersion.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const key = "Software\\Quenmark\\Ombrix";

class RegistryStandIn : public ::testing::Test {
protected:
    void TearDown() override { win32::Registry::stand_in_reset(); }
};

TEST_F(RegistryStandIn, AnswersTheBuildsVersion)
{
    EXPECT_EQ(OMBRIX_PRODUCT_VERSION, win32::Registry::get_value(key, "Version"));
    EXPECT_FALSE(std::string(OMBRIX_PRODUCT_VERSION).empty());
}

TEST_F(RegistryStandIn, KeyAndValueNamesIgnoreCase)
{
    EXPECT_EQ(OMBRIX_PRODUCT_VERSION,
              win32::Registry::get_value("SOFTWARE\\quenmark\\OMBRIX", "version"));
}

TEST_F(RegistryStandIn, MissingKeyAndMissingValueHaveTheirOwnTexts)
{
    EXPECT_EQ("no key path", win32::Registry::get_value("Software\\Nobody", "Version"));
    EXPECT_EQ("no key", win32::Registry::get_value(key, "Edition"));
    win32::Registry::stand_in_erase_value(key, "Version");
    EXPECT_EQ("no key", win32::Registry::get_value(key, "Version"));
    win32::Registry::stand_in_erase_key(key);
    EXPECT_EQ("no key path", win32::Registry::get_value(key, "Version"));
}

TEST_F(RegistryStandIn, ResetRestoresTheVersion)
{
    win32::Registry::stand_in_set(key, "Version", "9.9");
    EXPECT_EQ("9.9", win32::Registry::get_value(key, "Version"));
    win32::Registry::stand_in_reset();
    EXPECT_EQ(OMBRIX_PRODUCT_VERSION, win32::Registry::get_value(key, "Version"));
}

struct ValueCase {
    const char* name;
    std::string stored;
    std::string read;
};

class RegistryValues : public ::testing::TestWithParam<ValueCase> {
protected:
    void TearDown() override { win32::Registry::stand_in_reset(); }
};

TEST_P(RegistryValues, ReadsAsTheAboutTextNeedsIt)
{
    win32::Registry::stand_in_set(key, "Version", GetParam().stored);
    EXPECT_EQ(GetParam().read, win32::Registry::get_value(key, "Version"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryValues,
    ::testing::Values(
        ValueCase{"Plain", "1.2", "1.2"},
        ValueCase{"Empty", "", ""},
        ValueCase{"TrailingBackslash", "1.2\\", "1.2"},
        ValueCase{"OnlyOneBackslashGoes", "1.2\\\\", "1.2\\"},
        ValueCase{"LoneBackslash", "\\", ""},
        ValueCase{"InnerBackslashStays", "C:\\x", "C:\\x"},
        ValueCase{"StopsAtFirstNul", std::string("1.2\0junk", 8), "1.2"},
        ValueCase{"LongestThatFits", std::string(255, 'v'), std::string(255, 'v')},
        ValueCase{"TooLongForTheBuffer", std::string(256, 'v'), "no key"},
        ValueCase{"FarTooLong", std::string(1000, 'v'), "no key"}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

TEST(RegistryValueText, BufferWithoutNulIsTakenWhole)
{
    const char bytes[4] = {'a', 'b', 'c', '\\'};
    EXPECT_EQ("abc", win32::Registry::value_text(bytes, sizeof bytes));
    EXPECT_EQ("ab", win32::Registry::value_text(bytes, 2));
    EXPECT_EQ("", win32::Registry::value_text(bytes, 0));
}

} // namespace
