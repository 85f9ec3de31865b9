// xlEvaluateBatch: refused as unknown without an evaluator, as the spreadsheet refuses it;
// with one, the candidates' values in order, recorded as if each had been written and read in
// turn, the book left holding the last.

#include "Calls.hpp"

namespace host::api::testing {

namespace {

using engine::CellAddress;
using engine::Value;

// Evaluates the rows one after another on the book itself; refuses when told to.
struct SerialEvaluator : BatchEvaluator {
    bool refuse = false;
    std::vector<std::vector<std::pair<CellAddress, Value>>> outside;
    unsigned int workers() const override { return 3; }
    void wrote(const std::vector<std::pair<CellAddress, Value>>& cells) override { outside.push_back(cells); }
    bool evaluate(engine::Workbook& book, const std::vector<CellAddress>& write,
                  const std::vector<std::vector<Value>>& rows, const std::vector<CellAddress>& read,
                  std::vector<std::vector<Value>>& results) override {
        if (refuse)
            return false;
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

class ApiBatch : public HostTest {
protected:
    ApiBatch() {
        book.set_formula(at(0, "C1"), "A1*10+B1");            // the objective
        book.set_formula(at(0, "D1"), "IF(A1>1,\"big\",A1)"); // another cell read
        host.set_evaluation_observer([this](const CellAddress& cell, const Value& value,
                                            const std::vector<std::pair<CellAddress, Value>>& written) {
            seen.push_back(std::to_string(cell.col) + "=" + std::to_string(value.as_number()) + " after " +
                           std::to_string(written.at(0).second.as_number()) + "," +
                           std::to_string(written.at(1).second.as_number()));
        });
    }
    // Candidates (A1, B1) as rows.
    int batch(const std::vector<std::pair<double, double>>& points, XLOPER& result, bool both = false) {
        elements.clear();
        for (const auto& p : points) {
            elements.push_back(num(p.first));
            elements.push_back(num(p.second));
        }
        vars = sref(0, 0, 0, 1);
        rows = multi(elements, static_cast<int>(points.size()), 2);
        objective = cell(0, 2);
        other = cell(0, 3);
        std::vector<XLOPER*> args{&vars, &rows, &objective};
        if (both)
            args.push_back(&other);
        return call(xlEvaluateBatch, &result, args);
    }
    std::vector<XLOPER> elements;
    XLOPER vars, rows, objective, other;
    std::vector<std::string> seen;
    SerialEvaluator evaluator;
};

TEST_F(ApiBatch, RefusedWithoutAnEvaluatorOrWhenItDeclines) {
    XLOPER result = nil();
    EXPECT_EQ(call(xlEvaluateBatch, &result, {}), xlretInvXlfn);
    EXPECT_EQ(batch({{1, 2}, {3, 4}}, result), xlretInvXlfn);
    host.set_batch_evaluator(&evaluator);
    evaluator.refuse = true;
    EXPECT_EQ(batch({{1, 2}, {3, 4}}, result), xlretFailed);
    // Nothing was recorded or written.
    EXPECT_EQ(host.activity().writes, 0u);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(book.value(at(0, "C1")).as_number(), 0);
}

TEST_F(ApiBatch, BadRequestsAreRefused) {
    host.set_batch_evaluator(&evaluator);
    XLOPER result = nil();
    // Rows that do not match the variable cells, a value where a reference belongs, too few.
    std::vector<XLOPER> three{num(1), num(2), num(3)};
    XLOPER v = sref(0, 0, 0, 1), wide = multi(three, 1, 3), target = cell(0, 2), n = num(1);
    EXPECT_EQ(call(xlEvaluateBatch, &result, {&v, &wide, &target}), xlretFailed);
    EXPECT_EQ(call(xlEvaluateBatch, &result, {&n, &wide, &target}), xlretFailed);
    EXPECT_EQ(call(xlEvaluateBatch, &result, {&v, &wide}), xlretInvCount);
    EXPECT_EQ(host.activity().writes, 0u);
}

TEST_F(ApiBatch, AnswersAsOneAtATimeWould) {
    host.set_batch_evaluator(&evaluator);
    XLOPER result = nil();
    ASSERT_EQ(call(xlEvaluateBatch, &result, {}), xlretSuccess);
    EXPECT_EQ(result.xltype, xltypeNum);
    EXPECT_EQ(result.val.num, 3);

    ASSERT_EQ(batch({{1, 2}, {3, 4}, {0.5, 1}}, result, true), xlretSuccess);
    ASSERT_EQ(result.xltype, xltypeMulti);
    ASSERT_EQ(result.val.array.rows, 3);
    ASSERT_EQ(result.val.array.columns, 2);
    const XLOPER* e = result.val.array.lparray;
    EXPECT_EQ(e[0].val.num, 12);
    EXPECT_EQ(e[1].val.num, 1);
    EXPECT_EQ(e[2].val.num, 34);
    EXPECT_EQ(text(e[3]), "big");
    EXPECT_EQ(e[4].val.num, 6);
    EXPECT_EQ(e[5].val.num, 0.5);
    EXPECT_EQ(free_value(result), xlretSuccess);
    const std::vector<std::string> batched = seen;
    const CellActivity activity = host.activity();
    EXPECT_EQ(book.value(at(0, "A1")).as_number(), 0.5);
    EXPECT_EQ(book.value(at(0, "C1")).as_number(), 6);
    EXPECT_TRUE(evaluator.outside.empty());

    // The same candidates through xlSet and xlCoerce.
    seen.clear();
    host.set_batch_evaluator(nullptr);
    for (const auto& p : std::vector<std::pair<double, double>>{{1, 2}, {3, 4}, {0.5, 1}}) {
        std::vector<XLOPER> values{num(p.first), num(p.second)};
        XLOPER r = sref(0, 0, 0, 1), m = multi(values, 1, 2), c = cell(0, 2), v = nil(), t = integer(xltypeNum);
        ASSERT_EQ(call(xlSet, nullptr, {&r, &m}), xlretSuccess);
        ASSERT_EQ(call(xlCoerce, &v, {&c, &t}), xlretSuccess);
    }
    EXPECT_EQ(seen, batched);
    EXPECT_EQ(host.activity().writes, 2 * activity.writes);
    EXPECT_EQ(host.activity().written, activity.written);
    EXPECT_EQ(host.activity().read_after_write.at(at(0, "C1")), 6u);

    // A write outside batches reaches the evaluator, to keep its copies in step.
    host.set_batch_evaluator(&evaluator);
    XLOPER b1 = cell(0, 1), seven = num(7);
    ASSERT_EQ(call(xlSet, nullptr, {&b1, &seven}), xlretSuccess);
    ASSERT_EQ(evaluator.outside.size(), 1u);
    EXPECT_EQ(evaluator.outside[0].at(0).second.as_number(), 7);
}

// The variables in several references, each written in turn as the add-in writes them one
// at a time; the cells to read in several too, in order.
TEST_F(ApiBatch, SeveralReferencesToWriteAndToRead) {
    host.set_batch_evaluator(&evaluator);
    std::vector<XLOPER> values{num(1), num(2), num(3), num(4)};
    XLOPER a1 = cell(0, 0), b1 = cell(0, 1), m = multi(values, 2, 2), c1 = cell(0, 2), d1 = cell(0, 3);
    XLOPER result = nil();
    EXPECT_EQ(call(xlEvaluateBatch, &result, {&a1, &b1, &m}), xlretFailed); // nothing to read
    EXPECT_EQ(call(xlEvaluateBatch, &result, {&m, &a1, &c1}), xlretFailed); // nothing to write
    ASSERT_EQ(call(xlEvaluateBatch, &result, {&a1, &b1, &m, &c1, &d1}), xlretSuccess);
    ASSERT_EQ(result.xltype, xltypeMulti);
    ASSERT_EQ(result.val.array.rows, 2);
    ASSERT_EQ(result.val.array.columns, 2);
    const XLOPER* e = result.val.array.lparray;
    EXPECT_EQ(e[0].val.num, 12);
    EXPECT_EQ(e[1].val.num, 1);
    EXPECT_EQ(e[2].val.num, 34);
    EXPECT_EQ(text(e[3]), "big");
    EXPECT_EQ(free_value(result), xlretSuccess);
    // Each evaluation is seen with all its cells.
    EXPECT_EQ(seen,
              (std::vector<std::string>{"2=12.000000 after 1.000000,2.000000", "2=34.000000 after 3.000000,4.000000"}));
    const CellActivity batched = host.activity();

    // The same through xlSet, a cell at a time, and xlCoerce.
    host.set_batch_evaluator(nullptr);
    host.set_evaluation_observer(nullptr);
    for (const auto& p : std::vector<std::pair<double, double>>{{1, 2}, {3, 4}}) {
        XLOPER x = num(p.first), y = num(p.second), v = nil(), t = integer(xltypeNum);
        ASSERT_EQ(call(xlSet, nullptr, {&a1, &x}), xlretSuccess);
        ASSERT_EQ(call(xlSet, nullptr, {&b1, &y}), xlretSuccess);
        ASSERT_EQ(call(xlCoerce, &v, {&c1, &t}), xlretSuccess);
    }
    EXPECT_EQ(host.activity().writes, 2 * batched.writes);
    EXPECT_EQ(batched.writes, 4u);
    EXPECT_EQ(host.activity().written, batched.written);
    EXPECT_EQ(host.activity().read_after_write.at(at(0, "C1")), 4u);
    EXPECT_EQ(book.value(at(0, "C1")).as_number(), 34);
}

} // namespace

} // namespace host::api::testing
