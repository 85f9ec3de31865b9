// What progress and the break checks cost a default run (population 50, 100 generations,
// 2 trials) of the solver against the host's workbook: the run without an observer, with
// the solver's observer at its usual pace (a status text at most every 250 ms, a break check
// every generation), and with a status text every generation, the worst case. The model is
// the cheapest there is (three variables, one formula), so the share is an upper bound.

#include "api/Host.hpp"
#include "engine/Workbook.hpp"
#include "solver/ExcelObjFunc.hpp"
#include "solver/RunStatus.hpp"
#include "ui/StatusLine.hpp"

#include <benchmark/benchmark.h>

#include <boost/random/mersenne_twister.hpp>

#include <sstream>

namespace {

using host::engine::Value;

struct Model {
    Model() {
        book.add_sheet("Rastrigin");
        for (int c = 1; c <= 3; ++c)
            book.set_value({0, 2, c}, Value::number(2.5));
        book.set_formula({0, 7, 1}, "30+(B3^2-10*COS(2*PI()*B3))+(C3^2-10*COS(2*PI()*C3))+(D3^2-10*COS(2*PI()*D3))");
        book.recalculate_all();
        host.set_status_handler([this](const std::optional<std::string>& t) { line.show(t); });
        host.set_break_source([] { return false; });
        for (int i = 0; i < 3; ++i)
            optimiser.design_variable(math::opt::Interval(-5.12, 5.12));
        optimiser.trials = 2;
    }
    // The run as the solver makes it, with or without its observer.
    double run(RunStatus* status) {
        excel::RangeRef variables;
        excel::RangeRef::coerce_to_range("B3:D3", variables);
        excel::CellRef target;
        excel::CellRef::coerce_to_cell("B8", target);
        ExcelObjFunc f(variables, target);
        boost::mt19937 engine(233);
        optimiser.observer = status;
        const double x = optimiser.minimise(f, engine)[0];
        if (status != nullptr)
            status->finish();
        return x;
    }

    host::engine::Workbook book;
    host::api::Host host{book};
    host::api::CurrentHost current{host};
    std::ostringstream terminal;
    host::ui::StatusLine line{terminal, host::ui::StatusDisplay::in_place};
    math::opt::GAOptimiser optimiser;
};

void BM_DefaultRunUnobserved(benchmark::State& state) {
    Model m;
    for (auto _ : state)
        benchmark::DoNotOptimize(m.run(nullptr));
}
BENCHMARK(BM_DefaultRunUnobserved)->Unit(benchmark::kMillisecond);

void BM_DefaultRunWithProgressAndChecks(benchmark::State& state) {
    Model m;
    for (auto _ : state) {
        RunStatus status(true, std::chrono::milliseconds(250));
        benchmark::DoNotOptimize(m.run(&status));
    }
}
BENCHMARK(BM_DefaultRunWithProgressAndChecks)->Unit(benchmark::kMillisecond);

void BM_DefaultRunWithATextEveryGeneration(benchmark::State& state) {
    Model m;
    for (auto _ : state) {
        RunStatus status(true, std::chrono::steady_clock::duration::zero());
        benchmark::DoNotOptimize(m.run(&status));
        m.terminal.str("");
    }
}
BENCHMARK(BM_DefaultRunWithATextEveryGeneration)->Unit(benchmark::kMillisecond);

} // namespace

namespace {

// What one generation pays at the usual pace: a break check through the callback API and a
// look at the clock (the status text itself is shown four times a second at most).
void BM_OneCheckBetweenGenerations(benchmark::State& state) {
    Model m;
    RunStatus status(true, std::chrono::milliseconds(250));
    math::opt::GAOptimiser::Progress progress = {0, 0, 2, 100, 1, -1.0};
    for (auto _ : state) {
        progress.generation = (progress.generation + 1) % 100;
        benchmark::DoNotOptimize(status.proceed(progress));
    }
}
BENCHMARK(BM_OneCheckBetweenGenerations);

// A status text every time: the text built, passed through the callback API and drawn.
void BM_OneStatusText(benchmark::State& state) {
    Model m;
    RunStatus status(true, std::chrono::steady_clock::duration::zero());
    math::opt::GAOptimiser::Progress progress = {0, 0, 2, 100, 1, -1.0};
    for (auto _ : state) {
        progress.generation = (progress.generation + 1) % 100;
        benchmark::DoNotOptimize(status.proceed(progress));
        m.terminal.str("");
    }
}
BENCHMARK(BM_OneStatusText);

} // namespace
