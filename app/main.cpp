// ombrix: runs the optimiser add-in's commands on a workbook file, without a spreadsheet
// program. Each subcommand lives in its own source file and registers itself here.
#include "AddinCommands.hpp"
#include "Commands.hpp"
#include "ManPage.hpp"

#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    CLI::App ombrix("ombrix: a genetic-algorithm optimiser for spreadsheet models, with its own workbook "
                    "engine for .xlsx and .csv files.\nRun `ombrix COMMAND --help` for a command's options.",
                    "ombrix");
    ombrix.footer("Exit status: 0 done; 1 the add-in reported an error, or a file could not be read or\n"
                  "written; 2 a usage error (unknown command or flag, bad or conflicting values, a request\n"
                  "the command refuses), nothing run or written.\n\n"
                  "Environment: OMBRIX_ADDIN names the add-in module to load when --addin is not given;\n"
                  "without either, the command looks beside itself (../lib/ombrix/ombrix.so).\n\n"
                  "Examples:\n"
                  "  ombrix solve model.xlsx --var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --goal maximise\n"
                  "  ombrix solve model.xlsx --var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --goal maximise \\\n"
                  "      --report --chart plan.svg --trace plan.csv -o plan.xlsx\n"
                  "  ombrix calc model.xlsx\n"
                  "  ombrix about");
    ombrix.require_subcommand(1);
    app::Outcome outcome;
    app::add_solve_command(ombrix, outcome);
    app::add_about_command(ombrix, outcome);
    app::add_run_tests_command(ombrix, outcome);
    app::add_test_command(ombrix, outcome);
    app::add_menu_command(ombrix, outcome);
    app::add_run_command(ombrix, outcome);
    app::add_calc_command(ombrix, outcome);
    app::add_batch_command(ombrix, outcome);
    // The build makes the manual page from these help texts: ombrix --man-page VERSION.
    if (argc == 3 && std::string(argv[1]) == "--man-page") {
        std::cout << app::man_page(ombrix, argv[2]);
        return 0;
    }
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* command : ombrix.get_subcommands([](CLI::App*) { return true; }))
            known = known || command->check_name(argv[1]);
        if (!known) {
            std::cerr << "ombrix: unknown command '" << argv[1] << "' (ombrix --help lists them)\n";
            return app::exit_usage;
        }
    }
    try {
        ombrix.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is not an error; every mistake on the command line has the one usage status.
        int status = ombrix.exit(e);
        return status == 0 ? 0 : app::exit_usage;
    } catch (const std::bad_alloc&) {
        const std::vector<CLI::App*> chosen = ombrix.get_subcommands();
        std::cerr << "ombrix: not enough memory to finish "
                  << (chosen.empty() ? std::string("the command") : "'" + chosen.front()->get_name() + "'") << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "ombrix: " << e.what() << "\n";
        return 1;
    }
    return outcome.status;
}
