#ifndef OMBRIX_MATH_FUNCTION_SCALARFUNCTIONS_HPP
#define OMBRIX_MATH_FUNCTION_SCALARFUNCTIONS_HPP

#include "math/function/Function.hpp"

#include <boost/shared_ptr.hpp>

#include <vector>

namespace math {
namespace function {

// A function of a double that knows its inverse. inverse() hands out shared pointers to
// one object per class, made on first use and kept until the process ends.
template <class R, class A>
class InvertibleFunction : public Function<R, A> {
public:
    virtual boost::shared_ptr<InvertibleFunction<A, R>> inverse() const = 0;

protected:
    InvertibleFunction() = default;
    InvertibleFunction(const InvertibleFunction&) = default;
    InvertibleFunction& operator=(const InvertibleFunction&) = default;
    ~InvertibleFunction() = default;
};

class Identity final : public InvertibleFunction<double, double> {
public:
    double operator()(const double& x) const override;
    boost::shared_ptr<InvertibleFunction<double, double>> inverse() const override;
};

// 1 / (e^x + 1): falls from 1 to 0 as x grows.
class Sigmoid final : public InvertibleFunction<double, double> {
public:
    double operator()(const double& x) const override;
    boost::shared_ptr<InvertibleFunction<double, double>> inverse() const override;
};

// ln((1 - y) / y), clipped to the largest finite doubles outside [0.001, 0.999].
class SigmoidInverse final : public InvertibleFunction<double, double> {
public:
    double operator()(const double& y) const override;
    boost::shared_ptr<InvertibleFunction<double, double>> inverse() const override;
};

// a (1 + b e^(-x/d)) / (1 + c e^(-x/d))
class Logistic : public Function<double, double> {
public:
    Logistic(double a, double b, double c, double d);
    double operator()(const double& x) const override;

    double a;
    double b;
    double c;
    double d;
};

// Coefficients constant term first; evaluated by Horner's rule.
class Polynomial : public Function<double, double> {
public:
    explicit Polynomial(const std::vector<double>& coefficients);
    double operator()(const double& x) const override;

    std::vector<double> coefficients;
};

// The larger of two functions' values; the first wins ties and NaN comparisons.
// The two functions are not owned.
class Max : public Function<double, double> {
public:
    Max(const Function<double, double>* first, const Function<double, double>* second);
    double operator()(const double& x) const override;

    const Function<double, double>* first;
    const Function<double, double>* second;
};

} // namespace function
} // namespace math

#endif
