#include "engine/Errors.hpp"

namespace host {

Error::~Error() noexcept = default;

namespace engine {

EngineError::~EngineError() noexcept = default;

FormulaError::FormulaError(const std::string& formula, std::size_t position, const std::string& reason)
    : EngineError("Cannot read the formula \"" + formula + "\": " + reason + " at character " +
                  std::to_string(position + 1)),
      formula_(formula), position_(position), reason_(reason) {}

FormulaError::~FormulaError() noexcept = default;

} // namespace engine
} // namespace host
