// Loading and fully recalculating a 100,000-cell .xlsx workbook, as `ombrix calc` does:
// 50,000 numbers and 50,000 formulas over them, written the way the spreadsheet program
// writes a filled-down column (one shared formula) and the way LibreOffice and openpyxl
// write it (every formula in full). Also reports the memory the loaded workbook holds.
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

const int rows = 50000;

std::string book(bool shared) {
    const char* rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::string sheet = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    for (int r = 1; r <= rows; ++r) {
        std::string n = std::to_string(r);
        sheet += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + std::to_string(r % 97) + ".5</v></c>";
        if (!shared) {
            sheet += "<c r=\"B" + n + "\"><f>A" + n + "*2+IF(A" + n + "&gt;50,1,0)</f><v>0</v></c>";
        } else if (r == 1) {
            sheet += "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B" + std::to_string(rows) +
                     "\" si=\"0\">A1*2+IF(A1&gt;50,1,0)</f><v>0</v></c>";
        } else {
            sheet += "<c r=\"B" + n + "\"><f t=\"shared\" si=\"0\"/><v>0</v></c>";
        }
        sheet += "</row>";
    }
    sheet += "</sheetData></worksheet>";
    host::io::PackageWriter writer("bench.xlsx");
    writer.add("_rels/.rels", std::string("<Relationships><Relationship Id=\"rId1\" Type=\"") + rel +
                                  "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    writer.add("xl/workbook.xml", std::string("<workbook xmlns:r=\"") + rel +
                                      "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    writer.add("xl/_rels/workbook.xml.rels", std::string("<Relationships><Relationship Id=\"rId1\" Type=\"") + rel +
                                                 "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    writer.add("xl/worksheets/sheet1.xml", sheet);
    return writer.finish();
}

long resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void load_and_recalculate(benchmark::State& state) {
    std::string bytes = book(state.range(0) != 0);
    double per_cell = 0;
    for (auto _ : state) {
        long before = resident_bytes();
        host::io::Document d = host::io::load_xlsx_bytes("bench.xlsx", bytes);
        d.workbook.recalculate_all();
        per_cell = std::max(per_cell, double(resident_bytes() - before) / (2.0 * rows));
        benchmark::DoNotOptimize(d.workbook.value({0, rows - 1, 1}));
    }
    state.counters["cells"] = 2.0 * rows;
    state.counters["file_bytes"] = double(bytes.size());
    // Resident memory gained while the workbook is loaded: a rough bound per cell.
    state.counters["bytes_per_cell"] = per_cell;
}

void save_back(benchmark::State& state) {
    host::io::Document d = host::io::load_xlsx_bytes("bench.xlsx", book(true));
    d.workbook.recalculate_all();
    for (auto _ : state)
        benchmark::DoNotOptimize(host::io::xlsx_bytes(d, "out.xlsx"));
}

} // namespace

BENCHMARK(load_and_recalculate)->Arg(1)->Arg(0)->ArgNames({"shared"})->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(save_back)->Unit(benchmark::kMillisecond)->Iterations(5);
