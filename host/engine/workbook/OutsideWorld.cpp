#include "engine/OutsideWorld.hpp"

#include <algorithm>
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

} // namespace

bool needs_outside_world(std::string_view name) {
    return std::find(std::begin(outside), std::end(outside), name) != std::end(outside);
}

std::vector<std::string> outside_world_calls(const Workbook& book, const CellAddress& cell) {
    std::vector<std::string> out = book.unknown_functions(cell);
    out.erase(
        std::remove_if(out.begin(), out.end(), [](const std::string& name) { return !needs_outside_world(name); }),
        out.end());
    return out;
}

std::vector<std::string> addin_calls(const Workbook& book, const CellAddress& cell) {
    std::vector<std::string> out = book.unknown_functions(cell);
    out.erase(std::remove_if(out.begin(), out.end(), needs_outside_world), out.end());
    return out;
}

} // namespace host::engine
