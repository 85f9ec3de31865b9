#ifndef OMBRIX_IO_XLSXCELLXML_HPP
#define OMBRIX_IO_XLSXCELLXML_HPP

// How the saver writes a worksheet's cells as XML, shared by the editing of a sheet read from a
// file and the writing of a new one.

#include "engine/Workbook.hpp"
#include "io/Address.hpp"
#include "io/XlsxMetadata.hpp"
#include "io/Xml.hpp"

#include <string>

namespace host::io {

// Removes the child elements of `node` with the local name `name`.
void remove_children(pugi::xml_node node, const char* name);
void set_attribute(pugi::xml_node node, const char* name, const char* value);
// Writes `value` into a <c> element: the <v> (after the <f>, if any) or, for a text
// constant, an inline string; and the matching t attribute. Other attributes stay. #SPILL!
// and #CALC! are written as #VALUE! with the vm that `metadata` gives them.
void write_value(pugi::xml_node c, const std::string& prefix, const engine::Value& value, bool formula,
                 SavedMetadata& metadata);
// Whether <f> is a data table's.
bool is_table_formula(const pugi::xml_node& f);
// Writes the formula of the workbook's cell `at` (at `a` in the file) into a <c> element; a
// spilling one gets its dynamic-array mark (cm) from `metadata`.
void write_formula(pugi::xml_node c, const std::string& prefix, const engine::Workbook& book,
                   const engine::CellAddress& at, Address a, SavedMetadata& metadata);
// The <c> element of the workbook's cell `at` (at `a` in the file), holding `value`, appended
// to `out` as text: what a new <c> given write_formula() and write_value() is written as,
// byte for byte, without building it as a document (a large sheet's would take many times the
// memory of its text).
void append_cell(std::string& out, const engine::Workbook& book, const engine::CellAddress& at, Address a,
                 const engine::Value& value, SavedMetadata& metadata);
// The range an array formula's <f> covers now ("B1:B3", or "B1").
std::string array_ref(const engine::Workbook& book, const engine::CellAddress& at, Address a);
// Formula text as the file holds it: newer functions typed without their prefix get it, and
// the characters XML cannot carry are _xHHHH_ escapes.
std::string formula_xml_text(const std::string& formula);
// Whether the engine's formula `held` is what loading read from the file's text `stored`
// (which then stays as the file wrote it).
bool formula_as_read(const char* stored, const std::string& held);

} // namespace host::io

#endif
