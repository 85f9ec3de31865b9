#include "solver/ExcelObjFunc.hpp"

#include "excel/ExcelException.hpp"
#include "solver/Batch.hpp"

#include <charconv>
#include <cmath>

namespace {

std::string shortest(double v) {
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// "(x1, x2, ...)", cut short for long points so that a message stays readable.
std::string format_point(const std::vector<double>& point) {
    const std::size_t shown = 8;
    std::string text = "(";
    for (std::size_t j = 0; j < point.size() && j < shown; ++j)
        text += (j ? ", " : "") + shortest(point[j]);
    if (point.size() > shown)
        text += ", ... " + std::to_string(point.size() - shown) + " more";
    return text + ")";
}

const char* error_name(std::uint16_t code) {
    switch (code) {
    case 0: return "#NULL!";
    case 7: return "#DIV/0!";
    case 15: return "#VALUE!";
    case 23: return "#REF! (an invalid or circular reference)";
    case 29: return "#NAME?";
    case 36: return "#NUM!";
    case 42: return "#N/A";
    default: return "an error value";
    }
}

} // namespace

ExcelObjFunc::ExcelObjFunc(const excel::RangeRef& variables, const excel::CellRef& target)
    : range(variables), cell(target), target_text(target.to_string()), variables(variables) {}

double ExcelObjFunc::operator()(const std::vector<double>& x) const {
    // Taken here rather than when the run starts, so that a run the optimiser refuses
    // before its first candidate has nothing to put back and touches no cell.
    if (!inputs)
        inputs.reset(new CellSnapshot(variables));
    range.set(x);
    try {
        return cell.get_as_double();
    } catch (const excel::ExcelException& e) {
        throw excel::ExcelException(unreadable_objective(x), e);
    }
}

bool ExcelObjFunc::evaluate_batch(const std::vector<std::vector<double>>& points, std::vector<double>& values) const {
    const std::size_t n = static_cast<std::size_t>(range.width()) * static_cast<std::size_t>(range.height());
    if (batches == Batches::refused || points.size() < 2 || points.size() > 65535 || n > 65535)
        return false;
    if (batches == Batches::unknown) {
        batches = solver::spreadsheet_takes_batches() ? Batches::taken : Batches::refused;
        if (batches == Batches::refused)
            return false;
    }
    for (const std::vector<double>& x : points)
        if (x.size() != n)
            return false; // the one-at-a-time path says what is wrong

    solver::BatchRows rows(points, n);

    if (!inputs)
        inputs.reset(new CellSnapshot(variables));
    XLOPER read;
    read.xltype = xltypeNil;
    LPXLOPER args[] = {const_cast<LPXLOPER>(&range.ref), &rows.rows,
                       const_cast<LPXLOPER>(static_cast<const XLOPER*>(&cell))};
    if (Excel4v(xlEvaluateBatch, &read, 3, args) != xlretSuccess) {
        batches = Batches::refused;
        return false;
    }
    const bool shaped = read.xltype == xltypeMulti && read.val.array.lparray &&
                        static_cast<std::size_t>(read.val.array.rows) == points.size() && read.val.array.columns == 1;
    if (!shaped) {
        Excel4(xlFree, nullptr, 1, &read);
        throw excel::ExcelException("Failed to evaluate a batch of candidates: the answer has the wrong shape");
    }
    values.resize(points.size());
    std::size_t unreadable = points.size();
    for (std::size_t i = 0; i < points.size() && unreadable == points.size(); ++i) {
        // Read as the one-at-a-time path reads the cell: a number in text, a logical value.
        if (!solver::coerce_number(read.val.array.lparray[i], values[i]))
            unreadable = i;
    }
    Excel4(xlFree, nullptr, 1, &read);
    // Alone, from the first point that does not read as a number: that one fails there with
    // the objective's own message.
    for (std::size_t i = unreadable; i < points.size(); ++i)
        values[i] = (*this)(points[i]);
    return true;
}

bool ExcelObjFunc::restore_inputs() const { return inputs && inputs->restore(); }

std::string ExcelObjFunc::describe_value(const XLOPER& value) {
    switch (value.xltype & 0x0FFF) {
    case xltypeNum: return "the number " + shortest(value.val.num);
    case xltypeErr: return error_name(value.val.err);
    case xltypeBool: return value.val.xbool ? "TRUE" : "FALSE";
    case xltypeNil:
    case xltypeMissing: return "nothing (the cell is blank)";
    case xltypeStr: {
        if (!value.val.str)
            return "an empty text";
        const std::size_t length = static_cast<unsigned char>(value.val.str[0]);
        const std::size_t shown = 40;
        const std::string text(value.val.str + 1, length < shown ? length : shown);
        return "the text \"" + text + (length > shown ? "...\"" : "\"");
    }
    default: return "a value that is not a number";
    }
}

std::string ExcelObjFunc::unreadable_objective(const std::vector<double>& x) const {
    // The cell as it stands, without a target type, says what it held.
    XLOPER held;
    held.xltype = xltypeNil;
    std::string what = "a value that is not a number";
    if (Excel4(xlCoerce, &held, 1, const_cast<LPXLOPER>(static_cast<const XLOPER*>(&cell))) == xlretSuccess) {
        what = describe_value(held);
        Excel4(xlFree, nullptr, 1, &held);
    }
    return "Failed to get cell value as double: the objective cell " + target_text + " held " + what +
           " at the candidate point " + format_point(x);
}

void WorkbookGenerations::evaluate_all(const std::vector<std::vector<double>>& points,
                                       std::vector<math::opt::Evaluation>& results) const {
    std::vector<double> values;
    const bool together = f.evaluate_batch(points, values);
    results.resize(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double y = together ? values[i] : f(points[i]);
        results[i] = math::opt::Evaluation{minimise ? -y : y, 0.0};
    }
}
