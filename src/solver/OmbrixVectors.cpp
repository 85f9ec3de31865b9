#include "solver/OmbrixImpl.hpp"

#include "solver/VectorRef.hpp"

void OmbrixImpl::as_vector(const std::string& text, const std::string& name, excel::RangeRef& range) {
    solver::as_vector(text, name, range);
}

std::vector<double> OmbrixImpl::get_constant_vector(const std::string& text, const std::string& name,
                                                    const std::vector<double>& reference) {
    return solver::get_constant_vector(text, name, reference);
}
