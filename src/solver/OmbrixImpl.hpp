#ifndef OMBRIX_SOLVER_OMBRIXIMPL_HPP
#define OMBRIX_SOLVER_OMBRIXIMPL_HPP

#include "excel/CellRef.hpp"
#include "excel/RangeRef.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "math/opt/Search.hpp"
#include "solver/ParseParam.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class RunStatus;

// The solver's one object: every setting of the Solve dialog, kept from one command to the
// next while the add-in is loaded. Nothing is saved.
class OmbrixImpl {
public:
    OmbrixImpl();

    // The Solve command: shows the dialog with the current settings, stores what was
    // entered and runs the optimisation. Every failure is an exception for the entry point.
    void solve();
    // The Options command: the search settings' own dialog (strategy, early stops, start).
    // Stores what was entered, field by field like Solve; runs nothing.
    void options();
    // Checks the stored reference texts, reads the bounds and runs setup (or, for a model
    // with several variable ranges, constraints or whole-number variables, run_model).
    void process();
    // The Model command: shows the model dialog (constraints, whole-number variables,
    // tolerance) and stores what was entered; Solve uses it.
    void model();
    // Whether the settings go beyond one range of variables in a box.
    bool extended_model() const;
    // Solves the extended model: several variable ranges, bounds from the Min and Max ranges
    // or from constraints on single variables, constraints, integer, binary and
    // all-different variables. No point within the constraints is an error after the run
    // that leaves the variable cells as they were.
    void run_model();
    // One optimisation of the workbook model; the best point ends up in the variable cells.
    // A run that fails part-way puts the variable cells' starting contents back.
    void setup(const std::vector<double>& min, const std::vector<double>& max, const excel::RangeRef& variables,
               const excel::CellRef& target, bool maximise, unsigned int seed);
    // Runs run, the optimiser's part of a solve of n variables watched by status. A run that
    // fails puts the variable cells back through restore_inputs (running out of memory says
    // so); one the user stopped says so when it ends.
    void finish_run(RunStatus& status, std::size_t n, const std::function<void()>& restore_inputs,
                    const std::function<void()>& run);

    // A reference text that must be one row or one column of cells; name is for messages.
    static void as_vector(const std::string& text, const std::string& name, excel::RangeRef& range);
    // The numbers of such a range, as many as reference has.
    static std::vector<double> get_constant_vector(const std::string& text, const std::string& name,
                                                   const std::vector<double>& reference);

    // The About alert: product, installed version, help line.
    void about() const;
    static std::string about_text();
    // Copies the block at test_block() one cell down and right, and moves the block along.
    static void test();
    // Where the next Test reads: A1:C3 when the library is loaded.
    static excel::RangeRef& test_block();
    // The reference parser and printer against a fixed table; silent when all pass.
    static void run_tests();
    static void checkcell(const std::string& text, const std::string& expected);
    static void checkrange(const std::string& text, const std::string& expected);

    // Crossover pairs neighbouring chromosomes, so a population must be even. Throws
    // ExcelException with odd_population_message otherwise.
    static void check_population(unsigned int size);
    static const char* const odd_population_message;
    // How many edit boxes of constraints the model dialog has.
    static const unsigned int constraint_boxes = 4;
    // The last line of the dialog and of the About text.
    static const char* const help_line;

    // Reference texts as last typed in the dialog, unchecked.
    std::string min_text;
    std::string max_text;
    std::string variable_text;
    std::string target_text;
    // The goal as chosen; goals[0] means maximise.
    std::string goal;
    unsigned int seed;
    std::vector<std::string> goals;
    // The least time between two progress texts in the status bar.
    std::chrono::steady_clock::duration status_interval;
    // The model dialog's settings: constraints separated by semicolons (a box each), ranges of
    // integer, binary and all-different variables (each range of all_different_text a
    // group), the relative tolerance of the constraints, whether a variable without a lower
    // bound has 0.
    std::vector<std::string> constraint_texts;
    std::string integer_text;
    std::string binary_text;
    std::string all_different_text;
    double tolerance;
    bool non_negative;
    // Holds population size, generations, trials and the two rates.
    math::opt::GAOptimiser optimiser;

    // The Options dialog's settings. The target is in the goal's own terms (the value to reach
    // or beat, whether maximising or minimising).
    math::opt::Strategy strategy = math::opt::Strategy::classic;
    unsigned int stop_after = 0;
    bool has_target = false;
    double target_value = 0.0;
    bool start_from_current = false;
    // The strategies' names, in the Strategy list's order.
    std::vector<std::string> strategies;
    // The variable cells' values when Start From Current is set, read by process for setup.
    std::vector<double> start;

    // What a run does besides Solve's settings, for the goal; start is left empty.
    math::opt::SearchSettings search_settings(bool maximise) const;
};

#endif
