#include "SavedModel.hpp"

#include "BookFiles.hpp"
#include "SolveChecks.hpp"

#include "engine/A1.hpp"

#include <cctype>
#include <cstdlib>

namespace app {

namespace {

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A name's formula without its leading "=": the engine's, or as the file has it when the
// engine could not read it (a union of ranges).
std::optional<std::string> name_text(const host::io::Document& document, const std::string& name, int scope) {
    std::string text = document.workbook.name_formula(name, scope);
    for (const host::io::Document::NameEdit& n : document.unread_names)
        if (text.empty() && n.sheet == scope && same_name(n.name, name))
            text = n.formula;
    if (text.empty())
        return std::nullopt;
    if (text[0] == '=')
        text.erase(0, 1);
    return text;
}

std::string sheet_prefix(const std::string& sheet) {
    bool plain = !sheet.empty();
    for (char c : sheet)
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.');
    if (plain)
        return sheet + "!";
    std::string quoted = "'";
    for (char c : sheet)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'!";
}

} // namespace

std::optional<SavedModel> read_saved_model(const host::io::Document& document, int sheet) {
    SavedModel model;
    model.scope = name_text(document, "solver_opt", sheet) ? sheet : -1;
    auto text = [&](const std::string& name) { return name_text(document, name, model.scope); };
    std::optional<std::string> objective = text("solver_opt");
    if (!objective)
        return std::nullopt;
    model.objective = *objective;
    const std::string type = text("solver_typ").value_or("1");
    if (type == "2")
        model.goal = "Minimise";
    else if (type != "1")
        throw UsageError("the workbook's saved model asks for a target value of " + model.objective + " (solver_typ " +
                         type +
                         "), which ombrix does not solve; set it to maximise or minimise, or give the model as flags");
    model.variables = text("solver_adj").value_or("");
    const long count = std::strtol(text("solver_num").value_or("0").c_str(), nullptr, 10);
    for (long i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        std::optional<std::string> lhs = text("solver_lhs" + n), rel = text("solver_rel" + n),
                                   rhs = text("solver_rhs" + n);
        if (!lhs || !rel)
            throw UsageError("the workbook's saved model lacks solver_lhs" + n + " or solver_rel" + n);
        if (*rel == "1" || *rel == "2" || *rel == "3") {
            if (!rhs)
                throw UsageError("the workbook's saved model lacks solver_rhs" + n);
            model.constraints.push_back(*lhs + (*rel == "1" ? " <= " : *rel == "2" ? " = " : " >= ") + *rhs);
        } else if (*rel == "4") {
            model.integer.push_back(*lhs);
        } else if (*rel == "5") {
            model.binary.push_back(*lhs);
        } else if (*rel == "6") {
            model.all_different.push_back(*lhs);
        } else {
            throw UsageError("the workbook's saved model has constraint " + n + " with relation " + *rel +
                             ", which is none of 1 to 6");
        }
    }
    model.non_negative = text("solver_neg").value_or("2") == "1";
    auto positive = [&](const std::string& name) -> std::optional<std::string> {
        std::optional<std::string> v = text(name);
        if (!v)
            return std::nullopt;
        char* end = nullptr;
        const double x = std::strtod(v->c_str(), &end);
        // The Solver's 0 means "its own choice": the add-in's default stands.
        return end != v->c_str() && *end == '\0' && x > 0 ? v : std::nullopt;
    };
    model.seed = positive("solver_rsd");
    model.population = positive("solver_ssz");
    model.mutation = positive("solver_mrt");
    if (std::optional<std::string> t = positive("solver_tim"))
        model.time_limit = std::strtod(t->c_str(), nullptr);
    return model;
}

std::vector<std::pair<std::string, std::string>> saved_model_names(const SavedModel& model) {
    std::vector<std::pair<std::string, std::string>> names = {
        {"solver_opt", model.objective},
        {"solver_typ", model.goal == "Minimise" ? "2" : "1"},
        {"solver_val", "0"},
        {"solver_adj", model.variables},
    };
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> rows; // lhs, rel, rhs
    for (const std::string& c : model.constraints) {
        std::size_t at = c.find_first_of("<>=");
        std::size_t length = c.compare(at, 2, "<=") == 0 || c.compare(at, 2, ">=") == 0 ? 2 : 1;
        std::string rel = c[at] == '<' ? "1" : c[at] == '>' ? "3" : "2";
        auto trim = [](std::string s) {
            std::size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
            return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
        };
        rows.push_back({trim(c.substr(0, at)), {rel, trim(c.substr(at + length))}});
    }
    for (const std::string& r : model.integer)
        rows.push_back({r, {"4", "\"integer\""}});
    for (const std::string& r : model.binary)
        rows.push_back({r, {"5", "\"binary\""}});
    for (const std::string& r : model.all_different)
        rows.push_back({r, {"6", "\"AllDifferent\""}});
    names.emplace_back("solver_num", std::to_string(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        names.emplace_back("solver_lhs" + n, rows[i].first);
        names.emplace_back("solver_rel" + n, rows[i].second.first);
        names.emplace_back("solver_rhs" + n, rows[i].second.second);
    }
    names.emplace_back("solver_neg", model.non_negative ? "1" : "2");
    if (model.seed)
        names.emplace_back("solver_rsd", *model.seed);
    if (model.population)
        names.emplace_back("solver_ssz", *model.population);
    if (model.mutation)
        names.emplace_back("solver_mrt", *model.mutation);
    return names;
}

std::string absolute_reference(const host::engine::Workbook& book, const std::string& text) {
    std::string out;
    for (const std::string& piece : reference_list(text)) {
        std::optional<host::engine::CellRange> r = book.reference_range(piece, book.active_sheet());
        if (!r)
            return text;
        auto cell = [](std::int32_t row, std::int32_t col) {
            return "$" + host::engine::column_name(col) + "$" + std::to_string(row + 1);
        };
        std::string ref = sheet_prefix(book.sheet_name(r->sheet)) + cell(r->first_row, r->first_col);
        if (r->size() > 1)
            ref += ":" + cell(r->last_row, r->last_col);
        out += (out.empty() ? "" : ",") + ref;
    }
    return out;
}

} // namespace app
