#include "usr/Exception.hpp"

#include <cstdlib>
#include <iostream>

namespace usr {

Exception::Exception(const std::string& message) { trail.emplace_back("Exception", message); }

Exception::Exception(const std::string& name, const std::exception& cause) { trail.emplace_back(name, cause.what()); }

Exception::Exception(const std::string& name, const std::string& message, const std::string& cause_name,
                     const std::exception& cause) {
    trail.emplace_back(cause_name, cause.what());
    trail.emplace_back(name, message);
}

Exception::Exception(const std::string& name, const std::string& message, const Exception& cause) : trail(cause.trail) {
    trail.emplace_back(name, message);
}

Exception::~Exception() noexcept = default;

const char* Exception::what() const noexcept { return trail.empty() ? "" : trail.back().second.c_str(); }

std::string Exception::format_trace() const {
    std::string out;
    for (auto it = trail.rbegin(); it != trail.rend(); ++it) {
        if (it != trail.rbegin())
            out += '\n';
        out += it->first;
        out += ":\t";
        out += it->second;
    }
    return out;
}

void Exception::append(std::string message) {
    std::string name = trail.empty() ? std::string("Exception") : trail.back().first;
    trail.emplace_back(std::move(name), std::move(message));
}

void Exception::wrap(const Exception& inner) { trail.insert(trail.begin(), inner.trail.begin(), inner.trail.end()); }

namespace {

[[noreturn]] void pause_and_exit() {
    std::cerr.flush();
#ifdef _WIN32
    // The console would close at once; give the user a chance to read the report.
    std::system("PAUSE");
#endif
    std::exit(1);
}

} // namespace

void a_ssert(bool condition, const char* message, const char* file, unsigned int line) {
    if (condition)
        return;
    std::cerr << file << "(" << line << ")\tASSERTION FAILED: " << message << "\n";
    pause_and_exit();
}

void fail(const char* message, const char* file, unsigned int line) {
    std::cerr << file << "(" << line << ")\tERROR: " << message << "\n";
    pause_and_exit();
}

} // namespace usr
