#include "solver/OmbrixImpl.hpp"
#include "solver/ParseParam.hpp"

#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

TEST(OmbrixImpl, StartsWithTheDialogDefaults) {
    const OmbrixImpl impl;
    EXPECT_EQ(impl.min_text, "");
    EXPECT_EQ(impl.max_text, "");
    EXPECT_EQ(impl.variable_text, "");
    EXPECT_EQ(impl.target_text, "");
    EXPECT_EQ(impl.seed, 233u);
    ASSERT_EQ(impl.goals.size(), 2u);
    EXPECT_EQ(impl.goals[0], "Maximise");
    EXPECT_EQ(impl.goals[1], "Minimise");
    EXPECT_EQ(impl.goal, "Maximise");
    EXPECT_EQ(impl.optimiser.population_size, 50u);
    EXPECT_EQ(impl.optimiser.generations, 100u);
    EXPECT_EQ(impl.optimiser.trials, 2u) << "fewer trials than the optimiser's own default";
    EXPECT_EQ(impl.optimiser.one_point_crossover.rate, 1.0);
    EXPECT_EQ(impl.optimiser.uniform_mutation.rate, 0.03125);
    EXPECT_EQ(impl.optimiser.design_variable_count(), 0u);
    EXPECT_EQ(impl.optimiser.crossover, &impl.optimiser.one_point_crossover);
}

TEST(OmbrixImpl, SettingsShowInTheDialogAsTheirText) {
    const OmbrixImpl impl;
    EXPECT_EQ(boost::lexical_cast<std::string>(impl.seed), "233");
    EXPECT_EQ(boost::lexical_cast<std::string>(impl.optimiser.one_point_crossover.rate), "1");
    EXPECT_EQ(boost::lexical_cast<std::string>(impl.optimiser.uniform_mutation.rate), "0.03125");
    EXPECT_EQ(boost::lexical_cast<std::string>(0.1), "0.10000000000000001");
}

// The six numeric fields of the Solve dialog, each with its bounds and message.
struct Field {
    const char* name;
    std::function<void(const std::string&)> parse;
    const char* message;
};

const Field fields[] = {
    {"Seed", [](const std::string& t) { parse_param<unsigned int>(t, 0u, 4294967295u, "Expected seed to be a positive integer"); },
     "Expected seed to be a positive integer"},
    {"Population", [](const std::string& t) { parse_param<int>(t, 2, 2147483647, "Expected population size to be an integer above 2"); },
     "Expected population size to be an integer above 2"},
    {"Generations", [](const std::string& t) { parse_param<int>(t, 2, 2147483647, "Expected number of generations to be an integer above 2"); },
     "Expected number of generations to be an integer above 2"},
    {"Trials", [](const std::string& t) { parse_param<int>(t, 1, 2147483647, "Expected number of trials to be an integer above 1"); },
     "Expected number of trials to be an integer above 1"},
    {"Crossover Rate", [](const std::string& t) { parse_param<double>(t, 0.0, 1.0, "Expected crossover rate to be a number  between 0 and 1"); },
     "Expected crossover rate to be a number  between 0 and 1"},
    {"Mutation Rate", [](const std::string& t) { parse_param<double>(t, 0.0, 1.0, "Expected mutation rate to be a number between 0 and 1"); },
     "Expected mutation rate to be a number between 0 and 1"},
};

std::string failure(const Field& f, const std::string& text) {
    try {
        f.parse(text);
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(e.trail.size(), 1u);
        return e.what();
    }
    return "";
}

TEST(ParseParam, AcceptsAndRefusesPerField) {
    struct Case { int field; const char* text; bool accepted; };
    const Case cases[] = {
        {0, "0", true},          {0, "4294967295", true}, {0, "4294967296", false},
        {0, "-1", false},        {0, "+7", true},         {0, "-0", false},
        {0, "233", true},        {0, "1e3", false},       {0, "", false},
        {1, "2", true},          {1, "1", false},         {1, "6", true},
        {1, " 6", false},        {1, "6 ", false},        {1, "6.0", false},
        {1, "2147483647", true}, {1, "2147483648", false}, {1, "-4", false},
        {1, "6 6", false},       {1, "0x10", false},
        {2, "2", true},          {2, "1", false},         {2, "abc", false},
        {3, "1", true},          {3, "0", false},         {3, "2147483648", false},
        {4, "0", true},          {4, "1", true},          {4, "1.0000001", false},
        {4, "-0.5", false},      {4, "0.5", true},        {4, "1e-2", true},
        {4, ".5", true},         {4, "nan", false},       {4, "inf", false},
        {4, "0,5", false},       {4, " 0.5", false},
        {5, "0", true},          {5, "1", true},          {5, "1.0000001", false},
        {5, "-0.5", false},      {5, "0.03125", true},    {5, "NaN", false},
    };
    for (const Case& c : cases) {
        const Field& f = fields[c.field];
        const std::string message = failure(f, c.text);
        if (c.accepted)
            EXPECT_EQ(message, "") << f.name << " '" << c.text << "'";
        else
            EXPECT_EQ(message, f.message) << f.name << " '" << c.text << "'";
    }
}

TEST(ParseParam, ReturnsTheConvertedValue) {
    EXPECT_EQ(parse_param<unsigned int>("+7", 0u, 4294967295u, "m"), 7u);
    EXPECT_EQ(parse_param<unsigned int>("4294967295", 0u, 4294967295u, "m"), 4294967295u);
    EXPECT_EQ(parse_param<int>("007", 2, 100, "m"), 7);
    EXPECT_EQ(parse_param<double>("1e-2", 0.0, 1.0, "m"), 0.01);
    EXPECT_EQ(parse_param<double>("0.1", 0.0, 1.0, "m"), 0.1);
    const double zero = parse_param<double>("-0", 0.0, 1.0, "m");
    EXPECT_EQ(zero, 0.0);
}

TEST(ParseParam, MessagesKeepTheirExactSpacing) {
    EXPECT_NE(std::string(fields[4].message).find("number  between"), std::string::npos);
    EXPECT_EQ(std::string(fields[5].message).find("number  between"), std::string::npos);
    // The conversion's own text never reaches the user.
    EXPECT_EQ(failure(fields[2], "x"), "Expected number of generations to be an integer above 2");
}

TEST(ParseParam, BoundsAreInclusiveForEveryType) {
    EXPECT_EQ(parse_param<int>("5", 5, 5, "m"), 5);
    EXPECT_THROW(parse_param<int>("4", 5, 5, "m"), excel::ExcelException);
    EXPECT_EQ(parse_param<double>("0.25", 0.25, 0.25, "m"), 0.25);
    EXPECT_THROW(parse_param<double>("0.2500000001", 0.25, 0.25, "m"), excel::ExcelException);
    EXPECT_EQ(parse_param<unsigned int>("10", 10u, 20u, "m"), 10u);
    EXPECT_THROW(parse_param<unsigned int>("21", 10u, 20u, "m"), excel::ExcelException);
}

} // namespace
