// Incremental recalculation: after a change, every formula that depends on it is evaluated
// exactly once, after everything it reads, and nothing else is.

#include "Fixture.hpp"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace enginetest {
namespace {

using host::engine::a1_name;

// A random book checked against a model of it: constants in A1:B100; 200 formulas at
// random places in C1:H60, set in random order, each reading earlier ones (mostly recent
// ones, for long chains), some through the whole of A1:A100. Integer results only, so the
// model's arithmetic is exact.
class RandomBook : public Engine {
protected:
    struct Node {
        CellAddress cell;
        int kind = -1; // -1: a constant
        int p = 0, q = 0;
        double value = 0;
    };

    void SetUp() override {
        Engine::SetUp();
        rng.seed(20240611);
        std::vector<CellAddress> constant_cells, formula_cells;
        for (int r = 0; r < 100; ++r)
            for (int c = 0; c < 2; ++c)
                constant_cells.push_back({0, r, c});
        for (int r = 0; r < 60; ++r)
            for (int c = 2; c < 8; ++c)
                formula_cells.push_back({0, r, c});
        std::shuffle(constant_cells.begin(), constant_cells.end(), rng);
        std::shuffle(formula_cells.begin(), formula_cells.end(), rng);
        const int constants = 30, formulas = 200;
        for (int i = 0; i < constants; ++i) {
            Node n;
            n.cell = constant_cells[std::size_t(i)];
            n.value = double(rng() % 50);
            nodes.push_back(n);
        }
        for (int i = 0; i < formulas; ++i) {
            int k = constants + i;
            auto pick = [&] { return rng() % 2 ? k - 1 - int(rng() % 5) : int(rng() % std::uint32_t(k)); };
            Node n;
            n.cell = formula_cells[std::size_t(i)];
            n.kind = int(rng() % 6);
            n.p = pick();
            n.q = pick();
            nodes.push_back(n);
        }
        std::vector<int> order(nodes.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = int(i);
        std::shuffle(order.begin(), order.end(), rng);
        for (int i : order) {
            const Node& n = nodes[std::size_t(i)];
            if (n.kind < 0)
                wb.set_value(n.cell, N(n.value));
            else
                wb.set_formula(n.cell, text(n));
        }
        wb.recalculate();
        model();
    }

    std::string name(int i) const { return a1_name(nodes[std::size_t(i)].cell.row, nodes[std::size_t(i)].cell.col); }

    std::string text(const Node& n) const {
        std::string p = name(n.p), q = name(n.q);
        switch (n.kind) {
        case 0: return p + "+1";
        case 1: return "MAX(" + p + "," + q + ")+1";
        case 2: return "MIN(" + p + "," + q + ")+2";
        case 3: return "IF(" + p + ">" + q + "," + p + "," + q + "+1)";
        case 4: return "INT(" + p + "/2)+" + q; // INT takes the general road
        default: return "SUM(A1:A100)-" + p;
        }
    }

    double column_a() const {
        double s = 0;
        for (const Node& n : nodes)
            if (n.kind < 0 && n.cell.col == 0)
                s += n.value;
        return s;
    }

    void model() {
        for (Node& n : nodes) {
            double p = nodes[std::size_t(n.p)].value, q = nodes[std::size_t(n.q)].value;
            switch (n.kind) {
            case -1: break;
            case 0: n.value = p + 1; break;
            case 1: n.value = std::max(p, q) + 1; break;
            case 2: n.value = std::min(p, q) + 2; break;
            case 3: n.value = p > q ? p : q + 1; break;
            case 4: n.value = std::floor(p / 2) + q; break;
            default: n.value = column_a() - p; break;
            }
        }
    }

    // The formulas that depend on the changed constants, directly or not.
    std::size_t affected(const std::vector<int>& changed) const {
        std::vector<bool> hit(nodes.size(), false);
        bool column = false;
        for (int i : changed) {
            hit[std::size_t(i)] = true;
            column = column || nodes[std::size_t(i)].cell.col == 0;
        }
        std::size_t count = 0;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const Node& n = nodes[i];
            if (n.kind < 0)
                continue;
            bool reads_q = n.kind >= 1 && n.kind <= 4;
            hit[i] = hit[std::size_t(n.p)] || (reads_q && hit[std::size_t(n.q)]) || (n.kind == 5 && column);
            count += hit[i];
        }
        return count;
    }

    void expect_model() {
        for (const Node& n : nodes)
            ASSERT_TRUE(same(N(n.value), wb.value(n.cell)))
                << a1_name(n.cell.row, n.cell.col) << ": " << (n.kind < 0 ? "constant" : text(n));
    }

