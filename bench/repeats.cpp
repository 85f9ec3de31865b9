// Candidates a run evaluates again: a default run (population 50, 100 generations, 2 trials)
// of the solver through the host on the chain of N formulas (or, for N = 0, the price list's
// 1,000 lookups into 10,000 rows), with and without the
// results of points already evaluated kept (Workbook::set_recalculation_memo, as `ombrix
// solve` sets it). The run's answer is the same either way; the counters say how many
// evaluations there were and how many the kept results answered.

#include "models.hpp"

#include "api/Host.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "solver/ExcelObjFunc.hpp"

#include <boost/random/mersenne_twister.hpp>

namespace {

void BM_DefaultRun(benchmark::State& state) {
    host::engine::Workbook book;
    if (state.range(0) > 0)
        bench::build_chain(book, int(state.range(0)));
    else
        bench::build_price_list(book);
    book.set_automatic(true);
    book.recalculate_all();
    host::api::Host host{book};
    host::api::CurrentHost current{host};
    math::opt::GAOptimiser optimiser;
    for (int i = 0; i < 10; ++i)
        optimiser.design_variable(state.range(0) > 0 ? math::opt::Interval(-2, 2) : math::opt::Interval(0, 1000));
    optimiser.trials = 2;
    double best = 0;
    std::uint64_t recalled = 0, evaluations = 0;
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state) {
        book.set_recalculation_memo(state.range(1) ? std::size_t(32) << 20 : 0);
        const std::uint64_t before = book.recalculations_recalled(), counted = book.evaluation_count();
        excel::RangeRef variables;
        excel::RangeRef::coerce_to_range("A1:J1", variables);
        excel::CellRef target;
        excel::CellRef::coerce_to_cell("L1", target);
        ExcelObjFunc f(variables, target);
        boost::mt19937 engine(233);
        optimiser.maximise(f, engine);
        best = book.value({0, 0, 11}).as_number();
        recalled = book.recalculations_recalled() - before;
        evaluations = book.evaluation_count() - counted;
    }
    OMBRIX_BENCH_COUNT_END;
    benchmark::DoNotOptimize(best);
    state.counters["best"] = best;
    state.counters["formulas_evaluated"] = double(evaluations);
    state.counters["recalled"] = double(recalled);
}
BENCHMARK(BM_DefaultRun)
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace
