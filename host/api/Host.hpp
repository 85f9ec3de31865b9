#ifndef OMBRIX_HOST_API_HOST_HPP
#define OMBRIX_HOST_API_HOST_HPP

#include "api/Memory.hpp"
#include "engine/Workbook.hpp"
#include "excel/framewrk/ExcelApi.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace host::api {

// Return codes the add-in never names but the spreadsheet gives: a function number it does
// not know, and a value record it cannot read.
constexpr int xlretInvXlfn = 2;
constexpr int xlretInvXloper = 8;

// The menu bar the add-in adds its menu to: the worksheet menu bar.
constexpr int worksheet_menu_bar = 10;

// A block of values the add-in handed in: a defined name's value, or a dialog table. Missing
// and empty elements are both empty values; 16-bit integers are numbers.
struct Table {
    int rows = 0;
    int columns = 0;
    std::vector<engine::Value> cells; // row by row

    const engine::Value& at(int row, int column) const {
        return cells[static_cast<std::size_t>(row * columns + column)];
    }
    engine::Value& at(int row, int column) { return cells[static_cast<std::size_t>(row * columns + column)]; }
};

// One procedure the add-in registered, with its register id.
struct Registration {
    double id = 0;
    // The arguments as given (module path, procedure, type text, function text, argument
    // text, macro type, category, shortcut, help topic, function help...); a missing
    // argument is an empty text. Always at least the first three entries.
    std::vector<std::string> arguments;

    const std::string& module() const { return arguments[0]; }
    const std::string& procedure() const { return arguments[1]; }
    const std::string& type_text() const { return arguments[2]; }
    // The argument at `index` (0-based) or "" when it was not given.
    std::string argument(std::size_t index) const {
        return index < arguments.size() ? arguments[index] : std::string();
    }
};

// A menu on a menu bar: its title and its items, each item the five columns of its row in
// the menu table (text, command, unused, status text, help).
struct Menu {
    std::string title;
    std::vector<std::vector<std::string>> items;
    bool builtin = false;
};

// An alert the add-in showed: its text and its type (1 a question, 2 a note, 3 an error).
struct Alert {
    std::string text;
    int type = 2;
};

// What the add-in did to the workbook's cells, for reporting a run from what really happened.
struct CellActivity {
    std::vector<engine::CellAddress> written; // each cell written, once, in the order first written
    std::uint64_t writes = 0;                 // calls that wrote cells
    // Cells read as one value right after a write (what the write was made for), and how often.
    std::map<engine::CellAddress, std::uint64_t> read_after_write;
};

// The front end's answers.
using AlertHandler = std::function<void(const Alert&)>;
// Shows a dialog: the table as the add-in built it (rows x 7: item code, x, y, width, height,
// text, initial value). Returns true for OK after writing each control's result into column
// 6 of its row; false for Cancel. List entries are under the defined name in column 5.
using DialogHandler = std::function<bool(Table& table)>;
// The status bar changed: the text the add-in shows there, or none when it gave the bar back.
using StatusHandler = std::function<void(const std::optional<std::string>& text)>;
// Whether the user asked to stop since the last time it was asked (as Esc does in the
// spreadsheet).
using BreakSource = std::function<bool()>;
// Whether the module exports the procedure; registration of one that does not fails.
using ProcedureResolver = std::function<bool(const std::string& module, const std::string& procedure)>;
// One evaluation: the cell read as one value right after a write, the value it held, and
// the cells and values of that write.
using EvaluationObserver =
    std::function<void(const engine::CellAddress& cell, const engine::Value& value,
                       const std::vector<std::pair<engine::CellAddress, engine::Value>>& written)>;

// Evaluates a batch of candidates (xlEvaluateBatch) for a host that can do several at once.
// It knows nothing of what the candidates are: for each row, the cells `write` take the row's
// values, the book recalculates, and the cells `read` are read.
class BatchEvaluator {
public:
    virtual ~BatchEvaluator() = default;
    // How many candidates it evaluates at once.
    virtual unsigned int workers() const = 0;
    // Every write the add-in made to `book` outside batches, so that copies stay in step.
    virtual void wrote(const std::vector<std::pair<engine::CellAddress, engine::Value>>& cells) = 0;
    // results gets rows.size() rows of read.size() values, and `book` ends holding the last
    // row, recalculated, as writing the rows in turn leaves it. False when this batch cannot be
    // evaluated apart from the book (a volatile cell is read, or a copy failed): nothing is
    // recorded and the add-in evaluates the candidates one at a time, each writing all cells.
    virtual bool evaluate(engine::Workbook& book, const std::vector<engine::CellAddress>& write,
                          const std::vector<std::vector<engine::Value>>& rows,
                          const std::vector<engine::CellAddress>& read,
                          std::vector<std::vector<engine::Value>>& results) = 0;

protected:
    BatchEvaluator() = default;
    BatchEvaluator(const BatchEvaluator&) = default;
    BatchEvaluator& operator=(const BatchEvaluator&) = default;
};

// One session of the add-in with the host: the workbook it works on, and everything it asked
// for that the workbook does not hold (registrations, menus, names, alerts). The callback
// entries have no context argument, so the session that answers them is a process-wide
// pointer (set_current_host).
//
// A write through the API is followed by a recalculation of what depends on it, as the
// spreadsheet does in automatic mode, whatever the workbook's own mode.
class Host {
public:
    explicit Host(engine::Workbook& workbook, std::string book_name = "Book1");
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    engine::Workbook& workbook() { return *workbook_; }
    const engine::Workbook& workbook() const { return *workbook_; }

