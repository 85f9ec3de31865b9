// The model beyond a box of one range: the Model dialog and the run of such a model.
#include "solver/OmbrixImpl.hpp"

#include "excel/Dialog.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/Range.hpp"
#include "math/opt/Search.hpp"
#include "solver/Model.hpp"
#include "solver/ModelObjective.hpp"
#include "solver/RunStatus.hpp"

#include <boost/lexical_cast.hpp>
#include <boost/random/mersenne_twister.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <tuple>

namespace {

std::string shortest(double v) {
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string upper_case(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

typedef std::tuple<std::string, int, int> CellKey;

// Every cell of the ranges, in the order the variables take: range by range, row by row.
std::vector<excel::CellRef> cells_of(const std::vector<excel::RangeRef>& ranges) {
    std::vector<excel::CellRef> cells;
    for (const excel::RangeRef& r : ranges)
        for (int y = r.first.y; y < r.end.y; ++y)
            for (int x = r.first.x; x < r.end.x; ++x)
                cells.push_back(excel::CellRef(x, y, false, false, r.first.sheet, r.first.book));
    return cells;
}

CellKey key_of(const excel::CellRef& c) { return CellKey(upper_case(c.sheet), c.x, c.y); }

// The numbers of the cells of ranges, as many as the variables.
std::vector<double> read_bounds(const std::string& text, const std::string& name, std::size_t n) {
    std::vector<double> values;
    for (const excel::RangeRef& r : solver::parse_ranges(text, name)) {
        const excel::Range cells(r);
        std::vector<double> some;
        try {
            cells.get(some);
        } catch (const excel::ExcelException&) {
            throw excel::ExcelException("Failed to read " + name + " vector. Ensure all values are numbers");
        }
        values.insert(values.end(), some.begin(), some.end());
    }
    if (values.size() != n)
        throw excel::ExcelException(name + " vector has different size from variable vector");
    return values;
}

std::vector<double> read_side(const solver::Side& side, const std::string& constraint) {
    if (side.is_number)
        return std::vector<double>(1, side.number);
    std::vector<double> values;
    try {
        excel::Range(side.range).get(values);
    } catch (const excel::ExcelException&) {
        throw excel::ExcelException("The constraint \"" + constraint +
                                    "\" cannot be read: its right side must hold numbers");
    }
    return values;
}

// The model as the search sees it: maximised, its value negated when the goal is a minimum.
class Maximised : public math::opt::ConstrainedObjective {
public:
    Maximised(const math::opt::ConstrainedObjective& f, bool negate) : f_(f), negate_(negate) {}
    math::opt::Evaluation evaluate(const std::vector<double>& x) const override {
        math::opt::Evaluation e = f_.evaluate(x);
        if (negate_)
            e.value = -e.value;
        return e;
    }

private:
    const math::opt::ConstrainedObjective& f_;
    bool negate_;
};

} // namespace

bool OmbrixImpl::extended_model() const {
    for (const std::string& c : constraint_texts)
        if (!solver::split_list(c, ';').empty())
            return true;
    return !integer_text.empty() || !binary_text.empty() || !all_different_text.empty() ||
           solver::split_list(variable_text, ',').size() > 1;
}

void OmbrixImpl::model() {
    excel::Dialog dialog("Ombrix Model");
    dialog.add_statictext("Constraints: LHS <= RHS, LHS = RHS or LHS >= RHS, separated by semicolons");
    for (unsigned int i = 0; i < constraint_boxes; ++i)
        dialog.add_editbox("Constraints " + std::to_string(i + 1), constraint_texts[i]);
    dialog.add_statictext("");
    dialog.add_statictext("Whole-number variables:");
    dialog.add_cellpicker("Integer", integer_text);
    dialog.add_cellpicker("Binary", binary_text);
    dialog.add_cellpicker("All Different", all_different_text);
    dialog.add_statictext("");
    dialog.add_editbox("Tolerance", boost::lexical_cast<std::string>(tolerance));
    dialog.add_checkbox("Non-negative", non_negative);
    dialog.add_statictext("");
    dialog.add_statictext(help_line);

    if (!dialog.display(true))
        return;

    for (unsigned int i = 0; i < constraint_boxes; ++i)
        constraint_texts[i] = dialog[1 + i];
    const unsigned int at = 1 + constraint_boxes;
    integer_text = dialog[at + 2];
    binary_text = dialog[at + 3];
    all_different_text = dialog[at + 4];
    tolerance = parse_param<double>(dialog[at + 6], 0.0, 1.0, "Expected tolerance to be a number between 0 and 1");
    non_negative = dialog[at + 7] == "true";
    // A constraint that cannot be read is reported now rather than at the next Solve.
    for (const std::string& text : constraint_texts)
        for (const std::string& c : solver::split_list(text, ';'))
            solver::parse_constraint(c);
}

void OmbrixImpl::run_model() {
    math::opt::SearchSettings search = search_settings(goal == goals.front());
    const std::vector<excel::RangeRef> pieces = solver::parse_ranges(variable_text, "variable");
    const std::vector<excel::CellRef> cells = cells_of(pieces);
    const std::size_t n = cells.size();
    std::map<CellKey, unsigned int> index;
    for (std::size_t j = 0; j < n; ++j)
        if (!index.emplace(key_of(cells[j]), static_cast<unsigned int>(j)).second)
            throw excel::ExcelException("The variable cell " + cells[j].to_string() + " is named twice");
    auto variable_at = [&](const excel::CellRef& c) {
        const auto found = index.find(key_of(c));
        return found == index.end() ? -1 : static_cast<long long>(found->second);
    };

    const double unset = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> lower(n, unset), upper(n, unset);
    if (!min_text.empty())
        lower = read_bounds(min_text, "Min", n);
    if (!max_text.empty())
        upper = read_bounds(max_text, "Max", n);

    std::vector<solver::Constraint> constraints;
    for (const std::string& text : constraint_texts)
        for (const std::string& c : solver::split_list(text, ';'))
            constraints.push_back(solver::parse_constraint(c));

    // A constraint between variable cells and numbers, or cells that are not variables,
    // bounds those variables too: the search then stays inside it.
    for (const solver::Constraint& c : constraints) {
        const std::vector<excel::CellRef> left = cells_of({c.lhs.range});
        bool bound = true;
        for (const excel::CellRef& cell : left)
            bound = bound && variable_at(cell) >= 0;
        if (!c.rhs.is_number)
            for (const excel::CellRef& cell : cells_of({c.rhs.range}))
                bound = bound && variable_at(cell) < 0;
        if (!bound)
            continue;
        const std::vector<double> right = read_side(c.rhs, c.text);
        for (std::size_t i = 0; i < left.size(); ++i) {
            const std::size_t j = static_cast<std::size_t>(variable_at(left[i]));
            const double r = right.size() == 1 ? right[0] : right[i];
            if (c.relation != solver::Relation::at_least)
                upper[j] = std::isnan(upper[j]) ? r : std::min(upper[j], r);
            if (c.relation != solver::Relation::at_most)
                lower[j] = std::isnan(lower[j]) ? r : std::max(lower[j], r);
        }
    }

    math::opt::Coding coding;
    auto variables_in = [&](const std::string& text, const std::string& what) {
        std::vector<std::vector<unsigned int>> groups;
        for (const excel::RangeRef& r : solver::parse_ranges(text, what)) {
            groups.emplace_back();
            for (const excel::CellRef& cell : cells_of({r})) {
                const long long j = variable_at(cell);
                if (j < 0)
                    throw excel::ExcelException("The " + what + " cell " + cell.to_string() +
                                                " is not one of the variable cells");
                groups.back().push_back(static_cast<unsigned int>(j));
            }
        }
        return groups;
    };
    if (!integer_text.empty() || !binary_text.empty())
        coding.kinds.assign(n, math::opt::VariableKind::continuous);
    if (!integer_text.empty())
        for (const auto& group : variables_in(integer_text, "integer"))
            for (unsigned int j : group)
                coding.kinds[j] = math::opt::VariableKind::integer;
    if (!binary_text.empty())
        for (const auto& group : variables_in(binary_text, "binary"))
            for (unsigned int j : group) {
                coding.kinds[j] = math::opt::VariableKind::integer;
                lower[j] = std::isnan(lower[j]) ? 0.0 : std::max(lower[j], 0.0);
                upper[j] = std::isnan(upper[j]) ? 1.0 : std::min(upper[j], 1.0);
            }
    if (!all_different_text.empty())
        for (const auto& group : variables_in(all_different_text, "all-different")) {
            // As the spreadsheet's Solver has it: a permutation of 1 to the group's size.
            for (unsigned int j : group) {
                lower[j] = 1.0;
                upper[j] = static_cast<double>(group.size());
            }
            coding.permutations.push_back(group);
        }

    for (std::size_t j = 0; j < n; ++j) {
        const std::string name = cells[j].to_string();
        if (std::isnan(lower[j]) && non_negative)
            lower[j] = 0.0;
        if (std::isnan(lower[j]) || std::isnan(upper[j]))
            throw excel::ExcelException("The variable cell " + name + " has no " +
                                        (std::isnan(lower[j]) ? "lower" : "upper") + " bound: give it one in the " +
                                        (std::isnan(lower[j]) ? "Min" : "Max") + " ranges or by a constraint such as " +
                                        name + (std::isnan(lower[j]) ? " >= 0" : " <= 100"));
        if (lower[j] > upper[j])
            throw excel::ExcelException("The variable cell " + name + " has no value between its bounds: at least " +
                                        shortest(lower[j]) + " and at most " + shortest(upper[j]));
        if (coding.kind(static_cast<unsigned int>(j)) == math::opt::VariableKind::integer &&
            std::ceil(lower[j]) > std::floor(upper[j]))
            throw excel::ExcelException("The integer variable cell " + name + " has no whole number between " +
                                        shortest(lower[j]) + " and " + shortest(upper[j]));
    }

    excel::CellRef target;
    if (!excel::CellRef::coerce_to_cell(target_text, target))
        throw excel::ExcelException("Invalid target cell specified");
    const bool maximise = goal == goals.front();

    optimiser.clear_design_variables();
    for (std::size_t j = 0; j < n; ++j)
        optimiser.design_variable(math::opt::Interval(lower[j], upper[j]));
    optimiser.coding = coding;
    // With constraints, a local search after the generations lands on them: 100 evaluations
    // per chromosome, or a tenth of the generations' evaluations when that is more.
    const double planned = double(optimiser.population_size) * optimiser.generations * optimiser.trials;
    optimiser.polish_evaluations =
        constraints.empty() ? 0
                            : static_cast<unsigned int>(
                                  std::min(2147483647.0, std::max(100.0 * optimiser.population_size, planned / 10.0)));

    if (start_from_current) {
        std::vector<double> current;
        for (const excel::RangeRef& r : pieces) {
            std::vector<double> some;
            try {
                excel::Range(r).get(some);
            } catch (const excel::ExcelException&) {
                throw excel::ExcelException("Start From Current needs a number in every variable cell");
            }
            current.insert(current.end(), some.begin(), some.end());
        }
        if (current.size() != n)
            throw excel::ExcelException("Start From Current needs a number in every variable cell");
        search.start = current;
    }

    solver::ModelObjective objective(pieces, target, constraints, tolerance);
    boost::mt19937 engine(seed);
    RunStatus status(!maximise, status_interval);
    optimiser.observer = &status;
    const auto restore_inputs = [&] { objective.restore_inputs(); };
    finish_run(status, n, restore_inputs, [&] {
        math::opt::Evaluation best;
        std::vector<double> result;
        if (search.plain()) {
            result =
                maximise ? optimiser.maximise(objective, engine, &best) : optimiser.minimise(objective, engine, &best);
        } else if (search.strategy == math::opt::Strategy::classic) {
            // Early stops and a start point watch the same run.
            const Maximised maximised(objective, !maximise);
            result = math::opt::search_maximise(optimiser, search, maximised, engine, &best);
        } else {
            // One candidate after another: a generation's constraint cells are not carried
            // by the batches of workbook copies yet.
            const Maximised maximised(objective, !maximise);
            const math::opt::SerialConstrainedObjective serial(maximised, false);
            math::opt::SearchOutcome outcome;
            result = math::opt::search_maximise(static_cast<const math::opt::GAOptimiser&>(optimiser), search, serial,
                                                engine, &outcome);
            best = outcome.best;
            // As after the classic generations, a local search lands on the constraints (not
            // after an early stop, which asked for no more evaluations).
            if (outcome.completed && std::isfinite(best.violation) && optimiser.polish_evaluations > 0)
                result = optimiser.polish(maximised, result, best);
        }
        optimiser.observer = nullptr;
        if (!status.stopped() || status.evaluated()) {
            objective.write(result);
            // Read back only to say what failed: a run that met the constraints reads nothing
            // more than its evaluations.
            std::string worst;
            const double violation = best.violation > 0.0 ? objective.violation_now(&worst) : 0.0;
            if (violation > 0.0) {
                objective.restore_inputs();
                throw excel::ExcelException("No point met every constraint; the least violation found was " +
                                            shortest(violation) + ", most of it by the constraint " + worst +
                                            ". The variable cells were left as they were");
            }
        }
    });
}
