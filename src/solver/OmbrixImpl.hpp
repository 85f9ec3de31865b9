#ifndef OMBRIX_SOLVER_OMBRIXIMPL_HPP
#define OMBRIX_SOLVER_OMBRIXIMPL_HPP

#include "math/opt/GAOptimiser.hpp"
#include "solver/ParseParam.hpp"

#include <string>
#include <vector>

// The solver's one object: every setting of the Solve dialog, kept from one command to the
// next while the add-in is loaded. Nothing is saved.
class OmbrixImpl {
public:
    OmbrixImpl();

    // Reference texts as last typed in the dialog, unchecked.
    std::string min_text;
    std::string max_text;
    std::string variable_text;
    std::string target_text;
    // The goal as chosen; goals[0] means maximise.
    std::string goal;
    unsigned int seed;
    std::vector<std::string> goals;
    // Holds population size, generations, trials and the two rates.
    math::opt::GAOptimiser optimiser;
};

#endif
