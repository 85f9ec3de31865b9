#ifndef OMBRIX_APP_MANIFEST_HPP
#define OMBRIX_APP_MANIFEST_HPP

// A batch's manifest: a CSV table with one solve a row, read into the arguments of
// `ombrix solve`; which row a task runs; and the small JSON reader that merges the rows'
// results.

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app {

// A manifest that cannot be read: the message names the line or the column.
class ManifestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The fields of each record of CSV text (RFC 4180: quotes around a field that holds commas,
// quotes or line breaks, "" for a quote; CRLF or LF). Blank lines are skipped; a quote inside
// a field that does not begin with one is kept as it is, as spreadsheet programs read it.
std::vector<std::vector<std::string>> csv_records(std::string_view text);

// A field as a CSV line holds it: quoted when it needs to be.
std::string csv_field(const std::string& text);

// Words as a POSIX shell splits them: blanks separate, '...' keeps everything, "..." keeps all
// but \" and \\, a backslash outside quotes keeps the next character.
std::vector<std::string> shell_words(std::string_view text);

struct ManifestRow {
    std::size_t number = 0; // 1 for the first row under the header
    std::string name;
    std::string workbook;               // as the manifest gives it
    std::string output;                 // as the manifest gives it; empty: the results directory's
    std::vector<std::string> arguments; // solve's flags, in the columns' order
};

// Reads a manifest. The header names the columns: workbook (required), output, name, flags
// (solve's flags as a shell would split them), inputs (CELL=VALUE items separated by ';',
// each a --set) and any flag of solve itself (--seed, --var...; a flag that takes no value is
// given by a cell reading true, yes or 1). takes_value tells solve's flags apart (see
// solve_flag_takes_value()). Flags that decide where the row's results go are refused.
std::vector<ManifestRow> parse_manifest(std::string_view text,
                                        const std::function<std::optional<bool>(const std::string&)>& takes_value);

// The row a task runs when --task is not given, from the environment a scheduler sets (get
// returns a variable's value or null): PARALLEL_SEQ (GNU parallel, from 1), then
// JOB_COMPLETION_INDEX (Kubernetes indexed jobs, from 0, so row index + 1), then
// SLURM_ARRAY_TASK_ID (Slurm job arrays, the number given to --array, taken as the row).
// The first one set wins; `source` says which. Throws ManifestError for a value that is no
// row number.
std::optional<std::size_t> task_from_environment(const std::function<const char*(const char*)>& get,
                                                 std::string* source = nullptr);

// A JSON value as read: numbers keep their text, so they are copied exactly.
struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    std::string text; // a string's contents, a number's text, "true"/"false"
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;
    const JsonValue* find(const std::string& key) const;
};
// Throws std::runtime_error on text that is not one JSON value.
JsonValue parse_json(std::string_view text);

} // namespace app

#endif
