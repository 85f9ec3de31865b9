#ifndef OMBRIX_SOLVER_CELLSNAPSHOT_HPP
#define OMBRIX_SOLVER_CELLSNAPSHOT_HPP

#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"

// The contents of a block of cells, taken before a run overwrites them, so that a run that
// fails part-way can put the user's inputs back. Whatever the cells hold is kept as the
// spreadsheet reports it (numbers, text, booleans, errors, empty), not only numbers; a
// formula in a variable cell is lost to the run in any case.
class CellSnapshot {
public:
    // Reads the block; a block that cannot be read leaves the snapshot empty.
    explicit CellSnapshot(const excel::RangeRef& cells);

    CellSnapshot(const CellSnapshot&) = delete;
    CellSnapshot& operator=(const CellSnapshot&) = delete;

    // Whether the contents were read.
    bool taken() const { return saved.live; }

    // Writes the contents back in one set; true when the spreadsheet accepted them. Never
    // throws: it runs while another failure is on its way to the user.
    bool restore() const;

private:
    excel::Range range;
    excel::Range::XLOperHandle saved;
};

#endif