    std::vector<Node> nodes;
    std::mt19937 rng;
};

TEST_F(RandomBook, EveryDependentOnceAndInOrder) {
    expect_model();
    std::vector<std::vector<int>> sets;
    for (int round = 0; round < 60; ++round) {
        // Every third round repeats an earlier set of cells, which reuses its order.
        std::vector<int> changed;
        if (round % 3 == 2) {
            changed = sets[rng() % sets.size()];
        } else {
            std::size_t k = 1 + rng() % 3;
            while (changed.size() < k)
                changed.push_back(int(rng() % 30));
            sets.push_back(changed);
        }
        std::vector<std::pair<CellAddress, Value>> writes;
        for (int i : changed) {
            nodes[std::size_t(i)].value = double(rng() % 50);
            writes.push_back({nodes[std::size_t(i)].cell, N(nodes[std::size_t(i)].value)});
        }
        model();
        wb.set_values(writes);
        ASSERT_EQ(affected(changed), recalculated()) << "round " << round;
        expect_model();
    }
    wb.recalculate_all();
    expect_model();
}

TEST_F(RandomBook, ReplacedFormulasReorderTheWork) {
    // Each formula in turn is given other precedents; the changes that follow must see the
    // new dependencies, never an order remembered from before.
    for (int round = 0; round < 40; ++round) {
        std::size_t i = 30 + rng() % 200;
        Node& n = nodes[i];
        n.kind = int(rng() % 6);
        n.p = int(rng() % i);
        n.q = int(rng() % i);
        wb.set_formula(n.cell, text(n));
        int changed = int(rng() % 30);
        nodes[std::size_t(changed)].value = double(rng() % 50);
        model();
        wb.set_value(nodes[std::size_t(changed)].cell, N(nodes[std::size_t(changed)].value));
        wb.recalculate();
        expect_model();
        nodes[std::size_t(changed)].value += 1;
        model();
        wb.set_value(nodes[std::size_t(changed)].cell, N(nodes[std::size_t(changed)].value));
        ASSERT_EQ(affected({changed}), recalculated()) << "round " << round;
        expect_model();
    }
}

using Incremental = Engine;

TEST_F(Incremental, ReversingAChainWithTheSameChangedCell) {
    wb.set_value(at("A1"), N(1));
    wb.set_formula(at("B1"), "A1+1");
    wb.set_formula(at("C1"), "B1+1");
    wb.recalculate();
    for (int x = 2; x < 4; ++x) { // the order for {A1} is now remembered
        wb.set_value(at("A1"), N(x));
        EXPECT_EQ(2u, recalculated());
    }
    wb.set_formula(at("B1"), "C1+1");
    wb.set_formula(at("C1"), "A1+10");
    wb.recalculate();
    wb.set_value(at("A1"), N(100));
    EXPECT_EQ(2u, recalculated());
    EXPECT_TRUE(same(N(110), wb.value(at("C1"))));
    EXPECT_TRUE(same(N(111), wb.value(at("B1")))); // after C1, not before
}

TEST_F(Incremental, AFormulaOverwrittenByAValueStopsListening) {
    wb.set_value(at("A1"), N(1));
    wb.set_formula(at("B1"), "A1*2");
    wb.set_formula(at("C1"), "B1*2");
    wb.recalculate();
    wb.set_value(at("A1"), N(2));
    EXPECT_EQ(2u, recalculated());
    wb.set_value(at("B1"), N(7));
    EXPECT_EQ(1u, recalculated()); // C1
    EXPECT_TRUE(same(N(14), wb.value(at("C1"))));
    wb.set_value(at("A1"), N(3));
    EXPECT_EQ(0u, recalculated());
    EXPECT_TRUE(same(N(7), wb.value(at("B1"))));
    wb.clear(at("B1"));
    EXPECT_EQ(1u, recalculated());
    EXPECT_TRUE(same(N(0), wb.value(at("C1"))));
}

// Ranges too big to follow cell by cell are found through an index by blocks of columns.
TEST_F(Incremental, BigRangesAcrossColumnBlocks) {
    // BJ1:BT100: columns 61 to 71, across the boundary at column 64.
    wb.set_formula(at("A1"), "SUM(BJ1:BT100)");
    wb.set_formula(at("A2"), "A1*2");
    wb.recalculate();
    struct Write {
        const char* cell;
        unsigned evaluations;
    };
    const Write writes[] = {
        {"BJ1", 2}, {"BL50", 2}, {"BM50", 2},  {"BT100", 2}, // inside, either side of the boundary
        {"BI1", 0}, {"BU1", 0},  {"BJ101", 0}, {"BM101", 0}, // just outside
    };
    double sum = 0;
    for (const Write& w : writes) {
        SCOPED_TRACE(w.cell);
        wb.set_value(at(w.cell), N(1));
        sum += w.evaluations ? 1 : 0;
        EXPECT_EQ(w.evaluations, recalculated());
        EXPECT_TRUE(same(N(2 * sum), wb.value(at("A2"))));
    }
}

TEST_F(Incremental, BigRangesUnregisterWithTheirFormula) {
    int other = wb.add_sheet("Other");
    wb.set_formula(at("C1"), "SUM(A1:A1000)");
    wb.set_formula(at("C2"), "SUM(A1:A1000)+1");
    wb.set_formula(at("C3"), "COUNT(A:A)");
    wb.set_formula(at("C4"), "SUM(Other!A1:A1000)");
    wb.set_formula(at("C5"), "SUM(A1:A3)"); // a small range, followed cell by cell
    wb.recalculate();
    wb.set_value(at("A500"), N(1));
    EXPECT_EQ(3u, recalculated()); // C1 to C3
    wb.set_value(at("A3"), N(1));
    EXPECT_EQ(4u, recalculated()); // and C5
    EXPECT_TRUE(same(N(1), wb.value(at("C5"))));
    wb.set_value({other, 499, 0}, N(5));
    EXPECT_EQ(1u, recalculated());
    EXPECT_TRUE(same(N(5), wb.value(at("C4"))));

    wb.set_value(at("C1"), N(0));              // one of two formulas on the same range goes
    wb.set_formula(at("C3"), "SUM(B1:B1000)"); // another moves to another range
    wb.recalculate();
    wb.set_value(at("A500"), N(2));
    EXPECT_EQ(1u, recalculated()); // C2 only
    EXPECT_TRUE(same(N(4), wb.value(at("C2"))));
    wb.set_value(at("A1048576"), N(1)); // the last row of the whole column
    EXPECT_EQ(0u, recalculated());
    wb.set_value(at("B999"), N(4));
    EXPECT_EQ(1u, recalculated());
    EXPECT_TRUE(same(N(4), wb.value(at("C3"))));
}

TEST_F(Incremental, WholeColumnsSeeCellsCreatedLater) {
    wb.set_formula(at("B1"), "SUM(A:A)");
    wb.set_formula(at("B2"), "B1+MAX(A1:A2000)");
    wb.recalculate();
    EXPECT_TRUE(same(N(0), wb.value(at("B2"))));
    for (int row : {1, 1999, 2000, 1048575}) {
        SCOPED_TRACE(row);
        wb.set_value({0, row, 0}, N(row));
        EXPECT_EQ(2u, recalculated()); // B2 also through B1
    }
    EXPECT_TRUE(same(N(1 + 1999 + 2000 + 1048575 + 1999), wb.value(at("B2"))));
}

// A large range that holds formulas and that many formulas read: each reader comes after
// every formula of the range, also where the order goes level by level, and each is
// evaluated once; a range none reads any more is forgotten.
TEST_F(Incremental, ManyReadersOfARangeOfFormulas) {
    wb.set_value(at("A1"), N(1));
    for (int r = 2; r <= 200; ++r) // a chain: A200 is 199 levels down
        wb.set_formula({0, r - 1, 0}, "A" + std::to_string(r - 1) + "+1");
    for (int r = 1; r <= 100; ++r) // 100 readers of the range, in a shape of their own
        wb.set_formula({0, r - 1, 1}, "MAX($A$1:$A$200)+ROW()");
    wb.set_formula(at("C1"), "SUM(B1:B100)");
    wb.recalculate_all();
    EXPECT_TRUE(same(N(100 * 200 + 5050), wb.value(at("C1"))));
    wb.set_value(at("A1"), N(11));
    EXPECT_EQ(199u + 100u + 1u, recalculated());
    EXPECT_TRUE(same(N(100 * 210 + 5050), wb.value(at("C1"))));
    EXPECT_TRUE(same(N(310), wb.value(at("B100"))));
    for (int r = 1; r <= 100; ++r)
        wb.set_value({0, r - 1, 1}, N(1));
    wb.recalculate();
    wb.set_value(at("A1"), N(12));
    EXPECT_EQ(199u, recalculated()); // the chain alone: the range has no reader left
    EXPECT_TRUE(same(N(100), wb.value(at("C1"))));
}

} // namespace
} // namespace enginetest
