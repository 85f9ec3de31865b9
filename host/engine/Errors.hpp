#ifndef OMBRIX_HOST_ENGINE_ERRORS_HPP
#define OMBRIX_HOST_ENGINE_ERRORS_HPP

#include <cstddef>
#include <stdexcept>
#include <string>

namespace host {

// The base of every failure the host reports to its caller: the message is whole English
// text for the user. A plain std::runtime_error, so that the host depends on nothing but
// the standard library (and builds alone, for Windows and for the fuzzers).
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
    ~Error() noexcept override;
};

namespace engine {

// Every failure of the engine reported to a caller: bad sheet names, cells off the grid.
class EngineError : public Error {
public:
    explicit EngineError(const std::string& message) : Error(message) {}
    ~EngineError() noexcept override;
};

// A formula that does not parse. position() is the 0-based byte offset in the text as given
// (leading '=' included when it was given); what() reads like
// "Cannot read the formula \"1+*2\": unexpected '*' at character 3".
class FormulaError : public EngineError {
public:
    FormulaError(const std::string& formula, std::size_t position, const std::string& reason);
    ~FormulaError() noexcept override;
    std::size_t position() const { return position_; }
    const std::string& reason() const { return reason_; }
    const std::string& formula() const { return formula_; }

private:
    std::string formula_;
    std::size_t position_;
    std::string reason_;
};

} // namespace engine
} // namespace host

#endif
