// xlEvaluateBatch: several candidates evaluated at once by a host that can. Asked with no
// arguments, it says whether the host can (and how many at once); asked with the cells to
// write (one or more references), one row of values per candidate, and the cells to read (one
// or more references), it answers a row of the read values per candidate. The spreadsheet
// refuses it as an unknown function, and the add-in then writes and reads one candidate at a
// time.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

namespace {

std::vector<engine::CellAddress> cells_of(const Area& a) {
    std::vector<engine::CellAddress> cells;
    cells.reserve(a.cells());
    for (int r = 0; r < a.rows(); ++r)
        for (int c = 0; c < a.columns(); ++c)
            cells.push_back(a.cell(r, c));
    return cells;
}

} // namespace

int Dispatch::evaluate_batch() {
    if (!host.batch_)
        refuse(xlretInvXlfn);
    if (count == 0) {
        out = num_value(host.batch_->workers());
        return xlretSuccess;
    }
    if (count < 3)
        refuse(xlretInvCount);
    // The references before the rows are written, each in turn; those after them are read.
    int at_rows = 0;
    while (at_rows < count && type(at_rows) != xltypeMulti)
        ++at_rows;
    if (at_rows == 0 || at_rows + 1 >= count)
        refuse(xlretFailed);
    std::vector<engine::CellAddress> write, read;
    std::vector<std::size_t> write_ends; // where each reference's cells end in `write`
    for (int i = 0; i < count; ++i) {
        if (i == at_rows)
            continue;
        if (!is_reference(type(i)))
            refuse(xlretFailed);
        const Area a = area_of(arg(i));
        check_block(a);
        const std::vector<engine::CellAddress> cells = cells_of(a);
        std::vector<engine::CellAddress>& to = i < at_rows ? write : read;
        to.insert(to.end(), cells.begin(), cells.end());
        if (i < at_rows)
            write_ends.push_back(write.size());
        if (to.size() > 65535)
            refuse(xlretFailed);
    }

    const XLOPER& m = arg(at_rows);
    const std::size_t n = multi_size(m);
    if (static_cast<std::size_t>(m.val.array.columns) != write.size() || n / write.size() > max_block_cells ||
        n / write.size() * read.size() > max_block_cells)
        refuse(xlretFailed);
    std::vector<std::vector<Value>> rows(static_cast<std::size_t>(m.val.array.rows));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < write.size(); ++c)
            rows[r].push_back(scalar_of(m.val.array.lparray[r * write.size() + c]));

    std::vector<std::vector<Value>> results;
    if (!host.batch_->evaluate(book(), write, rows, read, results) || results.size() != rows.size())
        refuse(xlretFailed);

    // As if each candidate had been written, a reference at a time, and its first cell read in
    // turn; the book holds the last candidate, as that sequence leaves it. The evaluation is
    // recorded with all the cells written, as the book no longer holds the candidate's.
    std::vector<std::pair<engine::CellAddress, Value>> cells(write.size()), part;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < write.size(); ++c)
            cells[c] = {write[c], rows[r][c]};
        for (std::size_t k = 0; k + 1 < write_ends.size(); ++k) {
            part.assign(cells.begin() + static_cast<std::ptrdiff_t>(k == 0 ? 0 : write_ends[k - 1]),
                        cells.begin() + static_cast<std::ptrdiff_t>(write_ends[k]));
            host.record_write(part);
        }
        host.record_evaluation(cells, read[0], results[r][0]);
    }

    XLOPER* elements = start_array(static_cast<int>(rows.size()), static_cast<int>(read.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < read.size(); ++c)
            put(results[r][c], elements[r * read.size() + c], elements);
    return xlretSuccess;
}

} // namespace host::api
