// Workbooks that would cost too much to load, that hold formulas the engine cannot read, or
// that are damaged or encrypted packages.
#include "TestPackages.hpp"

#include "io/IoError.hpp"
#include "io/Xlsx.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace testing_packages;
using host::io::LoadLimits;
namespace engine = host::engine;

std::string load_failure(const std::string& bytes, const LoadLimits& limits = LoadLimits()) {
    return io_failure([&] { host::io::load_xlsx_bytes("book.xlsx", bytes, limits); });
}

// Rows of one cell each, without positions: the shape of a zip bomb's sheet.
std::string unnumbered_cells(std::size_t rows) {
    std::string xml;
    for (std::size_t i = 0; i < rows; ++i)
        xml += "<row><c><v>1</v></c></row>";
    return xml;
}

LoadLimits with(std::size_t LoadLimits::*limit, std::size_t value) {
    LoadLimits limits;
    limits.*limit = value;
    return limits;
}

TEST(LoadLimits, AWorkbookBeyondALimitIsRefusedNamingTheLimit) {
    const std::string one_sheet = zip(workbook_parts({{"Big", unnumbered_cells(5000)}}));
    const std::string two_sheets = zip(workbook_parts({{"A", unnumbered_cells(3000)}, {"B", unnumbered_cells(3000)}}));
    std::string strings;
    for (int i = 0; i < 5000; ++i)
        strings += "<si><t>s</t></si>";
    const std::string many_strings = zip(workbook_parts({{"Small", "<row><c t=\"s\"><v>0</v></c></row>"}}, strings));
    // A data table computes every cell it covers, whether or not the file holds them: A1 the
    // input, the table at B2 over `ref`.
    auto data_table = [](const std::string& ref, const std::string& more_cells = std::string()) {
        return zip(workbook_parts(
            {{"T", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c r=\"B2\">"
                   "<f t=\"dataTable\" ref=\"" +
                       ref + "\" dt2D=\"1\" dtr=\"1\" r1=\"A1\" r2=\"A1\"/><v>0</v></c>" + more_cells}}));
    };
    const std::string whole_sheet_table = data_table("B2:XFD1048574", "</row>");
    const std::string sparse_table = data_table("B2:D4", "</row>");
    const std::string written_table = data_table("B2:C3", "<c r=\"C2\"><v>0</v></c></row><row r=\"3\"><c "
                                                          "r=\"B3\"><v>0</v></c><c r=\"C3\"><v>0</v></c></row>");
    const std::string tall_table = data_table("B2:K1001", "</row>");
    // A link's copy of another workbook's cells holds cells too.
    std::string copied;
    for (int i = 1; i <= 5000; ++i)
        copied += "<row r=\"" + std::to_string(i) + "\"><cell r=\"A" + std::to_string(i) + "\"><v>1</v></cell></row>";
    Parts link_parts = workbook_parts({{"L", "<row r=\"1\"><c r=\"A1\"><f>[1]S!A1</f><v>1</v></c></row>"}}, "",
                                      "<externalReferences><externalReference r:id=\"rIdL\"/></externalReferences>");
    for (auto& part : link_parts)
        if (part.first == "xl/_rels/workbook.xml.rels")
            part.second.insert(part.second.rfind("</Relationships>"),
                               std::string("<Relationship Id=\"rIdL\" Type=\"") + rel_ns +
                                   "/externalLink\" Target=\"externalLinks/externalLink1.xml\"/>");
    link_parts.emplace_back("xl/externalLinks/externalLink1.xml",
                            "<externalLink xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                            "<externalBook><sheetNames><sheetName val=\"S\"/></sheetNames><sheetDataSet>"
                            "<sheetData sheetId=\"0\">" +
                                copied + "</sheetData></sheetDataSet></externalBook></externalLink>");
    const std::string linked = zip(link_parts);
    struct Case {
        const std::string& bytes;
        LoadLimits limits;
        const char* message;
    };
    const Case cases[] = {
        // Counted exactly, while the text arrives piece by piece.
        {one_sheet, with(&LoadLimits::max_cells, 4999),
         "book.xlsx: sheet 'Big': the workbook is too large: more than 4999 cells"},
        // Counted over all sheets.
        {two_sheets, with(&LoadLimits::max_cells, 5000),
         "book.xlsx: sheet 'B': the workbook is too large: more than 5000 cells"},
        {one_sheet, with(&LoadLimits::max_unpacked_bytes, 20000),
         "book.xlsx: sheet 'Big': the workbook is too large: its parts unpack to more than 20000 bytes (the limit was "
         "crossed reading part xl/worksheets/sheet1.xml)"},
        {one_sheet, with(&LoadLimits::max_memory, std::size_t(1) << 20),
         "book.xlsx: sheet 'Big': the workbook is too large: loading it would take more than the "
         "1 MiB of memory allowed (the limit was crossed in this sheet)"},
        // Shared strings cost memory too, before any sheet is read.
        {many_strings, with(&LoadLimits::max_memory, std::size_t(1) << 20),
         "book.xlsx: the workbook is too large: loading it would take more than the 1 MiB of "
         "memory allowed (the limit was crossed reading part xl/sharedStrings.xml)"},
        // A 2 KB file whose data table covers most of the sheet, at the default limits.
        {whole_sheet_table, LoadLimits(),
         "book.xlsx: sheet 'T', cell B2: the workbook is too large: more than 10000000 cells (the limit was crossed "
         "by the data table B2:XFD1048574, 17178771459 cells)"},
        // The table's nine cells beyond the two the file holds.
        {sparse_table, with(&LoadLimits::max_cells, 8),
         "book.xlsx: sheet 'T', cell B2: the workbook is too large: more than 8 cells (the limit was crossed by the "
         "data table B2:D4, 9 cells)"},
        {tall_table, with(&LoadLimits::max_memory, std::size_t(1) << 20),
         "book.xlsx: sheet 'T', cell B2: the workbook is too large: loading it would take more than the 1 MiB of "
         "memory allowed (the limit was crossed by the data table B2:K1001, 10000 cells)"},
        {linked, with(&LoadLimits::max_cells, 5000),
         "book.xlsx: the workbook is too large: more than 5000 cells (the limit was crossed reading part "
         "xl/externalLinks/externalLink1.xml)"},
        {linked, with(&LoadLimits::max_memory, std::size_t(1) << 20),
         "book.xlsx: the workbook is too large: loading it would take more than the 1 MiB of memory allowed (the "
         "limit was crossed reading part xl/externalLinks/externalLink1.xml)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(0u, load_failure(c.bytes, c.limits).find(c.message)) << c.message;
    // Within the limits the same workbooks load whole; a table's cells the file holds count once.
    EXPECT_EQ("", load_failure(sparse_table, with(&LoadLimits::max_cells, 9)));
    EXPECT_EQ("", load_failure(written_table, with(&LoadLimits::max_cells, 5)));
    EXPECT_EQ("", load_failure(tall_table));
    EXPECT_EQ("", load_failure(linked, with(&LoadLimits::max_cells, 5001)));
    host::io::Document loaded = host::io::load_xlsx_bytes("book.xlsx", one_sheet);
    EXPECT_EQ(1.0, loaded.workbook.value(engine::CellAddress{0, 4999, 0}).as_number());
    EXPECT_EQ("", load_failure(one_sheet, with(&LoadLimits::max_cells, 5000)));
    EXPECT_EQ("", load_failure(two_sheets, with(&LoadLimits::max_cells, 6000)));
    EXPECT_EQ("", load_failure(many_strings));
}

// The local and central headers of a part, found by its name.
std::size_t header_of(const std::string& bytes, const std::string& signature, const std::string& name,
                      std::size_t name_offset) {
    for (std::size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1))
        if (bytes.compare(at + name_offset, name.size(), name) == 0)
            return at;
    ADD_FAILURE() << name;
    return 0;
}

TEST(DamagedPackages, ADamagedOrEncryptedPackageSaysWhat) {
    const std::string good = zip(workbook_parts({{"Sheet1", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}}));
    const std::string part = "xl/worksheets/sheet1.xml";
    const std::size_t local = header_of(good, std::string("PK\3\4", 4), part, 30);
    const std::size_t central = header_of(good, std::string("PK\1\2", 4), part, 46);
    std::string local_only = good;
    local_only[local + 14] = char(local_only[local + 14] ^ 0x5a);
    std::string both = local_only;
    both[central + 16] = char(both[central + 16] ^ 0x5a);

    std::string compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    compound.resize(4096, '\0');
    struct Case {
        const std::string& bytes;
        const char* message;
    };
    const Case cases[] = {
        {local_only, "book.xlsx: the workbook is damaged: part xl/worksheets/sheet1.xml does not "
                     "match its checksum"},
        {both, "book.xlsx: sheet 'Sheet1': the workbook is damaged: part xl/worksheets/sheet1.xml does not match "
               "its checksum"},
        {compound, "book.xlsx: the workbook is encrypted (protected by a password); save it "
                   "without a password and try again"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.message, load_failure(c.bytes)) << c.message;
}

TEST(UnreadFormulas, AFormulaTheEngineCannotReadShowsNameAndTheRestLoads) {
    const std::string long_formula = std::string(30000, '1') + "+SUM(A1 +*2)";
    const char* const formulas[] = {"SUM(Sheet1:Sheet2!A1*2)", "(A1,B1)", "A1 +*2", "{1,A1}"};
    std::string row = "<row r=\"1\"><c r=\"A1\"><v>3</v></c><c r=\"B1\"><f>A1*2</f></c>";
    std::string columns = "CDEF";
    for (std::size_t i = 0; i < 4; ++i)
        row += std::string("<c r=\"") + columns[i] + "1\"><f>" + formulas[i] + "</f><v>7</v></c>";
    row += "<c r=\"G1\"><f>" + long_formula + "</f></c></row>";
    // A shared formula whose anchor cannot be read: its other cells follow it.
    row += "<row r=\"2\"><c r=\"C2\"><f t=\"shared\" si=\"0\" ref=\"C2:C3\">(A1,B1)</f></c></row>"
           "<row r=\"3\"><c r=\"C3\"><f t=\"shared\" si=\"0\"/></c></row>";
    const std::string bytes = zip(workbook_parts({{"Sheet1", row}}));

    host::io::Document d = host::io::load_xlsx_bytes("book.xlsx", bytes);
    const engine::Value name = engine::Value::error(engine::ErrorCode::Name);
    for (const char* cell : {"C1", "D1", "E1", "F1", "G1", "C2", "C3"})
        EXPECT_EQ(name, d.workbook.value(cell_at(d.workbook, std::string("Sheet1!") + cell))) << cell;
    EXPECT_TRUE(d.workbook.is_formula(engine::CellAddress{0, 0, 1}));
    EXPECT_EQ(3.0, d.workbook.value(engine::CellAddress{0, 0, 0}).as_number());

    // One warning per formula, naming the cell and the text, a long text cut.
    ASSERT_EQ(6u, d.warnings.size());
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(0u, d.warnings[i].find(std::string("book.xlsx: warning: sheet 'Sheet1', cell ") + columns[i] +
                                         "1: formula does not parse: =" + formulas[i] + ": "))
            << d.warnings[i];
    EXPECT_EQ(0u, d.warnings[4].find("book.xlsx: warning: sheet 'Sheet1', cell G1: formula does not "
                                     "parse: =" +
                                     std::string(100, '1') + "... (30012 characters)"))
        << d.warnings[4].substr(0, 200);
    EXPECT_LT(d.warnings[4].size(), 300u);
    EXPECT_NE(std::string::npos, d.warnings[5].find("cell C2: "));

    // Saving leaves those formulas in the file as they were.
    host::io::Package saved("saved.xlsx", host::io::xlsx_bytes(d, "saved.xlsx"));
    const std::string sheet = saved.read("xl/worksheets/sheet1.xml");
    for (const char* f : formulas)
        EXPECT_NE(std::string::npos, sheet.find(f)) << f;
    EXPECT_NE(std::string::npos, sheet.find(long_formula));
    EXPECT_NE(std::string::npos, sheet.find("<f t=\"shared\" si=\"0\"/>"));
}

} // namespace
