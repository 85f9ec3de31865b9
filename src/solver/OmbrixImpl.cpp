#include "solver/OmbrixImpl.hpp"

OmbrixImpl::OmbrixImpl() : seed(233) {
    goals.push_back("Maximise");
    goals.push_back("Minimise");
    // The dialog's default is fewer trials than the optimiser's own.
    optimiser.trials = 2;
    goal = goals[0];
}
