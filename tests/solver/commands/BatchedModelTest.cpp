// Models with constraints, whole numbers or several variable ranges, evaluated a generation at
// a time where the host takes batches: the batches carry the constraints' cells, and the run
// is the one the host without batches gives, evaluation for evaluation.
#include "Workbook.hpp"

#include "math/opt/Search.hpp"

namespace solver_test {
namespace {

using host::engine::CellAddress;

// Evaluates each row on the book in turn, as the host's copies would; counts the batches.
struct CountingEvaluator : host::api::BatchEvaluator {
    unsigned int batches = 0;
    unsigned int workers() const override { return 2; }
    void wrote(const std::vector<std::pair<CellAddress, Value>>&) override {}
    bool evaluate(host::engine::Workbook& book, const std::vector<CellAddress>& write,
                  const std::vector<std::vector<Value>>& rows, const std::vector<CellAddress>& read,
                  std::vector<std::vector<Value>>& results) override {
        ++batches;
        results.clear();
        for (const std::vector<Value>& row : rows) {
            std::vector<std::pair<CellAddress, Value>> cells;
            for (std::size_t c = 0; c < write.size(); ++c)
                cells.emplace_back(write[c], row[c]);
            book.set_values(cells);
            if (!book.automatic())
                book.recalculate();
            results.emplace_back();
            for (const CellAddress& cell : read)
                results.back().push_back(book.value(cell));
        }
        return true;
    }
};

struct ModelRow {
    const char* strategy;
    const char* variables;
    const char* constraints; // separated by ';'
    const char* integers;
    const char* goal;
    const char* fails = ""; // the run's message where a constraint's cell holds no number
};

// E1 = A1+B1 and F1:G1 = B1:C1 * 2 give the constraints cells of their own to read; H1 is
// an error value for some candidates.
const ModelRow model_rows[] = {
    {"classic", "A1:C1", "E1 <= 1", "", "Maximise"},
    {"classic", "A1,B1:C1", "E1 <= 1; F1:G1 >= A2:B2", "", "Minimise"},
    {"de", "A1:C1", "E1 <= 1; A1:C1 >= A2:C2; A1:C1 <= A3:C3", "", "Maximise"},
    {"shade", "A1,B1,C1", "F1:G1 <= 3; E1 >= -1", "A1", "Maximise"},
    {"real", "B1:C1,A1", "E1 = 1", "", "Minimise"},
    {"de", "A1:C1", "", "A1:C1", "Maximise"},
    {"de", "A1:C1", "H1 <= 3", "", "Maximise", "The constraint \"H1 <= 3\" cannot be checked"},
    {"classic", "A1:C1", "E1 <= 1; H1 <= 3", "", "Minimise", "The constraint \"H1 <= 3\" cannot be checked"},
};

class BatchedModel : public Workbook {
protected:
    struct Run {
        std::vector<double> objectives; // as each evaluation read them, in order
        std::vector<double> result;
        std::string message;
        bool operator==(const Run& o) const {
            return objectives == o.objectives && result == o.result && message == o.message;
        }
    };
    Run run(const ModelRow& row, CountingEvaluator* evaluator) {
        build();
        formula("E1", "=A1+B1");
        formula("F1", "=B1*2");
        formula("G1", "=C1*2");
        formula("H1", "=IF(A1>1,1/0,A1)");
        typed["Var Vector"] = row.variables;
        typed["Goal:"] = row.goal;
        typed["Seed"] = "31";
        impl.constraint_texts = {row.constraints};
        impl.integer_text = row.integers;
        math::opt::strategy_from_name(row.strategy, impl.strategy);
        Run r;
        host->set_evaluation_observer(
            [&r](const CellAddress&, const Value& value, const std::vector<std::pair<CellAddress, Value>>&) {
                r.objectives.push_back(value.as_number());
            });
        host->set_batch_evaluator(evaluator);
        r.message = solve_message();
        r.result = variables();
        host->set_batch_evaluator(nullptr);
        return r;
    }
};

TEST_F(BatchedModel, EachGenerationIsOneBatchAndTheRunIsTheSame) {
    for (const ModelRow& row : model_rows) {
        const std::string name = std::string(row.strategy) + " " + row.variables + " " + row.constraints;
        const Run alone = run(row, nullptr);
        CountingEvaluator evaluator;
        const Run batched = run(row, &evaluator);
        if (*row.fails) {
            // Stopped at the first candidate that fails, with its own message, either way.
            EXPECT_EQ(0u, alone.message.find(row.fails)) << name << ": " << alone.message;
            EXPECT_EQ(alone.message, batched.message) << name;
            EXPECT_EQ(1u, evaluator.batches) << name;
            continue;
        }
        EXPECT_EQ("", alone.message) << name;
        // 6 generations of 2 trials; a constrained run's local search after them goes one
        // candidate at a time.
        EXPECT_EQ(12u, evaluator.batches) << name;
        EXPECT_GE(alone.objectives.size(), 12u * 12) << name;
        EXPECT_TRUE(alone == batched) << name;
    }
}

} // namespace
} // namespace solver_test
