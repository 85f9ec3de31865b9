#include "engine/OutsideWorld.hpp"

#include "engine/internal/Program.hpp"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace host::engine {

namespace {

constexpr std::string_view outside[] = {
    "CALL",
    "COPILOT",
    "CUBEKPIMEMBER",
    "CUBEMEMBER",
    "CUBEMEMBERPROPERTY",
    "CUBERANKEDMEMBER",
    "CUBESET",
    "CUBESETCOUNT",
    "CUBEVALUE",
    "DETECTLANGUAGE",
    "FIELDVALUE",
    "GETPIVOTDATA",
    "IMAGE",
    "PY",
    "REGISTER.ID",
    "RTD",
    "STOCKHISTORY",
    "TRANSLATE",
    "WEBSERVICE",
};

// Whether the text names one of them at all: most formulas are spared parsing again.
bool mentions_one(std::string_view text) {
    std::string upper(text);
    for (char& ch : upper)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return std::any_of(std::begin(outside), std::end(outside),
                       [&](std::string_view name) { return upper.find(name) != std::string::npos; });
}

} // namespace

bool needs_outside_world(std::string_view name) {
    return std::find(std::begin(outside), std::end(outside), name) != std::end(outside);
}

std::vector<std::string> outside_world_calls(const Workbook& book, const CellAddress& cell) {
    std::vector<std::string> out;
    const std::string text = book.formula_text(cell);
    if (text.empty() || !mentions_one(text))
        return out;
    for (const std::string& name : detail::parse(text, book.is_array_formula(cell)).unknown_functions)
        if (needs_outside_world(name))
            out.push_back(name);
    return out;
}

} // namespace host::engine
