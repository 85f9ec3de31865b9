// The convergence table and the trace, from a run's objectives as the host saw them.
#include "Convergence.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
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

// The trace as its writer streams it: each piece it hands over, "|" between pieces.
struct TraceCase {
    const char* what;
    const char* objectives;
    std::uint64_t population, generations;
    const char* pieces;
};

TEST(Convergence, TraceHasARowPerEvaluationWrittenAGenerationAtATime) {
    const TraceCase cases[] = {
        {"a generation's rows go together once it is complete; the incomplete last one at the end", "1.5 x 0.1", 2, 5,
         "evaluation,trial,generation,objective,Plan!B3,\"Plan, 2!C3\"\n|1,1,1,1.5,1,2\n2,1,1,#DIV/0!,\"a,b\",-3\n|"
         "3,,,0.1,1e-300,TRUE\n"},
        {"trials number their own generations", "1 2 3", 1, 2,
         "evaluation,trial,generation,objective,Plan!B3,\"Plan, 2!C3\"\n|1,1,1,1,1,2\n|2,1,2,2,\"a,b\",-3\n|"
         "3,2,1,3,1e-300,TRUE\n"},
        {"without generations each row goes at once, with neither", "1 2", 0, 5,
         "evaluation,trial,generation,objective,Plan!B3,\"Plan, 2!C3\"\n|1,,,1,1,2\n|2,,,2,\"a,b\",-3\n"},
        {"nothing evaluated: the header alone", "", 2, 5,
         "evaluation,trial,generation,objective,Plan!B3,\"Plan, 2!C3\"\n"},
    };
    const std::vector<std::vector<Value>> variables = {{Value::number(1), Value::number(2)},
                                                       {Value::text("a,b"), Value::number(-3)},
                                                       {Value::number(1e-300), Value::boolean(true)}};
    for (const TraceCase& c : cases) {
        std::string pieces;
        app::TraceWriter trace([&pieces](const std::string& text) { pieces += (pieces.empty() ? "" : "|") + text; },
                               {"Plan!B3", "Plan, 2!C3"}, c.population, c.generations);
        std::vector<Value> objectives = objectives_of(c.objectives);
        for (std::size_t i = 0; i < objectives.size(); ++i)
            trace.add(objectives[i], variables[i]);
        trace.finish();
        EXPECT_EQ(pieces, c.pieces) << c.what;
    }
}

// A book whose B1 is the objective and A1 the variable, for the recorder.
struct RecordedRun {
    host::engine::Workbook book;
    host::engine::CellAddress variable{0, 0, 0}, objective{0, 0, 1};
    RecordedRun() { book.add_sheet("Sheet1"); }
    void evaluate(app::RunRecorder& recorder, double x) {
        book.set_value(variable, Value::number(x));
        book.set_formula(objective, "=A1*2");
        book.recalculate();
        recorder.record(book, book.value(objective), {{variable, book.value(variable)}});
    }
};

TEST(Convergence, RecorderKeepsTheTableAndTheTraceAsTheRunGoes) {
    RecordedRun run;
    app::RunRecorder recorder({run.variable}, 2, 2, true);
    std::string trace;
    recorder.trace_to([&trace](const std::string& text) { trace += text; }, {"Sheet1!A1"});
    for (double x : {1, 3, 2, 0, 5})
        run.evaluate(recorder, x);
    recorder.finish();
    EXPECT_FALSE(recorder.table_failure());
    EXPECT_FALSE(recorder.trace_failure());
    EXPECT_EQ(rows_text(recorder.table()), "1 1 6 6 4 2\n1 2 6 4 2 2\n");
    EXPECT_EQ(trace, "evaluation,trial,generation,objective,Sheet1!A1\n1,1,1,2,1\n2,1,1,6,3\n3,1,2,4,2\n4,1,2,0,0\n"
                     "5,,,10,5\n");
}

// A trace whose file fails (a full disk) stops, and says why, without ever throwing into the
// run that the record watches; the table goes on.
TEST(Convergence, RecorderWhoseTraceFailsStopsItAndSaysWhyWithoutFailingTheRun) {
    const struct {
        const char* what;
        int fail_at_piece; // the header is piece 0
    } cases[] = {
        {"the header cannot be written", 0},
        {"a generation cannot be written", 2},
        {"the last rows cannot be written", 3},
    };
    for (const auto& c : cases) {
        RecordedRun run;
        app::RunRecorder recorder({run.variable}, 2, 2, true);
        int pieces = 0;
        EXPECT_NO_THROW(recorder.trace_to(
            [&](const std::string&) {
                if (pieces++ == c.fail_at_piece)
                    throw std::runtime_error("No space left on device");
            },
            {"Sheet1!A1"}))
            << c.what;
        for (double x : {1, 3, 2, 0, 5})
            EXPECT_NO_THROW(run.evaluate(recorder, x)) << c.what;
        recorder.finish();
        EXPECT_EQ(pieces, c.fail_at_piece + 1) << c.what << ": nothing more is written once it failed";
        ASSERT_TRUE(recorder.trace_failure()) << c.what;
        EXPECT_EQ(*recorder.trace_failure(), "No space left on device") << c.what;
        EXPECT_FALSE(recorder.table_failure()) << c.what;
        EXPECT_EQ(rows_text(recorder.table()), "1 1 6 6 4 2\n1 2 6 4 2 2\n") << c.what;
    }
}

} // namespace
