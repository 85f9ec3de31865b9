// How the saver writes a worksheet's cells as XML: the value, the formula and their attributes
// of one <c> element.
#include "io/XlsxCellXml.hpp"

#include "engine/FileForm.hpp"
#include "io/XlsxParts.hpp"

#include <algorithm>
#include <optional>
#include <string_view>

namespace host::io {

namespace {

bool needs_preserve(const std::string& text) {
    if (text.empty())
        return false;
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    return space(text.front()) || space(text.back());
}

// A data table's top-left cell: <f t="dataTable" ref=".." dt2D dtr r1 r2 del1/>, as the reader
// reads it back (its other cells hold values only).
void write_table_formula(pugi::xml_node f, const engine::DataTableDef& table) {
    const engine::CellRange& t = table.cells;
    std::string ref = engine::a1_name(t.first_row, t.first_col);
    if (t.size() > 1)
        ref += ":" + engine::a1_name(t.last_row, t.last_col);
    const bool two = table.has_row_input && table.has_column_input;
    f.append_attribute("t").set_value("dataTable");
    f.append_attribute("ref").set_value(ref.c_str());
    f.append_attribute("dt2D").set_value(two ? "1" : "0");
    f.append_attribute("dtr").set_value(table.has_row_input && !two ? "1" : "0");
    if (table.input_deleted)
        f.append_attribute("del1").set_value("1");
    const engine::CellAddress& first = table.has_row_input ? table.row_input : table.column_input;
    f.append_attribute("r1").set_value(engine::a1_name(first.row, first.col).c_str());
    if (two)
        f.append_attribute("r2").set_value(engine::a1_name(table.column_input.row, table.column_input.col).c_str());
}

// The same as text: the attributes of <f .../>.
void append_table_formula(std::string& out, const engine::DataTableDef& table) {
    const engine::CellRange& t = table.cells;
    const bool two = table.has_row_input && table.has_column_input;
    out += " t=\"dataTable\" ref=\"";
    out += engine::a1_name(t.first_row, t.first_col);
    if (t.size() > 1) {
        out += ':';
        out += engine::a1_name(t.last_row, t.last_col);
    }
    out += two ? "\" dt2D=\"1" : "\" dt2D=\"0";
    out += table.has_row_input && !two ? "\" dtr=\"1\"" : "\" dtr=\"0\"";
    if (table.input_deleted)
        out += " del1=\"1\"";
    const engine::CellAddress& first = table.has_row_input ? table.row_input : table.column_input;
    out += " r1=\"";
    out += engine::a1_name(first.row, first.col);
    out += '"';
    if (two) {
        out += " r2=\"";
        out += engine::a1_name(table.column_input.row, table.column_input.col);
        out += '"';
    }
}

} // namespace

void append_cell(std::string& out, const engine::Workbook& book, const engine::CellAddress& at, Address a,
                 const engine::Value& value, SavedMetadata& metadata) {
    out += "<c r=\"";
    out += format_address(a);
    out += '"';
    // The formula first, as write_formula() comes first: it may number a cm before the value
    // numbers a vm.
    const bool formula = book.is_formula(at);
    std::string f;
    if (formula) {
        f = "<f";
        if (std::optional<engine::DataTableDef> table = book.data_table(at)) {
            append_table_formula(f, *table);
            f += "/>";
        } else {
            if (book.is_array_formula(at)) {
                f += " t=\"array\" ref=\"";
                f += array_ref(book, at, a);
                f += '"';
                if (book.is_spilling_formula(at)) {
                    out += " cm=\"";
                    out += std::to_string(metadata.dynamic_array_cm());
                    out += '"';
                }
            }
            f += '>';
            append_xml_content(f, formula_xml_text(book.formula_text(at)), true);
            f += "</f>";
        }
    }
    const char* v = nullptr; // the <v> element's text, if any
    std::string text;
    switch (value.type()) {
    case engine::ValueType::Empty: break;
    case engine::ValueType::Number:
        text = engine::format_number(value.as_number());
        v = text.c_str();
        break;
    case engine::ValueType::Boolean:
        out += " t=\"b\"";
        v = value.as_boolean() ? "1" : "0";
        break;
    case engine::ValueType::Error:
        out += " t=\"e\"";
        if (SavedMetadata::is_rich(value.as_error())) {
            v = engine::error_text(engine::ErrorCode::Value);
            out += " vm=\"";
            out += std::to_string(metadata.error_vm(value.as_error()));
            out += '"';
        } else {
            v = engine::error_text(value.as_error());
        }
        break;
    case engine::ValueType::Text:
        text = encode_escapes(std::string(value.as_text()));
        if (formula || book.data_table(at)) {
            out += " t=\"str\"";
            v = text.c_str();
        } else {
            out += " t=\"inlineStr\">";
            out += f;
            out += needs_preserve(text) ? "<is><t xml:space=\"preserve\">" : "<is><t>";
            append_xml_content(out, text, true);
            out += "</t></is></c>";
            return;
        }
        break;
    }
    if (!v && f.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    out += f;
    if (v) {
        out += "<v>";
        append_xml_content(out, v, true);
        out += "</v>";
    }
    out += "</c>";
}

void remove_children(pugi::xml_node node, const char* name) {
    for (pugi::xml_node c = node.first_child(); c;) {
        pugi::xml_node next = c.next_sibling();
        if (c.type() == pugi::node_element && is(c, name))
            node.remove_child(c);
        c = next;
    }
}

void set_attribute(pugi::xml_node node, const char* name, const char* value) {
    pugi::xml_attribute a = node.attribute(name);
    if (!a)
        a = node.append_attribute(name);
    a.set_value(value);
}

// Writes `value` into a <c> element: the <v> (after the <f>, if any) or, for a text
// constant, an inline string; and the matching t attribute. Other attributes stay.
void write_value(pugi::xml_node c, const std::string& prefix, const engine::Value& value, bool formula,
                 SavedMetadata& metadata) {
    remove_children(c, "is");
    c.remove_attribute("vm"); // the metadata of the value it held
    pugi::xml_node v = child(c, "v");
    auto ensure_v = [&]() {
        if (!v) {
            pugi::xml_node f = child(c, "f");
            v = f ? c.insert_child_after((prefix + "v").c_str(), f) : c.prepend_child((prefix + "v").c_str());
        }
        return v;
    };
    switch (value.type()) {
    case engine::ValueType::Empty:
        if (v)
            c.remove_child(v);
        c.remove_attribute("t");
        break;
    case engine::ValueType::Number:
        c.remove_attribute("t");
        ensure_v().text().set(engine::format_number(value.as_number()).c_str());
        break;
    case engine::ValueType::Boolean:
        set_attribute(c, "t", "b");
        ensure_v().text().set(value.as_boolean() ? "1" : "0");
        break;
    case engine::ValueType::Error:
        set_attribute(c, "t", "e");
        if (SavedMetadata::is_rich(value.as_error())) {
            ensure_v().text().set(engine::error_text(engine::ErrorCode::Value));
            set_attribute(c, "vm", std::to_string(metadata.error_vm(value.as_error())).c_str());
        } else {
            ensure_v().text().set(engine::error_text(value.as_error()));
        }
        break;
    case engine::ValueType::Text: {
        std::string text = encode_escapes(std::string(value.as_text()));
        if (formula) {
            set_attribute(c, "t", "str");
            ensure_v().text().set(text.c_str());
        } else {
            if (v)
                c.remove_child(v);
            set_attribute(c, "t", "inlineStr");
            pugi::xml_node is_node;
            pugi::xml_node f = child(c, "f");
            is_node = f ? c.insert_child_after((prefix + "is").c_str(), f) : c.prepend_child((prefix + "is").c_str());
            pugi::xml_node t = is_node.append_child((prefix + "t").c_str());
            if (needs_preserve(text))
                t.append_attribute("xml:space").set_value("preserve");
            t.text().set(text.c_str());
        }
        break;
    }
    }
}

bool is_table_formula(const pugi::xml_node& f) {
    return f && std::string_view(f.attribute("t").value()) == "dataTable";
}

std::string array_ref(const engine::Workbook& book, const engine::CellAddress& at, Address a) {
    const engine::ArrayExtent extent = book.array_extent(at);
    const Address last{a.row + std::uint32_t(std::max(extent.rows, 1)) - 1,
                       a.column + std::uint32_t(std::max(extent.cols, 1)) - 1};
    std::string ref = format_address(a);
    if (!(last == a))
        ref += ":" + format_address(last);
    return ref;
}

std::string formula_xml_text(const std::string& held) {
    std::string formula = engine::formula_for_file(held);
    // Most formulas hold nothing to escape.
    for (char ch : formula)
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x80 || ch == '_')
            return encode_escapes(formula, true);
    return formula;
}

bool formula_as_read(const char* stored, const std::string& held) {
    std::string read = decode_formula_escapes(stored);
    if (read == held)
        return true;
    return engine::unknown_unprefixed_calls(read) && read == held;
}

void write_formula(pugi::xml_node c, const std::string& prefix, const engine::Workbook& book,
                   const engine::CellAddress& at, Address a, SavedMetadata& metadata) {
    remove_children(c, "f");
    pugi::xml_node f = c.prepend_child((prefix + "f").c_str());
    if (std::optional<engine::DataTableDef> table = book.data_table(at)) {
        write_table_formula(f, *table);
        return;
    }
    if (book.is_array_formula(at)) {
        f.append_attribute("t").set_value("array");
        f.append_attribute("ref").set_value(array_ref(book, at, a).c_str());
        if (book.is_spilling_formula(at))
            set_attribute(c, "cm", std::to_string(metadata.dynamic_array_cm()).c_str());
    }
    f.text().set(formula_xml_text(book.formula_text(at)).c_str());
}

} // namespace host::io
