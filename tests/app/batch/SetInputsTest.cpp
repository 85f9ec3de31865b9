// `ombrix solve --set CELL=VALUE`, the inputs a batch row writes before its run: cases in
// set_inputs.tsv, and the one rule that matters most: only the cells named (and the
// variables) change.
#include "io/Document.hpp"

#include "app/ProgramRun.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {

namespace fs = std::filesystem;
using host::engine::Value;

class SetInputs : public program_run::ProgramTest {};

std::string shown(const Value& v) {
    return v.is_boolean() ? (v.as_boolean() ? "TRUE" : "FALSE") : v.is_empty() ? "" : v.to_string();
}

// Every constant cell of a workbook, by its place.
std::map<std::string, std::string> constants(const std::string& path) {
    host::io::Document d = host::io::load(path);
    std::map<std::string, std::string> out;
    for (int s = 0; s < d.workbook.sheet_count(); ++s)
        d.workbook.for_each_cell(s, [&](std::int32_t r, std::int32_t c, const Value& v) {
            if (!d.workbook.is_formula({s, r, c}))
                out[host::io::cell_key(d.workbook, {s, r, c})] = shown(v);
        });
    return out;
}

TEST_F(SetInputs, WritesOnlyTheCellsNamed) {
    std::ifstream in(std::string(OMBRIX_SOURCE_DIR) + "/tests/app/batch/set_inputs.tsv");
    ASSERT_TRUE(in);
    const std::string model = (fs::path(OMBRIX_SOURCE_DIR) / "examples" / "production.xlsx").string();
    const std::map<std::string, std::string> before = constants(model);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        SCOPED_TRACE(line);
        const std::size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
        const std::string flags = line.substr(0, tab), expected = line.substr(tab2 + 1);
        const int status = std::stoi(line.substr(tab + 1, tab2 - tab - 1));
        const fs::path out = dir / "out.xlsx";
        fs::remove(out);
        program_run::Result r =
            ombrix("solve " + model + " --var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --goal maximise " +
                   "--population 8 --generations 4 --trials 1 --quiet -o " + out.string() + " " + flags);
        EXPECT_EQ(r.status, status) << r.err;
        if (status != 0) {
            EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        std::map<std::string, std::string> after = constants(out.string()), wanted = before;
        std::istringstream cells(expected);
        for (std::string item; cells >> item;)
            wanted[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
        for (const char* variable : {"Plan!B3", "Plan!C3", "Plan!D3"})
            wanted[variable] = after[variable];
        for (auto it = wanted.begin(); it != wanted.end();)
            it = it->second.empty() ? wanted.erase(it) : std::next(it);
        EXPECT_EQ(after, wanted);
        // The run saw the inputs: its variables keep within the bounds as set.
        EXPECT_LE(std::stod(after["Plan!D3"]), std::stod(after["Plan!D5"]));
    }
}

} // namespace
