#include "math/function/ScalarFunctions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace math::function;

const double largest = std::numeric_limits<double>::max();

TEST(Sigmoid, FallsFromOneToZeroThroughAHalf) {
    const Sigmoid s;
    EXPECT_EQ(s(0.0), 0.5);
    EXPECT_NEAR(s(-40.0), 1.0, 1e-15);
    EXPECT_NEAR(s(40.0), 0.0, 1e-15);
    EXPECT_GT(s(-1.0), s(1.0));
    EXPECT_NEAR(s(1.0), 1.0 / (std::exp(1.0) + 1.0), 1e-16);
}

TEST(SigmoidInverse, LogarithmInsideTheBoundsAndClippedOutside) {
    const SigmoidInverse s;
    EXPECT_EQ(s(0.5), 0.0);
    EXPECT_EQ(s(0.001), std::log(0.999 / 0.001)); // bounds themselves are inside
    EXPECT_EQ(s(0.999), std::log((1.0 - 0.999) / 0.999));
    EXPECT_EQ(s(0.0005), largest);
    EXPECT_EQ(s(-3.0), largest);
    EXPECT_EQ(s(0.9995), -largest);
    EXPECT_EQ(s(2.0), -largest);
}

TEST(SigmoidInverse, UndoesTheSigmoid) {
    const Sigmoid s;
    const SigmoidInverse inv;
    for (double x : {-5.0, -1.0, -0.25, 0.0, 0.3, 2.0, 6.0})
        EXPECT_NEAR(inv(s(x)), x, 1e-12) << x;
}

TEST(Inverse, EachClassSharesOneInverseObject) {
    const Sigmoid s;
    const auto a = s.inverse();
    const auto b = Sigmoid().inverse();
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ((*a)(0.5), 0.0) << "a Sigmoid's inverse is a SigmoidInverse";
    EXPECT_EQ((*a->inverse())(0.0), 0.5) << "and that one's inverse is a Sigmoid";
    EXPECT_EQ(SigmoidInverse().inverse().get(), SigmoidInverse().inverse().get());

    const auto id = Identity().inverse();
    EXPECT_EQ(id.get(), Identity().inverse().get());
    EXPECT_EQ((*id)(-7.25), -7.25);
    EXPECT_NE(static_cast<const void*>(id.get()), static_cast<const void*>(a.get()));
}

TEST(Logistic, FormulaAndItsConstantCase) {
    const Logistic flat(1.0, 0.0, 0.0, 3.0);
    for (double x : {-100.0, 0.0, 2.5, 700.0})
        EXPECT_EQ(flat(x), 1.0) << x;
    const Logistic l(2.0, 3.0, 0.5, 4.0);
    EXPECT_EQ(l.a, 2.0);
    EXPECT_EQ(l.d, 4.0);
    EXPECT_NEAR(l(0.0), 2.0 * 4.0 / 1.5, 1e-15);
    const double e = std::exp(-8.0 / 4.0);
    EXPECT_NEAR(l(8.0), 2.0 * (1.0 + 3.0 * e) / (1.0 + 0.5 * e), 1e-15);
}

TEST(Polynomial, HornerFromTheLastCoefficient) {
    EXPECT_EQ(Polynomial({1.0, 2.0, 3.0})(2.0), 17.0);
    EXPECT_EQ(Polynomial({})(5.0), 0.0);
    EXPECT_EQ(Polynomial({4.0})(123.0), 4.0);
    EXPECT_EQ(Polynomial({0.0, 0.0, 0.0, 1.0})(-3.0), -27.0);
    const std::vector<double> c = {1.0, -1.0};
    const Polynomial p(c);
    EXPECT_EQ(p.coefficients, c);
    EXPECT_EQ(p(0.5), 0.5);
}

TEST(Max, LargerValueAndTheFirstOnTies) {
    const Identity id;
    const Polynomial two({2.0});
    const Max m(&id, &two);
    EXPECT_EQ(m(5.0), 5.0);
    EXPECT_EQ(m(-1.0), 2.0);
    EXPECT_EQ(m(2.0), 2.0);

    const Polynomial nan_fn({std::nan("")});
    EXPECT_TRUE(std::isnan(Max(&nan_fn, &two)(0.0))) << "the first wins a NaN comparison";
    EXPECT_EQ(Max(&two, &nan_fn)(0.0), 2.0);
    // -0 and 0 tie: the first one's zero comes back.
    const Polynomial zero({0.0});
    EXPECT_TRUE(std::signbit(Max(&id, &zero)(-0.0)));
    EXPECT_FALSE(std::signbit(Max(&zero, &id)(-0.0)));
}

} // namespace
