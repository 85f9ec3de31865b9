#ifndef OMBRIX_TESTS_MESSAGE_HPP
#define OMBRIX_TESTS_MESSAGE_HPP

#include <exception>
#include <string>

// The message of the exception that f throws, or "<no exception>".
template <class F>
std::string message_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

// The statement throws an exception with exactly this message.
#define EXPECT_MESSAGE(statement, text) EXPECT_EQ(message_of([&] { statement; }), std::string(text))

#endif
