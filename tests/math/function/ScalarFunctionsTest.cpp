#include "math/function/ScalarFunctions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace math::function;

TEST(ScalarFunctions, SigmoidAndItsClippedInverse) {
    const Sigmoid s;
    const SigmoidInverse inv;
    const double largest = std::numeric_limits<double>::max();
    EXPECT_EQ(s(0.0), 0.5);
    EXPECT_GT(s(-1.0), s(1.0)) << "falls as x grows";
    EXPECT_EQ(inv(0.001), std::log(0.999 / 0.001)) << "the bounds are inside";
    EXPECT_EQ(inv(0.0005), largest);
    EXPECT_EQ(inv(0.9995), -largest);
    for (double x : {-5.0, -0.25, 0.3, 6.0})
        EXPECT_NEAR(inv(s(x)), x, 1e-12) << x;
    const auto a = Sigmoid().inverse();
    EXPECT_EQ((*a)(0.5), 0.0);
    EXPECT_EQ((*a->inverse())(0.0), 0.5);
    EXPECT_EQ((*Identity().inverse())(-7.25), -7.25);
}

// Each class keeps one inverse object for the process: every call, from any instance, hands
// out a pointer to that same object, of the inverse's class.
TEST(ScalarFunctions, EachInverseIsOneObjectForTheProcess) {
    const Sigmoid s1, s2;
    const SigmoidInverse i1, i2;
    const Identity d1, d2;
    const struct {
        const InvertibleFunction<double, double>* first;
        const InvertibleFunction<double, double>* second;
        double at, value; // the inverse's value at one point
    } cases[] = {
        {&s1, &s2, 0.5, 0.0},
        {&i1, &i2, 0.0, 0.5},
        {&d1, &d2, 3.5, 3.5},
    };
    for (const auto& c : cases) {
        const auto a = c.first->inverse(), b = c.first->inverse(), other = c.second->inverse();
        EXPECT_EQ(a.get(), b.get());
        EXPECT_EQ(a.get(), other.get());
        EXPECT_EQ((*a)(c.at), c.value);
    }
    EXPECT_NE(dynamic_cast<SigmoidInverse*>(s1.inverse().get()), nullptr);
    EXPECT_NE(dynamic_cast<Sigmoid*>(i1.inverse().get()), nullptr);
    EXPECT_EQ(s1.inverse()->inverse().get(), i2.inverse().get()) << "the inverse's inverse is the shared one";
}

TEST(ScalarFunctions, LogisticPolynomialAndMax) {
    for (double x : {-100.0, 0.0, 700.0})
        EXPECT_EQ(Logistic(1, 0, 0, 3)(x), 1.0) << x;
    const double e = std::exp(-8.0 / 4.0);
    EXPECT_NEAR(Logistic(2, 3, 0.5, 4)(8.0), 2.0 * (1.0 + 3.0 * e) / (1.0 + 0.5 * e), 1e-15);
    EXPECT_EQ(Polynomial({1, 2, 3})(2.0), 17.0);
    EXPECT_EQ(Polynomial({})(5.0), 0.0);
    EXPECT_EQ(Polynomial({0, 0, 0, 1})(-3.0), -27.0);

    const Identity id;
    const Polynomial two({2.0}), zero({0.0}), nan_fn({std::nan("")});
    EXPECT_EQ(Max(&id, &two)(5.0), 5.0);
    EXPECT_EQ(Max(&id, &two)(-1.0), 2.0);
    EXPECT_TRUE(std::signbit(Max(&id, &zero)(-0.0))) << "the first wins a tie";
    EXPECT_TRUE(std::isnan(Max(&nan_fn, &two)(0.0))) << "and a comparison with NaN";
    EXPECT_EQ(Max(&two, &nan_fn)(0.0), 2.0);
}

} // namespace
