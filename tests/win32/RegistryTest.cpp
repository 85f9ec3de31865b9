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

TEST_F(RegistryStandIn, NamesIgnoreCaseAndMissingKeyAndValueHaveTheirOwnTexts)
{
    EXPECT_EQ(OMBRIX_PRODUCT_VERSION, win32::Registry::get_value("SOFTWARE\\quenmark\\OMBRIX", "version"));
    EXPECT_EQ("no key path", win32::Registry::get_value("Software\\Nobody", "Version"));
    EXPECT_EQ("no key", win32::Registry::get_value(key, "Edition"));
}

TEST_F(RegistryStandIn, ValuesReadAsTheAboutTextNeedsThem)
{
    const struct {
        std::string stored, read;
    } cases[] = {
        {"1.2", "1.2"}, {"", ""}, {"1.2\\", "1.2"}, {"1.2\\\\", "1.2\\"},   // one trailing backslash goes
        {"\\", ""}, {"C:\\x", "C:\\x"}, {std::string("1.2\0junk", 8), "1.2"},
        {std::string(255, 'v'), std::string(255, 'v')},   // the longest that fits the buffer
        {std::string(256, 'v'), "no key"}, {std::string(1000, 'v'), "no key"},
    };
    for (const auto& c : cases) {
        win32::Registry::stand_in_set(key, "Version", c.stored);
        EXPECT_EQ(c.read, win32::Registry::get_value(key, "Version")) << c.stored;
    }
}

TEST(RegistryValueText, BufferWithoutNulIsTakenWhole)
{
    const char bytes[4] = {'a', 'b', 'c', '\\'};
    EXPECT_EQ("abc", win32::Registry::value_text(bytes, sizeof bytes));
    EXPECT_EQ("ab", win32::Registry::value_text(bytes, 2));
    EXPECT_EQ("", win32::Registry::value_text(bytes, 0));
}

} // namespace
