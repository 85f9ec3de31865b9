#ifndef OMBRIX_BENCH_MODELS_HPP
#define OMBRIX_BENCH_MODELS_HPP

// The model shapes the speed benchmarks share, built in the engine directly, and the way
// their LibreOffice counterparts are measured (bench/libreoffice.py through its Python
// bridge, in the same run).

#include "engine/Workbook.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
// Under `valgrind --tool=callgrind --collect-atstart=no` (bench/instructions.sh) only the
// timed loops are counted, and only the last run of each (the one whose iterations the
// benchmark reports).
#define OMBRIX_BENCH_COUNT_BEGIN                                                                                       \
    CALLGRIND_ZERO_STATS;                                                                                              \
    CALLGRIND_TOGGLE_COLLECT
#define OMBRIX_BENCH_COUNT_END CALLGRIND_TOGGLE_COLLECT
#else
#define OMBRIX_BENCH_COUNT_BEGIN
#define OMBRIX_BENCH_COUNT_END
#endif

namespace bench {

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

inline std::string column_letter(int col) { return std::string(1, char('A' + col)); }

// ---- the chain: 10 variables in A1:J1, N formulas below them in 10 columns, each reading
// the cell above it and its column's variable; the objective L1 sums the last row ----

inline std::string chain_formula(int col, int row) { // row: 1-based, >= 2
    const std::string above = column_letter(col) + std::to_string(row - 1), var = column_letter(col) + "$1";
    return above + "*0.5+SIN(" + var + ")*0.25+" + var + "/(1+ABS(" + above + "))";
}

inline int chain_rows(int formulas) { return formulas / 10; }

inline void build_chain(Workbook& wb, int formulas) {
    const int rows = chain_rows(formulas);
    wb.add_sheet("Model");
    for (int c = 0; c < 10; ++c)
        wb.set_value({0, 0, c}, Value::number(0.1 * (c + 1)));
    for (int r = 2; r <= rows + 1; ++r)
        for (int c = 0; c < 10; ++c)
            wb.set_formula({0, r - 1, c}, chain_formula(c, r));
    wb.set_formula({0, 0, 11}, "SUM(A" + std::to_string(rows + 1) + ":J" + std::to_string(rows + 1) + ")");
}

// ---- the lookup book: a 3,799-row Query sheet (id, then 13 columns of data) and a Report
// sheet of 3,265 formulas each doing two exact VLOOKUPs by ROW()-7 over Query!$A:$N, and
// 4,009 plain formulas over their results. One id in 20 is missing from Query, so those
// lookups fail (IFERROR gives 0), as in real mapping sheets ----

constexpr int query_rows = 3799, lookup_formulas = 3265, plain_formulas = 7274 - lookup_formulas;

inline double query_id(int i) { return double(i + 1 + i / 19); } // skips every 20th id

inline void build_lookup_book(Workbook& wb) {
    wb.add_sheet("Report");
    wb.add_sheet("Query");
    for (int i = 0; i < query_rows; ++i) {
        wb.set_value({1, i, 0}, Value::number(query_id(i)));
        for (int c = 1; c < 14; ++c) {
            if (c % 4 == 1)
                wb.set_value({1, i, c}, Value::text("item " + std::to_string(i * 7 % 1000) + column_letter(c)));
            else
                wb.set_value({1, i, c}, Value::number(double((i * 31 + c * 17) % 1000) / 10));
        }
    }
    for (int k = 0; k < lookup_formulas; ++k) {
        const int row = k + 8; // 1-based: ROW()-7 runs over 1..3265
        wb.set_formula({0, row - 1, 0},
                       "IFERROR(VLOOKUP(ROW()-7,Query!$A:$N,3,FALSE)*VLOOKUP(ROW()-7,Query!$A:$N,4,FALSE),0)");
    }
    for (int k = 0; k < plain_formulas; ++k) {
        const int row = k % lookup_formulas + 8, col = 1 + k / lookup_formulas;
        const std::string left = column_letter(col - 1) + std::to_string(row);
        wb.set_formula({0, row - 1, col}, left + "*1.1+1");
    }
}

// ---- the price list solve: 10,000 ids (in scrambled order) with prices on Prices; 1,000
// formulas on Model each look up the price of an id its variable picks; the objective sums
// them ----

constexpr int price_rows = 10000, price_lookups = 1000;

inline int price_id(int i) { return int((std::int64_t(i) * 7919) % price_rows) + 1; } // a permutation of 1..10000

inline void build_price_list(Workbook& wb) {
    wb.add_sheet("Model");
    wb.add_sheet("Prices");
    for (int i = 0; i < price_rows; ++i) {
        wb.set_value({1, i, 0}, Value::number(price_id(i)));
        wb.set_value({1, i, 1}, Value::number(double(price_id(i) % 997) / 4));
    }
    for (int c = 0; c < 10; ++c)
        wb.set_value({0, 0, c}, Value::number(100.0 * (c + 1)));
    for (int k = 0; k < price_lookups; ++k) {
        const std::string var = column_letter(k % 10) + "$1";
        wb.set_formula({0, k + 2, 0}, "VLOOKUP(MOD(INT(" + var + "*" + std::to_string(k + 1) +
                                          "),10000)+1,Prices!$A$1:$B$10000,2,FALSE)");
    }
    wb.set_formula({0, 0, 11}, "SUM(A3:A" + std::to_string(price_lookups + 2) + ")");
}

// The optimiser's round trip: write the 10 variables A1:J1, recalculate, read L1.
inline void round_trip(benchmark::State& state, Workbook& wb, double scale, int formulas) {
    std::vector<std::pair<CellAddress, Value>> writes(10);
    double x = 0;
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state) {
        x += 0.001;
        for (int i = 0; i < 10; ++i)
            writes[std::size_t(i)] = {CellAddress{0, 0, i}, Value::number(scale * (x + i + 1))};
        wb.set_values(writes);
        wb.recalculate();
        benchmark::DoNotOptimize(wb.value({0, 0, 11}).as_number());
    }
    OMBRIX_BENCH_COUNT_END;
    if (formulas > 0) // the CPU time of one formula
        state.counters["per_formula"] = benchmark::Counter(
            double(formulas), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

inline long resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// ---- LibreOffice through its Python bridge ----

// The seconds one evaluation of `shape` takes in LibreOffice, as bench/libreoffice.py
// measures it (the mean of its repetitions); skips the benchmark when the bridge cannot run.
inline void libreoffice(benchmark::State& state, const std::string& shape, std::int64_t size, int formulas = 0) {
    const std::string script = std::string(OMBRIX_BENCH_DIR) + "/libreoffice.py";
    const std::string command = "/usr/bin/python3 '" + script + "' " + shape + " " + std::to_string(size) + " 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        if (pclose(pipe) != 0)
            output = "failed: " + output;
    }
    double seconds = 0, repeats = 0;
    std::istringstream in(output);
    std::string word;
    bool found = false;
    while (in >> word)
        if (word == "seconds") {
            in >> seconds >> repeats;
            found = true;
        }
    if (!found) {
        state.SkipWithError(("LibreOffice did not run: " + output.substr(0, 300)).c_str());
        for (auto _ : state) {
        }
        return;
    }
    for (auto _ : state)
        state.SetIterationTime(seconds);
    state.counters["repeats"] = repeats;
    if (formulas > 0)
        state.counters["per_formula"] = seconds / formulas;
}

} // namespace bench

#endif
