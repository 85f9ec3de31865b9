#include "excel/Dialog.hpp"

#include "excel/CellRef.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/RangeRef.hpp"
#include "excel/framewrk/ExcelApi.hpp"
#include "excel/framewrk/Framework.hpp"

#include <cstring>
#include <memory>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace excel {

namespace {

const std::size_t max_text = 255;

// Every string and array made for one display, released together whatever happens.
class Pools {
public:
    XLOPER xltype() {
        XLOPER x;
        x.xltype = xltypeNil;
        x.val.num = 0.0;
        return x;
    }
    XLOPER xltype(int n) {
        XLOPER x;
        x.xltype = xltypeNum;
        x.val.num = n;
        return x;
    }
    XLOPER xltype(const std::string& text) {
        // The lengths were checked before anything was built; this guards the length byte.
        if (text.size() > max_text)
            throw ExcelException("Dialog text longer than 255 characters");
        std::unique_ptr<char[]> s(new char[text.size() + 1]);
        s[0] = static_cast<char>(static_cast<unsigned char>(text.size()));
        std::memcpy(s.get() + 1, text.data(), text.size());
        XLOPER x;
        x.xltype = xltypeStr;
        x.val.str = s.get();
        strings.push_back(std::move(s));
        return x;
    }
    XLOPER* array(std::size_t count) {
        elements.emplace_back(new XLOPER[count ? count : 1]);
        return elements.back().get();
    }
    XLOPER* header() {
        headers.emplace_back(new XLOPER);
        return headers.back().get();
    }

private:
    std::vector<std::unique_ptr<char[]>> strings;
    std::vector<std::unique_ptr<XLOPER[]>> elements;
    std::vector<std::unique_ptr<XLOPER>> headers;
};

// The table block for the length of one call; the global heap on Windows, where the
// spreadsheet expects movable memory.
class TableBlock {
public:
    explicit TableBlock(std::size_t count) : count(count) {
#ifdef _WIN32
        handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, count * sizeof(XLOPER));
        cells = handle ? static_cast<XLOPER*>(GlobalLock(handle)) : nullptr;
        if (!cells) {
            if (handle)
                GlobalFree(handle);
            throw ExcelException("Dialog table memory failure");
        }
#else
        storage.reset(new XLOPER[count]);
        cells = storage.get();
#endif
        for (std::size_t i = 0; i < count; ++i) {
            cells[i].xltype = xltypeNil;
            cells[i].val.num = 0.0;
        }
    }
    ~TableBlock() {
#ifdef _WIN32
        GlobalUnlock(handle);
        GlobalFree(handle);
#endif
    }
    TableBlock(const TableBlock&) = delete;
    TableBlock& operator=(const TableBlock&) = delete;

    XLOPER* row(std::size_t r) { return cells + r * 7; }
    XLOPER* data() { return cells; }
    std::size_t size() const { return count; }

private:
    std::size_t count;
    XLOPER* cells;
#ifdef _WIN32
    HGLOBAL handle;
#else
    std::unique_ptr<XLOPER[]> storage;
#endif
};

bool to_bool(XLOPER x) {
    if ((x.xltype & 0x0FFF) != xltypeBool)
        throw ExcelException("xltype not a bool");
    return x.val.xbool != 0;
}

int to_int(XLOPER x) {
    // NaN and values past the int range are no position at all; converting them would be
    // undefined, so they are refused like any other non-number.
    if ((x.xltype & 0x0FFF) != xltypeNum || !(x.val.num > -2147483649.0 && x.val.num < 2147483648.0))
        throw ExcelException("xltype not an int");
    return static_cast<int>(x.val.num);
}

std::string to_string(XLOPER x) {
    switch (x.xltype & 0x0FFF) {
    case xltypeNil: return std::string();
    case xltypeStr:
        if (!x.val.str)
            return std::string();
        return std::string(x.val.str + 1, static_cast<unsigned char>(x.val.str[0]));
    default: throw ExcelException("xltype not a string");
    }
}

