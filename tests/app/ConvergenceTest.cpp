// The convergence table and the trace, from a run's objectives as the host saw them.
#include "Convergence.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

using host::engine::Value;

namespace {

// "3 1 x 2": numbers, and x for an objective that is not one (#DIV/0!).
std::vector<Value> objectives_of(const std::string& text) {
    std::vector<Value> values;
    std::istringstream words(text);
    for (std::string w; words >> w;)
        values.push_back(w == "x" ? Value::error(host::engine::ErrorCode::Div0) : Value::number(std::stod(w)));
    return values;
}

// "trial generation best_so_far best mean count" per row; nan where none.
std::string rows_text(const std::vector<app::GenerationRow>& rows) {
    std::ostringstream out;
    for (const app::GenerationRow& r : rows)
        out << r.trial << " " << r.generation << " " << r.best_so_far << " " << r.best << " " << r.mean << " "
            << r.count << "\n";
    return out.str();
}

struct ConvergenceCase {
    const char* what;
    const char* objectives;
    std::uint64_t population, generations;
    bool maximise;
    const char* rows;
};

TEST(Convergence, GroupsEvaluationsIntoGenerationsAndTrials) {
    const ConvergenceCase cases[] = {
        {"best so far carries over a worse generation", "1 3 | 2 2 | 5 0", 2, 3, true,
         "1 1 3 3 2 2\n1 2 3 2 2 2\n1 3 5 5 2.5 2\n"},
        {"minimising", "4 2 | 3 9 | 1 1", 2, 3, false, "1 1 2 2 3 2\n1 2 2 3 6 2\n1 3 1 1 1 2\n"},
        {"a new trial starts its own best", "1 5 | 2 2 | 0 1 | 3 1", 2, 2, true,
         "1 1 5 5 3 2\n1 2 5 2 2 2\n2 1 1 1 0.5 2\n2 2 3 3 2 2\n"},
        {"an incomplete last generation is left out", "1 2 3 | 4 5", 3, 2, true, "1 1 3 3 2 3\n"},
        {"objectives that are not numbers are left out", "x 2 | x x | 1 x", 2, 3, true,
         "1 1 2 2 2 1\n1 2 2 nan nan 0\n1 3 2 1 1 1\n"},
        {"a trial that has seen no number has no best", "x x | 1 2", 2, 2, false, "1 1 nan nan nan 0\n1 2 1 1 1.5 2\n"},
        {"no population", "1 2", 0, 2, true, ""},
        {"no generations", "1 2", 1, 0, true, ""},
    };
    for (const ConvergenceCase& c : cases) {
        std::string text = c.objectives;
        for (char& ch : text)
            if (ch == '|')
                ch = ' ';
        EXPECT_EQ(rows_text(app::convergence(objectives_of(text), c.population, c.generations, c.maximise)), c.rows)
            << c.what;
    }
}

TEST(Convergence, TraceHasARowPerEvaluation) {
    app::EvaluationLog log;
    log.variables.resize(2);
    log.keep_variables = true;
    log.objectives = objectives_of("1.5 x 0.1");
    log.variable_values = {Value::number(1),  Value::number(2),      Value::text("a,b"),
                           Value::number(-3), Value::number(1e-300), Value::boolean(true)};
    EXPECT_EQ(app::trace_csv(log, {"Plan!B3", "Plan, 2!C3"}, 2, 5),
              "evaluation,trial,generation,objective,Plan!B3,\"Plan, 2!C3\"\n"
              "1,1,1,1.5,1,2\n"
              "2,1,1,#DIV/0!,\"a,b\",-3\n"
              "3,,,0.1,1e-300,TRUE\n");
}

} // namespace
