// A large model as the optimiser drives it: N formulas, each reading the cell above it and
// one of 10 variables (=A5*0.5+SIN(A$1)*0.25+A$1/(1+ABS(A5))), the objective summing the last
// row. One round trip writes the variables, recalculates and reads the objective; reported
// per formula. Also loading and fully recalculating the same model of 1,000,000 formulas
// from an .xlsx written as the spreadsheet writes a filled-down block (shared formulas), with
// the memory it holds, and saving it back. Each beside LibreOffice doing the same through its Python bridge.

#include "models.hpp"

#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

void BM_ChainRoundTrip(benchmark::State& state) {
    const int formulas = int(state.range(0));
    host::engine::Workbook wb;
    bench::build_chain(wb, formulas);
    wb.recalculate_all();
    bench::round_trip(state, wb, 1.0, formulas);
}
BENCHMARK(BM_ChainRoundTrip)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_LibreOfficeChainRoundTrip(benchmark::State& state) {
    bench::libreoffice(state, "chain", state.range(0), int(state.range(0)));
}
BENCHMARK(BM_LibreOfficeChainRoundTrip)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

// The chain as an .xlsx: the variables, one shared formula per column filled down, cached
// values 0 (a full recalculation follows the load).
std::string chain_xlsx(int formulas) {
    const int rows = bench::chain_rows(formulas);
    const std::string last = std::to_string(rows + 1);
    std::string sheet = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    sheet += "<row r=\"1\">";
    for (int c = 0; c < 10; ++c)
        sheet += "<c r=\"" + bench::column_letter(c) + "1\"><v>" + std::to_string(c + 1) + "</v></c>";
    sheet += "<c r=\"L1\"><f>SUM(A" + last + ":J" + last + ")</f><v>0</v></c></row>";
    for (int r = 2; r <= rows + 1; ++r) {
        const std::string n = std::to_string(r);
        sheet += "<row r=\"" + n + "\">";
        for (int c = 0; c < 10; ++c) {
            const std::string col = bench::column_letter(c);
            sheet += "<c r=\"" + col + n + "\">";
            if (r == 2)
                sheet += "<f t=\"shared\" ref=\"" + col + "2:" + col + last + "\" si=\"" + std::to_string(c) + "\">" +
                         bench::chain_formula(c, 2) + "</f>";
            else
                sheet += "<f t=\"shared\" si=\"" + std::to_string(c) + "\"/>";
            sheet += "<v>0</v></c>";
        }
        sheet += "</row>";
    }
    sheet += "</sheetData></worksheet>";
    const char* rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    host::io::PackageWriter writer("chain.xlsx");
    writer.add("[Content_Types].xml",
               "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
               "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
               "<Override PartName=\"/xl/workbook.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
               "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>");
    writer.add("_rels/.rels", std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                          "relationships\"><Relationship Id=\"rId1\" Type=\"") +
                                  rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    writer.add("xl/workbook.xml",
               std::string("<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                           "main\" xmlns:r=\"") +
                   rel + "\"><sheets><sheet name=\"Model\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    writer.add("xl/_rels/workbook.xml.rels",
               std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                           "<Relationship Id=\"rId1\" Type=\"") +
                   rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    writer.add("xl/worksheets/sheet1.xml", sheet);
    return writer.finish();
}

std::string chain_file(int formulas) { return "/tmp/ombrix-bench-chain-" + std::to_string(formulas) + ".xlsx"; }

// The peak resident memory from here on: the kernel's high-water mark is reset to what is
// resident now (Linux 4.0 on; without it the peak is the process's since it started).
void reset_peak_resident() { std::ofstream("/proc/self/clear_refs") << "5"; }

long peak_resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6)) * 1024;
    return 0;
}

void BM_ChainLoadAndRecalculate(benchmark::State& state) {
    const int formulas = int(state.range(0));
    const std::string bytes = chain_xlsx(formulas);
    std::ofstream(chain_file(formulas), std::ios::binary) << bytes; // for LibreOffice's turn
    double loaded_per_formula = 0, per_formula = 0, held_per_formula = 0, peak_per_formula = 0;
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state) {
        const long before = bench::resident_bytes();
        reset_peak_resident();
        host::io::Document d = host::io::load_xlsx_bytes("chain.xlsx", bytes);
        loaded_per_formula = double(bench::resident_bytes() - before) / formulas;
        d.workbook.recalculate_all();
        per_formula = double(bench::resident_bytes() - before) / formulas;
        peak_per_formula = double(peak_resident_bytes() - before) / formulas;
#if defined(__GLIBC__)
        malloc_trim(0);
#endif
        held_per_formula = double(bench::resident_bytes() - before) / formulas;
        benchmark::DoNotOptimize(d.workbook.value({0, 0, 11}));
    }
    OMBRIX_BENCH_COUNT_END;
    state.counters["file_bytes"] = double(bytes.size());
    // Resident memory gained by the load alone, per formula cell; then with the full
    // recalculation; the highest it was on the way; and once the allocator has given back the
    // pages it keeps free (what the workbook holds).
    state.counters["loaded_bytes/formula"] = loaded_per_formula;
    state.counters["bytes/formula"] = per_formula;
    state.counters["peak_bytes/formula"] = peak_per_formula;
    state.counters["held_bytes/formula"] = held_per_formula;
}
BENCHMARK(BM_ChainLoadAndRecalculate)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Saving the recalculated chain back over its package: every formula's cached value changes,
// so the whole sheet is written again.
void BM_ChainSave(benchmark::State& state) {
    const int formulas = int(state.range(0));
    host::io::Document d = host::io::load_xlsx_bytes("chain.xlsx", chain_xlsx(formulas));
    d.workbook.recalculate_all();
    std::size_t saved = 0;
    double peak_per_formula = 0;
    OMBRIX_BENCH_COUNT_BEGIN;
    for (auto _ : state) {
        const long before = bench::resident_bytes();
        reset_peak_resident();
        const std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");
        peak_per_formula = double(peak_resident_bytes() - before) / formulas;
        saved = bytes.size();
    }
    OMBRIX_BENCH_COUNT_END;
    state.counters["saved_bytes"] = double(saved);
    // The memory saving takes at its highest, per formula cell, beside the loaded workbook.
    state.counters["peak_bytes/formula"] = peak_per_formula;
}
BENCHMARK(BM_ChainSave)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// LibreOffice opening the file the benchmark above wrote (it runs first) and recalculating.
void BM_LibreOfficeChainLoadAndRecalculate(benchmark::State& state) {
    bench::libreoffice(state, "load", state.range(0));
}
BENCHMARK(BM_LibreOfficeChainLoadAndRecalculate)
    ->Arg(1000000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
