// Lookups where real models spend their time: a workbook of 3,265 formulas each doing two
// exact VLOOKUPs over a whole-column reference to a 3,799-row sheet, recalculated in full;
// and a solve's round trip over a 10,000-row price list whose objective sums 1,000 lookups
// that the variables move. Each beside LibreOffice doing the same through its Python bridge.

#include "models.hpp"

#include "io/Document.hpp"

#include <benchmark/benchmark.h>

namespace {

void BM_LookupBookRecalculate(benchmark::State& state) {
    host::engine::Workbook wb;
    bench::build_lookup_book(wb);
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state) {
        wb.recalculate_all();
        benchmark::DoNotOptimize(wb.value({0, 7, 0}).as_number());
    }
    OMBRIX_BENCH_COUNT_END;
}
BENCHMARK(BM_LookupBookRecalculate)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_LibreOfficeLookupBookRecalculate(benchmark::State& state) { bench::libreoffice(state, "lookups", 0); }
BENCHMARK(BM_LibreOfficeLookupBookRecalculate)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PriceListRoundTrip(benchmark::State& state) {
    host::engine::Workbook wb;
    bench::build_price_list(wb);
    wb.recalculate_all();
    bench::round_trip(state, wb, 100.0, 0);
}
BENCHMARK(BM_PriceListRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_LibreOfficePriceListRoundTrip(benchmark::State& state) { bench::libreoffice(state, "prices", 0); }
BENCHMARK(BM_LibreOfficePriceListRoundTrip)->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);

// The real workbook of the corpus (Apache POI's test file) with 6,530 exact VLOOKUPs over
// whole columns of a sheet whose 3,798 ids are volatile INDIRECT formulas: everything on the
// lookup sheets changes on every recalculation.
const char* real_lookup_book = OMBRIX_BENCH_DIR "/../tests/host/corpus/real/poi/StructuredRefs-lots-with-lookups.xlsx";

// What `ombrix calc` does with it: load, recalculate in full, find the cells to mark volatile.
void BM_RealLookupBookCalc(benchmark::State& state) {
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state) {
        host::io::Document d = host::io::load(real_lookup_book);
        benchmark::DoNotOptimize(d.workbook.volatile_dependents().size());
    }
    OMBRIX_BENCH_COUNT_END;
}
BENCHMARK(BM_RealLookupBookCalc)->Unit(benchmark::kMillisecond);

void BM_RealLookupBookRecalculate(benchmark::State& state) {
    host::io::Document d = host::io::load(real_lookup_book);
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state)
        d.workbook.recalculate_all();
    OMBRIX_BENCH_COUNT_END;
}
BENCHMARK(BM_RealLookupBookRecalculate)->Unit(benchmark::kMillisecond);

// One recalculation as a solve's round trip has it: the volatile cells and all they reach.
void BM_RealLookupBookRecalculateChanged(benchmark::State& state) {
    host::io::Document d = host::io::load(real_lookup_book);
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state)
        d.workbook.recalculate();
    OMBRIX_BENCH_COUNT_END;
}
BENCHMARK(BM_RealLookupBookRecalculateChanged)->Unit(benchmark::kMillisecond);

} // namespace
