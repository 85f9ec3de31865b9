// Feeds arbitrary bytes to the .xlsx reader, then recalculates and writes the workbook back.
// Bytes that start like a zip archive are a whole package; anything else is taken as the
// XML of the first worksheet of an otherwise valid package, so that mutations reach the
// worksheet parser even when they would break the archive. Bad input must end in
// io::IoError (or another std::exception), never a crash, a hang or a leak.
#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

const char* const rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string package_with_sheet(const std::string& sheet_xml) {
    host::io::PackageWriter writer("fuzz.xlsx");
    writer.add("_rels/.rels", std::string("<Relationships><Relationship Id=\"rId1\" Type=\"") + rel +
                                  "/officeDocument\" Target=\"/xl/workbook.xml\"/></Relationships>");
    writer.add("xl/workbook.xml", std::string("<workbook xmlns:r=\"") + rel +
                                      "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"T\" "
                                      "sheetId=\"2\" r:id=\"rId2\"/></sheets><definedNames><definedName name=\"n\">"
                                      "S!$A$1</definedName></definedNames></workbook>");
    writer.add("xl/_rels/workbook.xml.rels",
               std::string("<Relationships><Relationship Id=\"rId1\" Type=\"") + rel +
                   "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
                   "Type=\"" +
                   rel +
                   "/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
                   "<Relationship Id=\"rId3\" Type=\"" +
                   rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>");
    writer.add("xl/sharedStrings.xml", "<sst><si><t>a</t></si><si><r><t>b</t></r></si></sst>");
    writer.add("xl/worksheets/sheet1.xml", sheet_xml);
    writer.add("xl/worksheets/sheet2.xml",
               "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><f>S!A1+n</f></c></row></sheetData></worksheet>");
    return writer.finish();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        if (bytes.size() < 2 || bytes.compare(0, 2, "PK") != 0)
            bytes = package_with_sheet(bytes);
        host::io::Document document = host::io::load_xlsx_bytes("fuzz.xlsx", std::move(bytes));
        document.workbook.recalculate_all();
        host::io::xlsx_bytes(document, "out.xlsx");
    } catch (const std::exception&) {
        // Rejected input: what the reader must do with it.
    }
    return 0;
}
