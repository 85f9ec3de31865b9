#include "io/Address.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <string>

using host::io::IoError;
using host::io::Package;
using host::io::PackageWriter;
using testing_packages::zip;

namespace {

TEST(PackageResolve, RelativeAbsoluteAndDotSegments) {
    const struct {
        const char *source, *target, *expected;
    } cases[] = {
        {"xl/workbook.xml", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
        {"xl/workbook.xml", "/xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
        {"xl/worksheets/sheet1.xml", "../comments1.xml", "xl/comments1.xml"},
        {"xl/worksheets/sheet1.xml", "../drawings/./vmlDrawing1.vml", "xl/drawings/vmlDrawing1.vml"},
        {"", "/xl/workbook.xml", "xl/workbook.xml"},
        {"xl/workbook.xml", "sheet%20one.xml", "xl/sheet one.xml"},
        {"xl/workbook.xml", "bad%2", "xl/bad%2"},
        {"xl/workbook.xml", "../../../up.xml", "up.xml"},
        {"xl/workbook.xml", "worksheets\\sheet2.xml", "xl/worksheets/sheet2.xml"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Package::resolve(c.source, c.target), c.expected) << c.source << " + " << c.target;
}

TEST(PackageRoundTrip, WrittenAndCopiedPartsReadBackInOrder) {
    std::string big(200000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 7)
        big[i] = char('a' + i % 26);
    const char* rels = "<Relationships><Relationship Id=\"r9\" Type=\"t/hyperlink\" "
                       "Target=\"http://example.invalid/a%20b\" TargetMode=\"External\"/></Relationships>";
    Package p("t.xlsx", zip({{"b.xml", "<b/>"}, {"a/c.bin", big}, {"empty", ""}, {"_rels/b.xml.rels", rels}}));
    ASSERT_EQ(p.entries(), (std::vector<std::string>{"b.xml", "a/c.bin", "empty", "_rels/b.xml.rels"}));
    EXPECT_EQ(p.read("b.xml"), "<b/>");
    EXPECT_EQ(p.read("a/c.bin"), big);
    EXPECT_EQ(p.read("empty"), "");
    // Part names are case insensitive.
    EXPECT_EQ(p.find("A/C.BIN"), "a/c.bin");
    EXPECT_TRUE(p.has("B.xml"));
    EXPECT_FALSE(p.has("c.bin"));
    // External relationship targets stay as written.
    auto links = p.relationships("b.xml");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_TRUE(links[0].external && links[0].id == "r9");
    EXPECT_EQ(links[0].target, "http://example.invalid/a%20b");

    PackageWriter writer("copy.xlsx");
    writer.copy(p, "a/c.bin");
    writer.add("new.xml", "<new/>");
    writer.copy(p, "b.xml");
    Package copy("copy.xlsx", writer.finish());
    EXPECT_EQ(copy.entries(), (std::vector<std::string>{"a/c.bin", "new.xml", "b.xml"}));
    EXPECT_EQ(copy.read("a/c.bin"), big);
    EXPECT_EQ(copy.read("b.xml"), "<b/>");
    EXPECT_THROW(writer.copy(p, "b.xml"), std::exception);
}

// Folders separated by '\\', as some writers store them, read as '/' (as the spreadsheet's
// repair reads them); a copy is written with '/'.
TEST(PackageNames, BackslashesSeparateFolders) {
    const struct {
        std::vector<std::string> stored, read;
    } cases[] = {
        {{"a\\b.xml", "c\\d\\e.xml", "f/g.xml"}, {"a/b.xml", "c/d/e.xml", "f/g.xml"}},
        {{"x\\y.xml", "x/y.xml", "z.xml"}, {"x/y.xml", "z.xml"}}, // the first of two that read the same
    };
    for (const auto& c : cases) {
        testing_packages::Parts parts;
        for (const std::string& name : c.stored)
            parts.push_back({name, "<" + std::to_string(parts.size()) + "/>"});
        Package p("t.xlsx", zip(parts));
        EXPECT_EQ(p.entries(), c.read);
        EXPECT_EQ(p.read(c.read.front()), "<0/>");
        EXPECT_EQ(p.read(c.read.back()), "<" + std::to_string(c.stored.size() - 1) + "/>");
        PackageWriter writer("copy.xlsx");
        for (const std::string& entry : p.entries())
            writer.copy(p, entry);
        EXPECT_EQ(Package("copy.xlsx", writer.finish()).entries(), c.read);
    }

    // A whole workbook stored so reads and saves as any other.
    const std::string path = testing_packages::corpus("backslashes.xlsx");
    host::io::Document d = host::io::load_xlsx(path);
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.value({0, 1, 0}), host::engine::Value::number(10));
    EXPECT_EQ(d.workbook.value({0, 1, 1}), host::engine::Value::text("backslash!"));
    const std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");
    EXPECT_EQ(Package("saved.xlsx", bytes).entries(), Package(path, host::io::read_file(path)).entries());
    EXPECT_EQ(bytes.find("xl\\"), std::string::npos) << "the names are written with '/'";
}

TEST(PackageErrors, NotAZipOrNoFileNamesTheFile) {
    for (const std::string& bytes : {std::string(), std::string("hello, world"), std::string("PK\x03\x04garbage", 11)})
        EXPECT_EQ(testing_packages::io_failure([&] {
                      Package("book.xlsx", bytes);
                  }).rfind("book.xlsx: not an .xlsx workbook", 0),
                  0u)
            << bytes.size() << " bytes";
    EXPECT_THROW(host::io::read_file("/nonexistent/dir/book.xlsx"), IoError);
    EXPECT_THROW(host::io::read_file("/"), IoError);
}

TEST(Address, ParseAndFormat) {
    using host::io::A1Parse;
    using host::io::Address;
    struct Case {
        const char* text;
        A1Parse result;
        std::uint32_t row, column;
    } cases[] = {
        {"A1", A1Parse::Ok, 0, 0},
        {"$B$7", A1Parse::Ok, 6, 1},
        {"b7", A1Parse::Ok, 6, 1},
        {"XFD1048576", A1Parse::Ok, 1048575, 16383},
        {"XFE1", A1Parse::OffSheet, 0, 0},
        {"A1048577", A1Parse::OffSheet, 0, 0},
        {"ZZZZZZZZ99999999999999", A1Parse::OffSheet, 0, 0},
        {"A0", A1Parse::Malformed, 0, 0},
        {"1A", A1Parse::Malformed, 0, 0},
        {"A", A1Parse::Malformed, 0, 0},
        {"A1B", A1Parse::Malformed, 0, 0},
        {"", A1Parse::Malformed, 0, 0},
    };
    for (const Case& c : cases) {
        Address a;
        EXPECT_EQ(host::io::parse_address(c.text, a), c.result) << c.text;
        if (c.result == A1Parse::Ok) {
            EXPECT_EQ(a, (Address{c.row, c.column})) << c.text;
        }
    }
    for (std::uint32_t col : {0u, 25u, 26u, 701u, 702u, 16383u}) {
        Address a{41, col}, back;
        ASSERT_EQ(host::io::parse_address(host::io::format_address(a), back), A1Parse::Ok);
        EXPECT_EQ(back, a);
    }
    host::io::Block b;
    ASSERT_EQ(host::io::parse_block("C3:A1", b), A1Parse::Ok);
    EXPECT_EQ(b.first, (Address{0, 0}));
    EXPECT_EQ(b.last, (Address{2, 2}));
}

} // namespace
