#include "math/function/ScalarFunctions.hpp"

#include <cmath>
#include <limits>

namespace math {
namespace function {

namespace {

template <class F>
boost::shared_ptr<InvertibleFunction<double, double>> shared_instance() {
    // One object for the life of the process; every caller shares it.
    static const boost::shared_ptr<InvertibleFunction<double, double>> instance(new F());
    return instance;
}

} // namespace

double Identity::operator()(const double& x) const { return x; }

boost::shared_ptr<InvertibleFunction<double, double>> Identity::inverse() const { return shared_instance<Identity>(); }

double Sigmoid::operator()(const double& x) const { return 1.0 / (std::exp(x) + 1.0); }

boost::shared_ptr<InvertibleFunction<double, double>> Sigmoid::inverse() const {
    return shared_instance<SigmoidInverse>();
}

double SigmoidInverse::operator()(const double& y) const {
    const double largest = std::numeric_limits<double>::max();
    if (0.001 > y)
        return largest;
    if (y > 0.999)
        return -largest;
    return std::log((1.0 - y) / y);
}

boost::shared_ptr<InvertibleFunction<double, double>> SigmoidInverse::inverse() const {
    return shared_instance<Sigmoid>();
}

Logistic::Logistic(double a_, double b_, double c_, double d_) : a(a_), b(b_), c(c_), d(d_) {}

double Logistic::operator()(const double& x) const {
    const double e = std::exp(-x / d);
    return a * (1.0 + b * e) / (1.0 + c * e);
}

Polynomial::Polynomial(const std::vector<double>& coefficients_) : coefficients(coefficients_) {}

double Polynomial::operator()(const double& x) const {
    double r = 0.0;
    for (std::size_t i = coefficients.size(); i-- > 0;)
        r = r * x + coefficients[i];
    return r;
}

Max::Max(const Function<double, double>* first_, const Function<double, double>* second_)
    : first(first_), second(second_) {}

double Max::operator()(const double& x) const {
    const double a = (*first)(x);
    const double b = (*second)(x);
    return b > a ? b : a;
}

} // namespace function
} // namespace math
