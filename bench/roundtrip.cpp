// One evaluation of the optimiser's objective through the callback API, as the add-in makes
// it: excel::Range::set of the 10 variables, then excel::Cell::get_as_double of the
// objective, answered by the host over its workbook engine. Next to it, the engine's own
// round trip on the same model (write 10 cells, recalculate, read), which is the floor.

#include "api/Host.hpp"
#include "engine/Workbook.hpp"
#include "excel/Cell.hpp"
#include "excel/Range.hpp"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

namespace {

std::string cell(const char* col, int row) { return std::string(col) + std::to_string(row); }

// The engine benchmark's model: variables in A1:A10; 90 formulas in B1:B90 mixing them, 9
// block sums in C1:C9 and the objective in D1: 100 formula cells that all depend on the
// variables.
void add_model(Workbook& wb) {
    wb.add_sheet("Model");
    for (int i = 0; i < 10; ++i)
        wb.set_value({0, i, 0}, Value::number(i + 1));
    for (int i = 1; i <= 90; ++i) {
        int a = (i % 10) + 1, b = ((i + 3) % 10) + 1;
        wb.set_formula({0, i - 1, 1}, cell("A", a) + "*" + std::to_string(i) + "+" + cell("A", b) + "^2-IF(" +
                                          cell("A", a) + ">5,1,0)");
    }
    for (int k = 0; k < 9; ++k)
        wb.set_formula({0, k, 2}, "SUM(" + cell("B", 10 * k + 1) + ":" + cell("B", 10 * k + 10) + ")");
    wb.set_formula({0, 0, 3}, "SUM(C1:C9)+MAX(B1:B90)");
    wb.recalculate_all();
}

void BM_EngineRoundTrip(benchmark::State& state) {
    Workbook wb;
    add_model(wb);
    std::vector<std::pair<CellAddress, Value>> writes(10);
    double x = 0;
    for (auto _ : state) {
        x += 0.001;
        for (int i = 0; i < 10; ++i)
            writes[std::size_t(i)] = {CellAddress{0, i, 0}, Value::number(x + i)};
        wb.set_values(writes);
        wb.recalculate();
        benchmark::DoNotOptimize(wb.value({0, 0, 3}).as_number());
    }
}
BENCHMARK(BM_EngineRoundTrip);

void BM_AddinRoundTrip(benchmark::State& state) {
    Workbook wb;
    add_model(wb);
    host::api::Host host(wb);
    host::api::CurrentHost scope(host);
    excel::Range variables("A1:A10");
    excel::Cell objective("D1");
    std::vector<double> v(10);
    double x = 0;
    for (auto _ : state) {
        x += 0.001;
        for (int i = 0; i < 10; ++i)
            v[std::size_t(i)] = x + i;
        variables.set(v);
        benchmark::DoNotOptimize(objective.get_as_double());
    }
    if (host.allocations().outstanding() != 0)
        state.SkipWithError("the round trip left host memory outstanding");
}
BENCHMARK(BM_AddinRoundTrip);

} // namespace