// The pieces of a list of references, split at commas outside quoted sheet names; one
// piece for a single reference.
std::vector<std::string> reference_pieces(const std::string& t) {
    std::vector<std::string> pieces(1);
    bool quoted = false;
    for (char c : t) {
        if (c == '\'')
            quoted = !quoted;
        if (c == ',' && !quoted)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    return pieces;
}

std::string canonical_reference(const std::string& t) {
    // Several ranges picked together come as a list, each in its own canonical form.
    const std::vector<std::string> pieces = reference_pieces(t);
    if (pieces.size() > 1) {
        std::string list;
        for (const std::string& piece : pieces) {
            if (piece.empty())
                throw ExcelException("Cell picker returned malformed");
            list += (list.empty() ? "" : ",") + canonical_reference(piece);
        }
        return list;
    }
    CellRef cell;
    if (CellRef::parse_ref(t, cell) == t.size())
        return cell.to_string();
    RangeRef range;
    if (RangeRef::parse_ref(t, range) == t.size())
        return range.to_string();
    throw ExcelException("Cell picker returned malformed");
}

// The canonical form can be longer than what was typed (quotes around a sheet name); one
// that no longer fits a dialog text would make every later display refuse itself.
std::string cellpicker_result(const std::string& label, const std::string& t) {
    if (t.empty())
        return t;
    std::string canonical = canonical_reference(t);
    if (canonical.size() > max_text)
        throw ExcelException("The reference given for " + label + " is too long: written in full (" +
                             canonical.substr(0, 24) + "...) it takes " + std::to_string(canonical.size()) +
                             " characters, at most " + std::to_string(max_text) + " fit");
    return canonical;
}

void check_length(const std::string& text) {
    if (text.size() > max_text) {
        std::string start = text.substr(0, 24);
        throw ExcelException("Dialog text longer than 255 characters: \"" + start + "...\"");
    }
}

bool has_entries(const Dialog::DialogControl& c) { return !c.items.empty(); }

} // namespace

Dialog::Dialog(const std::string& title) : title(title) {}

void Dialog::add_statictext(const std::string& text) {
    controls.push_back(DialogControl{text, std::string(), std::string(), static_text, {}});
}

void Dialog::add_editbox(const std::string& label, const std::string& initial) {
    controls.push_back(DialogControl{label, std::string(), initial, edit_box, {}});
}

void Dialog::add_cellpicker(const std::string& label, const std::string& initial) {
    controls.push_back(DialogControl{label, std::string(), initial, reference_box, {}});
}

void Dialog::add_checkbox(const std::string& label, bool checked) {
    controls.push_back(DialogControl{label, std::string(), checked ? "1" : "", check_box, {}});
}

void Dialog::add_listbox(const std::string& label, std::vector<std::string> items, const std::string& initial) {
    std::size_t position = 1;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == initial) {
            position = i + 1;
            break;
        }
    std::string name = unique_string();
    controls.push_back(DialogControl{label, name, std::to_string(position), drop_down, std::move(items)});
}

const Dialog::DialogControl& Dialog::control(unsigned int i) const {
    if (i >= controls.size())
        throw ExcelException("Dialog index out of bounds");
    return controls[i];
}

std::string Dialog::operator[](unsigned int i) const { return control(i).value; }

std::string Dialog::unique_string() {
    static unsigned long counter = 0;
    std::ostringstream s;
    s << "USTR" << counter++;
    return s.str();
}

