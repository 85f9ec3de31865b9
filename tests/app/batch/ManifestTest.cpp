// A batch's manifest read into solve's arguments, the row a scheduler's task means, and the
// text the summary reads back: cases in manifests.tsv and tasks.tsv.
#include "AddinCommands.hpp"
#include "Manifest.hpp"
#include "ui/Json.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

using app::ManifestError;

std::vector<std::vector<std::string>> table(const std::string& name) {
    std::ifstream in(std::string(OMBRIX_SOURCE_DIR) + "/tests/app/batch/" + name);
    EXPECT_TRUE(in) << name;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind('#', 0) == 0)
            continue;
        std::vector<std::string> fields;
        std::istringstream s(line);
        for (std::string f; std::getline(s, f, '\t');)
            fields.push_back(f);
        if (line.empty() || line[0] == '\t')
            fields.insert(fields.begin(), line.empty() ? 2 : 0, "");
        rows.push_back(fields);
    }
    return rows;
}

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r'))
            out += text[++i] == 'n' ? '\n' : '\r';
        else
            out += text[i];
    return out;
}

// The flags of solve these cases use, as solve itself answers.
std::optional<bool> takes_value(const std::string& flag) {
    if (flag == "--seed" || flag == "--var" || flag == "--set" || flag == "--report" || flag == "--field")
        return app::solve_flag_takes_value(flag);
    return std::nullopt;
}

TEST(ManifestTest, ReadsRowsAndRefusesWhatCannotBeRun) {
    EXPECT_EQ(app::solve_flag_takes_value("--seed"), std::optional<bool>(true));
    EXPECT_EQ(app::solve_flag_takes_value("--report"), std::optional<bool>(false));
    EXPECT_EQ(app::solve_flag_takes_value("--seeds"), std::nullopt);
    EXPECT_EQ(app::solve_flag_takes_value("BOOK"), std::nullopt);
    for (const auto& row : table("manifests.tsv")) {
        ASSERT_GE(row.size(), 3u) << row[0];
        const std::string text = unescaped(row[0]);
        SCOPED_TRACE(row[0]);
        if (row[1] == "error") {
            try {
                app::parse_manifest(text, takes_value);
                ADD_FAILURE() << "read without an error";
            } catch (const ManifestError& e) {
                EXPECT_NE(std::string(e.what()).find(row[2]), std::string::npos) << e.what();
            }
            continue;
        }
        std::string got;
        std::size_t number = 0;
        for (const app::ManifestRow& r : app::parse_manifest(text, takes_value)) {
            EXPECT_EQ(r.number, ++number);
            got += (got.empty() ? "" : "||") + r.workbook + ":";
            for (std::size_t i = 0; i < r.arguments.size(); ++i)
                got += (i ? "|" : "") + r.arguments[i];
        }
        EXPECT_EQ(got, row[2]);
    }
}

TEST(ManifestTest, TaskFromTheSchedulersEnvironment) {
    for (const auto& row : table("tasks.tsv")) {
        SCOPED_TRACE(row[0]);
        std::map<std::string, std::string> env;
        std::istringstream s(row[0]);
        for (std::string item; s >> item;)
            if (item != "-")
                env[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
        auto get = [&](const char* name) { return env.count(name) ? env[name].c_str() : nullptr; };
        if (row[1] == "error") {
            try {
                app::task_from_environment(get);
                ADD_FAILURE() << "no error";
            } catch (const ManifestError& e) {
                EXPECT_NE(std::string(e.what()).find(row[2]), std::string::npos) << e.what();
            }
            continue;
        }
        std::optional<std::size_t> task = app::task_from_environment(get);
        EXPECT_EQ(task ? std::to_string(*task) : "none", row[1]);
    }
}

// What the results and the summary write reads back as it was: text of every kind through
// the JSON the rows are written in, and through the summary's CSV.
TEST(ManifestTest, ResultsReadBackAsWritten) {
    const std::string texts[] = {"",          "plain",        "a \"quoted\" word, a comma", "two\nlines\r\n",
                                 "tab\there", "\x01 control", "Plän €5 \xF0\x9F\x99\x82",   "back\\slash"};
    std::string csv;
    for (const std::string& t : texts) {
        app::JsonValue v = app::parse_json("{\"k\": [" + host::ui::json_string(t) + ", 1.5e-7, null, true]}");
        ASSERT_NE(v.find("k"), nullptr);
        ASSERT_EQ(v.find("k")->items.size(), 4u);
        EXPECT_EQ(v.find("k")->items[0].text, t);
        EXPECT_EQ(v.find("k")->items[1].text, "1.5e-7");
        EXPECT_EQ(v.find("k")->items[3].kind, app::JsonValue::Kind::boolean);
        csv += app::csv_field(t) + "," + app::csv_field(t) + "\n";
    }
    std::vector<std::vector<std::string>> records = app::csv_records(csv);
    std::size_t i = 0;
    for (const std::string& t : texts) {
        if (t.empty() && i < records.size() && records[i].size() == 2 && records[i][0].empty()) {
            ++i; // a line of two empty fields is a record
            continue;
        }
        ASSERT_LT(i, records.size());
        EXPECT_EQ(records[i], (std::vector<std::string>{t, t}));
        ++i;
    }
    for (const char* bad : {"{", "{\"a\" 1}", "[1,]", "\"open", "nul", "{} x", "\"\\u12\""})
        EXPECT_THROW(app::parse_json(bad), std::runtime_error) << bad;
}

} // namespace
