// The host engine as the optimiser drives it: write the variable cells, recalculate what
// depends on them, read the objective. Also building and fully recalculating a large book.

#include "engine/Workbook.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

// Every allocation through new counted, to show that a round trip makes none.
namespace {
std::uint64_t allocations = 0;
} // namespace

void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
// These deletes do pair with the news above, which g++ cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

namespace {

std::size_t heap_in_use() {
#if defined(__GLIBC__)
    return mallinfo2().uordblks;
#else
    return 0;
#endif
}

std::string cell(const char* col, int row) { return std::string(col) + std::to_string(row); }

// Variables in A1:A10; 90 formulas in B1:B90 mixing them, 9 block sums in C1:C9 and the
// objective in D1: 100 formula cells that all depend on the variables.
void add_model(Workbook& wb, int sheet) {
    for (int i = 0; i < 10; ++i)
        wb.set_value({sheet, i, 0}, Value::number(i + 1));
    for (int i = 1; i <= 90; ++i) {
        int a = (i % 10) + 1, b = ((i + 3) % 10) + 1;
        wb.set_formula({sheet, i - 1, 1}, cell("A", a) + "*" + std::to_string(i) + "+" + cell("A", b) + "^2-IF(" +
                                              cell("A", a) + ">5,1,0)");
    }
    for (int k = 0; k < 9; ++k)
        wb.set_formula({sheet, k, 2}, "SUM(" + cell("B", 10 * k + 1) + ":" + cell("B", 10 * k + 10) + ")");
    wb.set_formula({sheet, 0, 3}, "SUM(C1:C9)+MAX(B1:B90)");
}

void round_trip(benchmark::State& state, Workbook& wb) {
    std::vector<std::pair<CellAddress, Value>> writes(10);
    double x = 0;
    const std::uint64_t before = wb.evaluation_count();
    std::uint64_t allocated = 0;
    for (auto _ : state) {
        const std::uint64_t a = allocations;
        x += 0.001;
        for (int i = 0; i < 10; ++i)
            writes[std::size_t(i)] = {CellAddress{0, i, 0}, Value::number(x + i)};
        wb.set_values(writes);
        wb.recalculate();
        benchmark::DoNotOptimize(wb.value({0, 0, 3}).as_number());
        allocated += allocations - a;
    }
    state.counters["evaluations/round"] =
        benchmark::Counter(double(wb.evaluation_count() - before), benchmark::Counter::kAvgIterations);
    state.counters["allocations/round"] = benchmark::Counter(double(allocated), benchmark::Counter::kAvgIterations);
}

void BM_RoundTrip100(benchmark::State& state) {
    Workbook wb;
    wb.add_sheet("Model");
    add_model(wb, 0);
    wb.recalculate_all();
    round_trip(state, wb);
}
BENCHMARK(BM_RoundTrip100);

// The same 100-formula model next to 99,900 formulas that do not depend on the variables.
void BM_RoundTrip100In100k(benchmark::State& state) {
    Workbook wb;
    wb.add_sheet("Model");
    add_model(wb, 0);
    for (int i = 0; i < 99900; ++i) {
        wb.set_value({0, i, 6}, Value::number(i));
        wb.set_formula({0, i, 7}, "G" + std::to_string(i + 1) + "*2+1");
    }
    wb.recalculate_all();
    round_trip(state, wb);
}
BENCHMARK(BM_RoundTrip100In100k)->Unit(benchmark::kMicrosecond);

// Builds a 100,000-cell book as a loader would (50,000 constants, 50,000 formulas: running
// sums, products, lookups) and recalculates everything.
void BM_Build100kAndRecalculate(benchmark::State& state) {
    double bytes_per_cell = 0;
    for (auto _ : state) {
        std::size_t before = heap_in_use();
        Workbook wb;
        wb.add_sheet("Data");
        const int n = 50000;
        for (int i = 0; i < n; ++i) {
            std::string r = std::to_string(i + 1);
            wb.set_value({0, i, 0}, Value::number(i % 97));
            if (i == 0)
                wb.set_formula({0, i, 1}, "A1");
            else if (i % 3 == 0)
                wb.set_formula({0, i, 1}, "B" + std::to_string(i) + "+A" + r + "*2");
            else if (i % 3 == 1)
                wb.set_formula({0, i, 1}, "IF(A" + r + ">50,A" + r + "-1,ROUND(A" + r + "/3,2))");
            else
                wb.set_formula({0, i, 1}, "SUM(A" + std::to_string(std::max(1, i - 8)) + ":A" + r + ")");
        }
        wb.recalculate_all();
        bytes_per_cell = double(heap_in_use() - before) / (2.0 * n);
        benchmark::DoNotOptimize(wb.value({0, n - 1, 1}).as_number());
    }
    state.counters["bytes/cell"] = bytes_per_cell;
}
BENCHMARK(BM_Build100kAndRecalculate)->Unit(benchmark::kMillisecond)->Iterations(3);

// Full recalculation alone of the same kind of book.
void BM_Recalculate100k(benchmark::State& state) {
    Workbook wb;
    wb.add_sheet("Data");
    for (int i = 0; i < 50000; ++i) {
        wb.set_value({0, i, 0}, Value::number(i % 97));
        wb.set_formula({0, i, 1}, i == 0 ? std::string("A1") : "B" + std::to_string(i) + "+A" + std::to_string(i + 1));
    }
    for (auto _ : state) {
        wb.recalculate_all();
        benchmark::DoNotOptimize(wb.value({0, 49999, 1}).as_number());
    }
}
BENCHMARK(BM_Recalculate100k)->Unit(benchmark::kMillisecond);

} // namespace
