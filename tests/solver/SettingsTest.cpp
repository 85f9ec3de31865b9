#include "solver/OmbrixImpl.hpp"
#include "solver/ParseParam.hpp"

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(OmbrixImpl, StartsWithTheDialogDefaults) {
    const OmbrixImpl impl;
    EXPECT_TRUE(impl.min_text.empty() && impl.max_text.empty() && impl.variable_text.empty() && impl.target_text.empty());
    EXPECT_EQ(impl.goals, (std::vector<std::string>{"Maximise", "Minimise"}));
    EXPECT_EQ(impl.goal, "Maximise");
    EXPECT_EQ(impl.seed, 233u);
    EXPECT_EQ(impl.optimiser.population_size, 50u);
    EXPECT_EQ(impl.optimiser.generations, 100u);
    EXPECT_EQ(impl.optimiser.trials, 2u) << "fewer than the optimiser's own 10";
    EXPECT_EQ(boost::lexical_cast<std::string>(impl.optimiser.one_point_crossover.rate), "1");
    EXPECT_EQ(boost::lexical_cast<std::string>(impl.optimiser.uniform_mutation.rate), "0.03125");
    EXPECT_EQ(impl.optimiser.crossover, &impl.optimiser.one_point_crossover);
}

// What the dialog's six fields make of a text: "" when accepted, else the message shown.
std::string parsed(int field, const std::string& text) {
    try {
        switch (field) {
        case 0: parse_param<unsigned int>(text, 0u, 4294967295u, "Expected seed to be a positive integer"); break;
        case 1: parse_param<int>(text, 2, 2147483647, "Expected population size to be an integer above 2"); break;
        case 2: parse_param<int>(text, 2, 2147483647, "Expected number of generations to be an integer above 2"); break;
        case 3: parse_param<int>(text, 1, 2147483647, "Expected number of trials to be an integer above 1"); break;
        case 4: parse_param<double>(text, 0.0, 1.0, "Expected crossover rate to be a number  between 0 and 1"); break;
        default: parse_param<double>(text, 0.0, 1.0, "Expected mutation rate to be a number between 0 and 1");
        }
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(e.trail.size(), 1u);
        return e.what();
    }
    return "";
}

TEST(ParseParam, EachFieldAcceptsItsRangeAndRefusesTheRestWithItsMessage) {
    const char* messages[] = {"Expected seed to be a positive integer", "Expected population size to be an integer above 2",
                              "Expected number of generations to be an integer above 2",
                              "Expected number of trials to be an integer above 1",
                              "Expected crossover rate to be a number  between 0 and 1",
                              "Expected mutation rate to be a number between 0 and 1"};
    struct Case { int field; const char* text; bool accepted; };
    for (const Case& c : {Case{0, "0", true}, Case{0, "4294967295", true}, Case{0, "+7", true}, Case{0, "4294967296", false},
                          Case{0, "-1", false}, Case{0, "-0", false}, Case{0, "", false}, Case{0, "1e3", false},
                          Case{1, "2", true}, Case{1, "1", false}, Case{1, " 6", false}, Case{1, "6 ", false},
                          Case{1, "6.0", false}, Case{1, "6 6", false}, Case{1, "2147483647", true}, Case{1, "-4", false},
                          Case{2, "2", true}, Case{2, "1", false}, Case{2, "x", false},
                          Case{3, "1", true}, Case{3, "0", false}, Case{3, "2147483648", false},
                          Case{4, "0", true}, Case{4, "1", true}, Case{4, "1e-2", true}, Case{4, ".5", true},
                          Case{4, "1.0000001", false}, Case{4, "-0.5", false}, Case{4, "nan", false}, Case{4, "inf", false},
                          Case{4, "0,5", false}, Case{5, "0", true}, Case{5, "1", true}, Case{5, "1.0000001", false},
                          Case{5, "-0.5", false}, Case{5, "NaN", false}})
        EXPECT_EQ(parsed(c.field, c.text), c.accepted ? "" : messages[c.field]) << c.field << " '" << c.text << "'";
}

TEST(ParseParam, ReturnsTheValueWithInclusiveBounds) {
    EXPECT_EQ(parse_param<unsigned int>("+7", 0u, 10u, "m"), 7u);
    EXPECT_EQ(parse_param<int>("007", 7, 7, "m"), 7);
    EXPECT_EQ(parse_param<double>("0.1", 0.1, 0.1, "m"), 0.1);
    EXPECT_THROW(parse_param<double>("0.1000000001", 0.0, 0.1, "m"), excel::ExcelException);
    EXPECT_THROW(parse_param<unsigned int>("9", 10u, 20u, "m"), excel::ExcelException);
}

} // namespace
