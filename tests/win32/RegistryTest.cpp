#include "win32/Registry.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

// The value as the registry hands it over: up to the first NUL, one trailing backslash
// dropped (install paths are often written with one).
TEST(RegistryValueText, ValuesReadAsTheAboutTextNeedsThem) {
    const struct {
        std::string stored, read;
    } cases[] = {
        {"1.2", "1.2"},
        {"", ""},
        {"1.2\\", "1.2"},
        {"1.2\\\\", "1.2\\"},
        {"\\", ""},
        {"C:\\x", "C:\\x"},
        {std::string("1.2\0junk", 8), "1.2"},
        {std::string(255, 'v'), std::string(255, 'v')},
    };
    for (const auto& c : cases) {
        const std::string bytes = c.stored + '\0';
        EXPECT_EQ(c.read, win32::Registry::value_text(bytes.data(), bytes.size())) << c.stored;
    }
}

TEST(RegistryValueText, BufferWithoutNulIsTakenWhole) {
    const char bytes[4] = {'a', 'b', 'c', '\\'};
    EXPECT_EQ("abc", win32::Registry::value_text(bytes, sizeof bytes));
    EXPECT_EQ("ab", win32::Registry::value_text(bytes, 2));
    EXPECT_EQ("", win32::Registry::value_text(bytes, 0));
}

} // namespace