bool Dialog::display(bool with_cancel) {
    // Refuse what the length byte cannot carry before anything is built or shown.
    check_length(title);
    for (const DialogControl& c : controls) {
        check_length(c.label);
        check_length(c.name);
        check_length(c.value);
        for (const std::string& item : c.items)
            check_length(item);
    }

    const std::size_t n = controls.size();
    int H = 0;
    for (const DialogControl& c : controls)
        H += has_entries(c) ? 2 + 10 * static_cast<int>(c.items.size()) : 20;

    const std::size_t first_control_row = with_cancel ? 3 : 2;
    const std::size_t rows = 2 * n + first_control_row;
    if (rows > 65535)
        throw ExcelException("Dialog has too many controls");

    Pools pools;
    TableBlock table(rows * 7);
    std::vector<std::string> defined;
    XLOPER result;
    result.xltype = xltypeNil;
    result.val.num = 0.0;
    bool have_result = false;

    auto cleanup = [&]() {
        if (have_result)
            Excel(xlFree, nullptr, 1, &result);
        have_result = false;
        for (const std::string& name : defined) {
            XLOPER x = pools.xltype(name);
            Excel(xlfSetName, nullptr, 1, &x);
        }
        defined.clear();
    };

    bool ok = false;
    try {
        XLOPER* r = table.row(0);
        r[3] = pools.xltype(430);
        r[4] = pools.xltype(H + 100);
        r[5] = pools.xltype(title);

        r = table.row(1);
        r[0] = pools.xltype(ok_button);
        r[1] = pools.xltype(50);
        r[2] = pools.xltype(H + 50);
        r[3] = pools.xltype(80);
        r[5] = pools.xltype(std::string("OK"));

        if (with_cancel) {
            r = table.row(2);
            r[0] = pools.xltype(cancel_button);
            r[1] = pools.xltype(150);
            r[2] = pools.xltype(H + 50);
            r[3] = pools.xltype(80);
            r[5] = pools.xltype(std::string("Cancel"));
        }

        int y = 20;
        for (std::size_t k = 0; k < n; ++k, y += 20) {
            const DialogControl& c = controls[k];
            r = table.row(first_control_row + 2 * k);
            r[0] = pools.xltype(static_text);
            r[1] = pools.xltype(10);
            r[2] = pools.xltype(y);
            r[3] = pools.xltype(430);
            r[5] = pools.xltype(c.label);

            r = table.row(first_control_row + 2 * k + 1);
            r[0] = pools.xltype(c.type);
            r[1] = pools.xltype(220);
            r[2] = pools.xltype(y);
            r[3] = pools.xltype(200);
            if (has_entries(c))
                r[4] = pools.xltype(10 * (static_cast<int>(c.items.size()) + 1));
            r[5] = pools.xltype(c.name);
            r[6] = pools.xltype(c.value);

            if (has_entries(c)) {
                XLOPER* entries = pools.array(c.items.size());
                for (std::size_t e = 0; e < c.items.size(); ++e)
                    entries[e] = pools.xltype(c.items[e]);
                XLOPER* list = pools.header();
                list->xltype = xltypeMulti;
                list->val.array.lparray = entries;
                list->val.array.rows = static_cast<std::uint16_t>(c.items.size());
                list->val.array.columns = 1;
                XLOPER name = pools.xltype(c.name);
                Excel(xlfSetName, nullptr, 2, &name, list);
                defined.push_back(c.name);
            }
        }

        XLOPER arg;
        arg.xltype = xltypeMulti;
        arg.val.array.lparray = table.data();
        arg.val.array.rows = static_cast<std::uint16_t>(rows);
        arg.val.array.columns = 7;
        Excel(xlfDialogBox, &result, 1, &arg);
        have_result = true;

        if ((result.xltype & 0x0FFF) == xltypeMulti) {
            // Read only what the answer holds: a short or narrow table is refused rather
            // than read past its end.
            if (!result.val.array.lparray || result.val.array.rows < rows || result.val.array.columns < 7)
                throw ExcelException("Dialog box returned a table of the wrong shape");
            const XLOPER* answer = result.val.array.lparray;
            const std::size_t width = result.val.array.columns;
            for (std::size_t i = 0; i < n; ++i) {
                DialogControl& c = controls[i];
                const XLOPER cell = answer[(first_control_row + 2 * i + 1) * width + 6];
                switch (c.type) {
                case static_text: break;
                case edit_box: c.value = to_string(cell); break;
                case reference_box: c.value = cellpicker_result(c.label, to_string(cell)); break;
                case check_box: c.value = to_bool(cell) ? "true" : "false"; break;
                case drop_down: {
                    int position = to_int(cell);
                    if (position < 1 || static_cast<std::size_t>(position) > c.items.size())
                        throw ExcelException("Drop-down list returned a choice outside its entries");
                    c.value = c.items[position - 1];
                    break;
                }
                default: display_dialog_box("Trying to process unsupported dialog box control!", 3); break;
                }
            }
            ok = true;
        }
    } catch (...) {
        cleanup();
        throw;
    }
    cleanup();
    return ok;
}

} // namespace excel
