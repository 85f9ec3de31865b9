#ifndef OMBRIX_USR_EXCEPTION_HPP
#define OMBRIX_USR_EXCEPTION_HPP

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace usr {

// An exception with a trail of (source name, message) entries, oldest (innermost cause)
// first. Each layer that catches and rethrows adds its own entry in front of the cause,
// so what() is the newest message and format_trace() tells the whole story.
class Exception : public std::exception {
public:
    typedef std::vector<std::pair<std::string, std::string>> Trail;

    explicit Exception(const std::string& message);
    Exception(const std::string& name, const std::exception& cause);
    Exception(const std::string& name, const std::string& message, const std::string& cause_name,
              const std::exception& cause);
    Exception(const std::string& name, const std::string& message, const Exception& cause);

    ~Exception() noexcept override;

    const char* what() const noexcept override;
    virtual std::string format_trace() const;
    virtual void append(std::string message);
    virtual void wrap(const Exception& inner);

    // An exception with an empty trail: the cause of an exception that has none.
    Exception() = default;

    Trail trail;
};

// Writes "file(line)\tASSERTION FAILED: message" to std::cerr, runs "PAUSE" where the
// platform has it and ends the process with exit code 1, when condition is false.
void a_ssert(bool condition, const char* message, const char* file, unsigned int line);

// Always writes "file(line)\tERROR: message", runs "PAUSE" where available and exits with 1.
[[noreturn]] void fail(const char* message, const char* file, unsigned int line);

} // namespace usr

#endif
