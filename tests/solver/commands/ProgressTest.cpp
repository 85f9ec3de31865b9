// Progress in the status bar and stopping a run with a break, against the host's workbook.
#include "Workbook.hpp"

#include <optional>
#include <stdexcept>

namespace solver_test {
namespace {

class Progress : public Workbook {
protected:
    // A fresh session whose break source breaks once, before generation break_at (from 0).
    void SetUp() override {
        Workbook::SetUp();
        impl.status_interval = std::chrono::steady_clock::duration::zero();
        texts.clear();
        polls = 0;
        host->set_status_handler([this](const std::optional<std::string>& t) { texts.push_back(t); });
        host->set_break_source([this] { return polls++ == break_at; });
    }
    std::string alert() const { return host->alerts().size() == 1 ? host->alerts()[0].text : "(not one alert)"; }

    std::vector<std::optional<std::string>> texts;
    int polls = 0;
    int break_at = -1;
};

TEST_F(Progress, OneTextPerGenerationThenTheBarIsGivenBackAlsoAfterAFailure) {
    ASSERT_EQ("", solve_message());
    ASSERT_EQ(13u, texts.size());
    EXPECT_EQ("Ombrix: trial 1 of 2, generation 1 of 6", texts[0].value());
    EXPECT_EQ(0u, texts[7].value().find("Ombrix: trial 2 of 2, generation 2 of 6, best -"));
    EXPECT_EQ(std::nullopt, texts.back());
    EXPECT_EQ(12, polls);
    EXPECT_TRUE(host->alerts().empty());

    texts.clear();
    formula("D1", "=SQRT(2-A1)");
    EXPECT_EQ(0u, solve_message().find("Failed to get cell value as double"));
    EXPECT_TRUE(texts.size() >= 2 && texts.front() && !texts.back());
    EXPECT_EQ(std::nullopt, host->status());
}

TEST_F(Progress, ABreakKeepsTheBestPointSoFarOrTheStartingValues) {
    for (const int at : {0, 1, 8}) {
        SetUp();
        break_at = at;
        set("C1", Value::text("start"));
        ASSERT_EQ("", solve_message());
        EXPECT_FALSE(host->check_break(false)) << "the break was cleared";
        EXPECT_EQ(std::nullopt, host->status());
        if (at == 0) {
            EXPECT_EQ(0.5, num("A1"));
            EXPECT_EQ("start", std::string(get("C1").as_text()));
            EXPECT_NE(std::string::npos, alert().find("before any point was evaluated")) << alert();
            continue;
        }
        EXPECT_EQ(direct_run(233, true, static_cast<unsigned long long>(at)), variables()) << at;
        const std::vector<double> x = variables();
        EXPECT_EQ(model(x[0], x[1], x[2]), num("D1")) << "recalculated";
        EXPECT_NE(std::string::npos, alert().find(at == 8 ? "trial 2 of 2, generation 3 of 6, after 8 generations;"
                                                          : "generation 2 of 6, after 1 generation;"))
            << alert();
        EXPECT_NE(std::string::npos, alert().find("best point found so far")) << alert();
    }
}

TEST_F(Progress, AHostThatFailsBothCallsStillGetsTheWholeRun) {
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
    EXPECT_EQ(direct_run(233, true), variables());
    EXPECT_EQ(2, asked) << "each refused once, then left alone";
    EXPECT_TRUE(host->alerts().empty());
}

} // namespace
} // namespace solver_test
