// A batch on the book and its copies: each candidate's values are the ones the book alone
// gives, the book ends holding the last; a model whose values depend on more than its cells
// (a volatile function, a circular reference computed by iteration) is refused, so that the
// add-in evaluates it one candidate at a time.

#include "ParallelBatch.hpp"

#include "engine/Workbook.hpp"

#include <gtest/gtest.h>

namespace {

using host::engine::CalcSettings;
using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

struct BatchRow {
    const char* what;
    const char* b1; // B1 and C1 read A1, the variable, and may read D1, a constant
    const char* c1;
    bool iterate;
    bool batched;
};

const BatchRow batch_rows[] = {
    {"plain formulas", "A1*A1-D1", "IF(A1>0,\"up\",A1/0)", false, true},
    {"a volatile function", "A1+RAND()*0", "A1", false, false},
    {"iteration", "A1+0.9*C1", "0.5*B1", true, false},
    {"a circular reference left uncomputed", "A1+0.9*C1", "0.5*B1", false, true},
    {"iteration set, no circular reference", "A1*2", "B1+1", true, true},
};

Workbook model(const BatchRow& row) {
    Workbook book;
    book.add_sheet("M");
    book.set_automatic(true);
    CalcSettings settings;
    settings.iterate = row.iterate;
    book.set_calc_settings(settings);
    book.set_value({0, 0, 0}, Value::number(1));
    book.set_value({0, 0, 3}, Value::number(3));
    book.set_formula({0, 0, 1}, row.b1);
    book.set_formula({0, 0, 2}, row.c1);
    return book;
}

TEST(ParallelBatch, EachCandidateAsTheBookAloneGivesIt) {
    const std::vector<CellAddress> write{{0, 0, 0}}, read{{0, 0, 1}, {0, 0, 2}};
    std::vector<std::vector<Value>> rows;
    for (double x : {2.0, -1.5, 0.0, 7.25, 3.0, -4.0, 0.5})
        rows.push_back({Value::number(x)});
    for (const BatchRow& row : batch_rows) {
        Workbook book = model(row);
        app::ParallelBatch batch(3, [&row] { return model(row); });
        batch.start();
        std::vector<std::vector<Value>> results;
        ASSERT_EQ(row.batched, batch.evaluate(book, write, rows, read, results)) << row.what;
        if (!row.batched)
            continue;
        Workbook alone = model(row);
        ASSERT_EQ(rows.size(), results.size()) << row.what;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            alone.set_values({{write[0], rows[r][0]}});
            for (std::size_t c = 0; c < read.size(); ++c)
                EXPECT_EQ(alone.value(read[c]), results[r][c]) << row.what << " row " << r << " cell " << c;
        }
        for (const CellAddress& cell : read)
            EXPECT_EQ(alone.value(cell), book.value(cell)) << row.what;
        // A write outside batches reaches the copies before the next batch.
        const std::vector<std::pair<CellAddress, Value>> d1{{{0, 0, 3}, Value::number(5)}};
        book.set_values(d1);
        batch.wrote(d1);
        alone.set_values(d1);
        ASSERT_TRUE(batch.evaluate(book, write, rows, read, results)) << row.what;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            alone.set_values({{write[0], rows[r][0]}});
            EXPECT_EQ(alone.value(read[0]), results[r][0]) << row.what << " after the write, row " << r;
        }
    }
}

} // namespace
