// `ombrix test BOOK`: the add-in's Test command, which copies A1:C3 one cell down and right.
#include "AddinCommands.hpp"
#include "Commands.hpp"

#include <iostream>

namespace app {

void add_test_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<RunOptions>();
    options->name = "Test";
    options->suffix = "tested";
    CLI::App* test =
        ombrix.add_subcommand("test", "Run the add-in's Test command on BOOK: copy A1:C3 one cell down and right");
    test->footer("Test reads the numbers in A1:C3 of the active sheet and writes them to B2:D4, a check of\n"
                 "reading and writing ranges. The workbook is saved to a new file next to BOOK\n"
                 "(BOOK.tested.xlsx). Exit status 1 after an error alert, for instance when a cell of A1:C3\n"
                 "holds no number.");
    test->add_option("BOOK", options->book, "The workbook (.xlsx or .csv)")->required()->check(not_empty());
    test->add_option("--sheet", options->sheet, "Make this sheet active first")->type_name("NAME")->check(not_empty());
    auto* output = test->add_option("-o,--output", options->output, "Save the workbook here instead")
                       ->type_name("FILE")
                       ->check(not_empty());
    test->add_flag("--in-place", options->in_place, "Save the workbook over BOOK")->excludes(output);
    add_addin_option(test, options->addin);
    test->callback([options, &outcome]() { outcome.status = run_command(*options, std::cout, std::cerr); });
}

} // namespace app