    // The book name shown in sheet names: "[Book1]Sheet1".
    const std::string& book_name() const { return book_name_; }
    void set_book_name(std::string name) { book_name_ = std::move(name); }
    // The add-in file's full path, answered by xlGetName.
    const std::string& module_path() const { return module_path_; }
    void set_module_path(std::string path) { module_path_ = std::move(path); }
    // The program's version text (xlfGetWorkspace 2).
    const std::string& version() const { return version_; }
    void set_version(std::string text) { version_ = std::move(text); }
    // The cell that xlfCaller names (on the active sheet); none gives #REF!.
    void set_caller(std::optional<std::pair<std::uint16_t, std::uint8_t>> row_column) { caller_ = row_column; }

    void set_alert_handler(AlertHandler handler) { alert_handler_ = std::move(handler); }
    // Without a handler every dialog is cancelled.
    void set_dialog_handler(DialogHandler handler) { dialog_handler_ = std::move(handler); }
    void set_procedure_resolver(ProcedureResolver resolver) { resolver_ = std::move(resolver); }
    void set_status_handler(StatusHandler handler) { status_handler_ = std::move(handler); }
    void set_break_source(BreakSource source) { break_source_ = std::move(source); }
    void set_evaluation_observer(EvaluationObserver observer) { evaluation_observer_ = std::move(observer); }
    // Without one (as in the spreadsheet) xlEvaluateBatch is refused as unknown. Not owned.
    void set_batch_evaluator(BatchEvaluator* evaluator) { batch_ = evaluator; }

    // The status bar (xlcMessage): the add-in's text, none when the spreadsheet has the bar.
    const std::optional<std::string>& status() const { return status_; }
    void show_status(std::optional<std::string> text);
    // A break (xlAbort): once the source reports one it stays pending until the add-in
    // clears it. Answers whether one is pending, then clears it when asked.
    bool check_break(bool clear);

    // Sheet ids as the API carries them in xltypeRef values; 0 is never a sheet.
    IDSHEET sheet_id(int sheet) const;
    // The sheet of an id, -1 if none.
    int sheet_of(IDSHEET id) const;

    // What the add-in asked for.
    const std::vector<Registration>& registrations() const { return registrations_; }
    const Registration* find_registration(std::string_view procedure) const;
    // The menus of a bar in order, null for a bar that does not exist.
    const std::vector<Menu>* menu_bar(int bar) const;
    const std::vector<Alert>& alerts() const { return alerts_; }
    // A defined name's value (names ignore case), null if undefined.
    const Table* name_value(std::string_view name) const;
    std::size_t name_count() const { return names_.size(); }
    std::size_t dialogs_shown() const { return dialogs_shown_; }
    bool echo() const { return echo_; }

    const CellActivity& activity() const { return activity_; }
    void record_write(const std::vector<std::pair<engine::CellAddress, engine::Value>>& cells);
    void record_read(const engine::CellAddress& cell);
    // An evaluation made apart from the book: recorded as that write and that read.
    void record_evaluation(const std::vector<std::pair<engine::CellAddress, engine::Value>>& cells,
                           const engine::CellAddress& read, const engine::Value& value);

    // The memory handed out in results and not yet given back with xlFree.
    const Allocations& allocations() const { return allocations_; }

    // Answers one call, as Excel4v does. Never throws.
    int call(int xlfn, XLOPER* result, int count, XLOPER* const* args);

    // For tests of the add-in's failure paths: calls to function `xlfn` fail with `code`
    // once `after` of them have been answered (xlfn -1: none fail). Calls to it are counted
    // from the moment this is set.
    void fail_calls(int xlfn, int after, int code = xlretFailed) { fault_ = Fault{xlfn, after, code, 0}; }
    int calls_to_failing_function() const { return fault_.calls; }

private:
    friend struct Dispatch;

    struct Fault {
        int xlfn = -1, after = 0, code = 0, calls = 0;
    };
    // The code that fail_calls() set for this call, or xlretSuccess.
    int injected_fault(int xlfn);
    Fault fault_;

    engine::Workbook* workbook_;
    std::string book_name_;
    std::string module_path_;
    std::string version_ = "16.0";
    std::optional<std::pair<std::uint16_t, std::uint8_t>> caller_ = std::make_pair(std::uint16_t(0), std::uint8_t(0));
    AlertHandler alert_handler_;
    DialogHandler dialog_handler_;
    ProcedureResolver resolver_;
    StatusHandler status_handler_;
    BreakSource break_source_;
    EvaluationObserver evaluation_observer_;
    BatchEvaluator* batch_ = nullptr;
    std::optional<std::string> status_;
    bool break_pending_ = false;

    std::vector<Registration> registrations_;
    double next_register_id_ = 1;
    std::map<int, std::vector<Menu>> bars_;
    std::vector<Alert> alerts_;
    std::map<std::string, Table> names_; // keyed by the upper-case name
    std::size_t dialogs_shown_ = 0;
    bool echo_ = true;
    Allocations allocations_;
    CellActivity activity_;
    std::set<engine::CellAddress> written_;
    std::vector<engine::CellAddress> last_write_;
    std::vector<std::pair<engine::CellAddress, engine::Value>> last_values_;
    bool wrote_since_read_ = false;
    // Reused by writes so that a round trip does not allocate.
    std::vector<std::pair<engine::CellAddress, engine::Value>> pending_;
};

// The session that Excel4 / Excel4v answer; null: every call fails with xlretFailed.
void set_current_host(Host* host);
Host* current_host();

// Makes a session current for a scope and restores the previous one after.
class CurrentHost {
public:
    explicit CurrentHost(Host& host) : previous_(current_host()) { set_current_host(&host); }
    ~CurrentHost() { set_current_host(previous_); }
    CurrentHost(const CurrentHost&) = delete;
    CurrentHost& operator=(const CurrentHost&) = delete;

private:
    Host* previous_;
};

} // namespace host::api

#endif
