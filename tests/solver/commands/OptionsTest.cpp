// The Options command against the host's workbook: its dialog, the settings it keeps, and the
// runs of Solve that follow.
#include "Workbook.hpp"

#include "math/opt/Search.hpp"

namespace solver_test {
namespace {

class Options : public Workbook {
protected:
    // The Options dialog answered with these fields; Solve's fields are kept for after.
    std::string options_message(const Typed& fields) {
        const Typed solve_fields = typed;
        typed = fields;
        std::string message;
        try {
            impl.options();
        } catch (const usr::Exception& e) {
            message = e.what();
        }
        typed = solve_fields;
        return message;
    }

    // The search run straight on model() with the fixture's quick settings.
    static std::vector<double> direct_search(const math::opt::SearchSettings& s, unsigned int seed, bool maximise) {
        struct Plain : math::function::Function<double, std::vector<double>> {
            double sign = 1.0;
            double operator()(const std::vector<double>& v) const override {
                return sign * model(v.at(0), v.at(1), v.at(2));
            }
        } f;
        f.sign = maximise ? 1.0 : -1.0;
        math::opt::GAOptimiser direct;
        direct.population_size = 12;
        direct.generations = 6;
        direct.trials = 2;
        for (int i = 0; i < 3; ++i)
            direct.design_variable(math::opt::Interval(-2.0, 3.0));
        boost::mt19937 engine(seed);
        return math::opt::search_maximise(direct, s, f, engine);
    }
};

TEST_F(Options, TheDialogKeepsWhatWasAcceptedField) {
    ok = false;
    ASSERT_EQ("", options_message({{"Strategy", "shade"}, {"Stop After", "7"}}));
    EXPECT_EQ(impl.strategy, math::opt::Strategy::classic) << "Cancel keeps nothing";
    ok = true;
    ASSERT_EQ("", options_message(
                      {{"Strategy", "de"}, {"Stop After", "7"}, {"Target", "-0.5"}, {"Start From Current", "true"}}));
    EXPECT_EQ(impl.strategy, math::opt::Strategy::differential);
    EXPECT_EQ(impl.stop_after, 7u);
    EXPECT_TRUE(impl.has_target);
    EXPECT_EQ(impl.target_value, -0.5);
    EXPECT_TRUE(impl.start_from_current);

    // Refusals keep the fields before the bad one; each names what it expects.
    struct Case {
        const char* stop_after;
        const char* target;
        const char* message;
    } cases[] = {
        {"-1", "", "Expected generations without improvement to be a whole number of 0 or more"},
        {"2.5", "", "Expected generations without improvement to be a whole number of 0 or more"},
        {"3", "one", "Expected the target to be a number, or nothing for none"},
        {"3", "nan", "Expected the target to be a number, or nothing for none"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.message,
                  options_message({{"Strategy", "real"}, {"Stop After", c.stop_after}, {"Target", c.target}}));
        EXPECT_EQ(impl.strategy, math::opt::Strategy::real);
    }
    EXPECT_EQ(impl.stop_after, 3u);
    EXPECT_EQ(impl.target_value, -0.5) << "the target refused keeps the old one";

    // The next dialog opens with the settings kept; an empty target means none.
    ASSERT_EQ("", options_message({{"Target", ""}}));
    EXPECT_EQ(shown("Strategy"), "2"); // real, the second entry
    EXPECT_EQ(shown("Stop After"), "3");
    EXPECT_EQ(shown("Start From Current"), "TRUE");
    EXPECT_FALSE(impl.has_target);
}

TEST_F(Options, SolveRunsTheChosenStrategy) {
    struct Case {
        const char* strategy;
        const char* goal;
        const char* stop_after;
        const char* target;
    } cases[] = {
        {"shade", "Maximise", "0", ""},   {"de", "Minimise", "0", ""},      {"real", "Maximise", "2", ""},
        {"classic", "Maximise", "1", ""}, {"shade", "Minimise", "0", "-3"},
    };
    for (const Case& c : cases) {
        build();
        ASSERT_EQ("", options_message({{"Strategy", c.strategy}, {"Stop After", c.stop_after}, {"Target", c.target}}));
        typed["Goal:"] = c.goal;
        typed["Seed"] = "77";
        ASSERT_EQ("", solve_message()) << c.strategy;
        const bool maximise = std::string(c.goal) == "Maximise";
        math::opt::SearchSettings s = impl.search_settings(maximise);
        EXPECT_EQ(s.target, *c.target ? (maximise ? 1.0 : -1.0) * std::stod(c.target) : 0.0);
        EXPECT_EQ(direct_search(s, 77, maximise), variables()) << c.strategy << " " << c.goal;
        EXPECT_TRUE(host->alerts().empty()) << c.strategy;
    }
}

TEST_F(Options, StartFromCurrentReadsTheVariableCells) {
    ASSERT_EQ("", options_message({{"Strategy", "shade"}, {"Start From Current", "true"}}));
    typed["Population"] = "4";
    typed["Generations"] = "2";
    typed["Trials"] = "1";
    // The model's best point, already in the cells, is kept: nothing random beats it.
    set("A1", Value::number(1.0));
    set("B1", Value::number(2.0));
    set("C1", Value::number(-1.0));
    ASSERT_EQ("", solve_message());
    EXPECT_EQ((std::vector<double>{1.0, 2.0, -1.0}), variables());

    set("B1", Value::text("two"));
    EXPECT_EQ("Start From Current needs a number in every variable cell", solve_message());
    EXPECT_EQ(get("B1"), Value::text("two")) << "refused before anything is written";
}

} // namespace
} // namespace solver_test
