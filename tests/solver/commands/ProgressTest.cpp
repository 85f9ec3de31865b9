// Progress in the status bar and stopping a run with a break, against the host's workbook.
#include "Workbook.hpp"

#include "math/function/Function.hpp"
#include "math/opt/GAOptimiser.hpp"

#include <boost/random/mersenne_twister.hpp>

#include <optional>
#include <stdexcept>

namespace solver_test {
namespace {

class PlainModel : public math::function::Function<double, std::vector<double> > {
public:
    double operator()(const std::vector<double>& v) const override
    {
        return model(v.at(0), v.at(1), v.at(2));
    }
};

class StopAfter : public math::opt::GAOptimiser::RunObserver {
public:
    explicit StopAfter(unsigned long long n) : generations(n) {}
    bool proceed(const math::opt::GAOptimiser::Progress& p) override { return p.done < generations; }
    unsigned long long generations;
};

// The optimiser straight on the plain model, with the fixture's settings, cut after
// `generations` generations.
std::vector<double> cut_run(unsigned long long generations)
{
    math::opt::GAOptimiser direct;
    direct.population_size = 12;
    direct.generations = 6;
    direct.trials = 2;
    for (int i = 0; i < 3; ++i)
        direct.design_variable(math::opt::Interval(-2.0, 3.0));
    StopAfter stop(generations);
    direct.observer = &stop;
    boost::mt19937 engine(233);
    return direct.maximise(PlainModel(), engine);
}

class Progress : public Workbook {
protected:
    void SetUp() override
    {
        Workbook::SetUp();
        impl.status_interval = std::chrono::steady_clock::duration::zero();
        host->set_status_handler([this](const std::optional<std::string>& t) { texts.push_back(t); });
        // Breaks once, before the generation numbered break_at (from 0).
        host->set_break_source([this] { return polls++ == break_at; });
    }

    std::vector<std::optional<std::string> > texts;
    int polls = 0;
    int break_at = -1;
};

TEST_F(Progress, OneTextPerGenerationThenTheBarIsGivenBack)
{
    ASSERT_EQ("", solve_message());
    ASSERT_EQ(13u, texts.size());
    EXPECT_EQ("Ombrix: trial 1 of 2, generation 1 of 6", texts[0].value());
    EXPECT_EQ(0u, texts[7].value().find("Ombrix: trial 2 of 2, generation 2 of 6, best -"));
    EXPECT_EQ(std::nullopt, texts.back());
    EXPECT_EQ(std::nullopt, host->status());
    EXPECT_EQ(12, polls);
    EXPECT_TRUE(host->alerts().empty());

    // A run that fails gives the bar back too.
    texts.clear();
    formula("D1", "=SQRT(2-A1)");
    EXPECT_EQ("Failed to get cell value as double", solve_message());
    ASSERT_LE(2u, texts.size());
    EXPECT_TRUE(texts.front().has_value());
    EXPECT_EQ(std::nullopt, texts.back());
}

TEST_F(Progress, ABreakKeepsTheBestPointSoFar)
{
    for (const int at : {1, 4, 8}) {
        SetUp();
        polls = 0;
        break_at = at;
        ASSERT_EQ("", solve_message());
        EXPECT_EQ(cut_run(static_cast<unsigned long long>(at)), variables()) << at;
        const std::vector<double> x = variables();
        EXPECT_EQ(model(x[0], x[1], x[2]), num("D1")) << "recalculated";
        ASSERT_EQ(1u, host->alerts().size());
        EXPECT_EQ(2, host->alerts()[0].type);
        EXPECT_NE(std::string::npos, host->alerts()[0].text.find(
                                         at == 8 ? "trial 2 of 2, generation 3 of 6, after 8 generations"
                                                 : "after " + std::to_string(at) + " generations"));
        EXPECT_NE(std::string::npos, host->alerts()[0].text.find("best point found so far"));
        EXPECT_FALSE(host->check_break(false)) << "the break was cleared";
        EXPECT_EQ(std::nullopt, host->status());
    }
}

TEST_F(Progress, ABreakBeforeAnyPointKeepsTheStartingValues)
{
    break_at = 0;
    set("C1", Value::text("start"));
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(0.5, num("A1"));
    EXPECT_EQ("start", std::string(get("C1").as_text()));
    ASSERT_EQ(1u, host->alerts().size());
    EXPECT_NE(std::string::npos, host->alerts()[0].text.find("before any point was evaluated"));
    EXPECT_TRUE(texts.empty()) << "stopped before the first text";
}

TEST_F(Progress, AHostThatFailsBothCallsStillGetsTheWholeRun)
{
    ASSERT_EQ("", solve_message());
    const std::vector<double> full = variables();
    EXPECT_EQ(cut_run(~0ull), full);

    build();
    impl.status_interval = std::chrono::steady_clock::duration::zero();
    int asked = 0;
    host->set_status_handler([&asked](const std::optional<std::string>&) {
        ++asked;
        throw std::runtime_error("no status bar");
    });
    host->set_break_source([&asked]() -> bool {
        ++asked;
        throw std::runtime_error("no break key");
    });
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(full, variables());
    EXPECT_EQ(2, asked) << "each refused once, then left alone";
    EXPECT_TRUE(host->alerts().empty());
}

} // namespace
} // namespace solver_test
