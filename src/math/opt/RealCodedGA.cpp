#include "math/opt/Strategies.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace math {
namespace opt {

namespace {

// Distribution indices 15 for both operators (the usual choices are 15 to 20): with eta + 1 =
// 16 every power is four squarings and every root four square roots, exact the same on every
// platform, where pow would depend on the system's mathematical library.
double power16(double v) {
    v *= v;
    v *= v;
    v *= v;
    return v * v;
}
double root16(double v) { return std::sqrt(std::sqrt(std::sqrt(std::sqrt(v)))); }

const double crossover_rate = 0.9;
// Parents closer than this in a variable are not crossed in it.
const double closest = 1e-14;

// The spread factor of bounded simulated binary crossover, for the room `room` between the
// nearer parent and its bound over the parents' distance d.
double spread(double room, double d, double r) {
    const double beta = 1.0 + 2.0 * room / d;
    const double alpha = 2.0 - 1.0 / power16(beta);
    return r <= 1.0 / alpha ? root16(r * alpha) : root16(1.0 / (2.0 - r * alpha));
}

} // namespace

unsigned int RealCodedGA::tournament(const std::vector<Evaluation>& e) {
    const unsigned int a = run_.index(static_cast<unsigned int>(e.size()));
    const unsigned int b = run_.index(static_cast<unsigned int>(e.size()));
    return better(e[b], e[a]) ? b : a;
}

void RealCodedGA::crossover(std::vector<double>& a, std::vector<double>& b) {
    for (unsigned int j = 0; j < run_.variables(); ++j) {
        if (!(run_.draw() < 0.5))
            continue;
        double y1 = a[j], y2 = b[j];
        if (std::fabs(y1 - y2) <= closest)
            continue;
        if (y1 > y2)
            std::swap(y1, y2);
        const double lo = run_.lower(j), hi = run_.upper(j), d = y2 - y1;
        const double r = run_.draw();
        double c1 = 0.5 * ((y1 + y2) - spread(y1 - lo, d, r) * d);
        double c2 = 0.5 * ((y1 + y2) + spread(hi - y2, d, r) * d);
        c1 = std::min(std::max(c1, lo), hi);
        c2 = std::min(std::max(c2, lo), hi);
        if (run_.draw() < 0.5)
            std::swap(c1, c2);
        a[j] = c1;
        b[j] = c2;
    }
}

void RealCodedGA::mutate(std::vector<double>& x) {
    const double rate = 1.0 / run_.variables();
    for (unsigned int j = 0; j < run_.variables(); ++j) {
        if (!(run_.draw() < rate))
            continue;
        const double lo = run_.lower(j), hi = run_.upper(j), width = hi - lo;
        if (!(width > 0.0))
            continue;
        const double y = x[j];
        const double r = run_.draw();
        double shift;
        if (r < 0.5) {
            const double v = 2.0 * r + (1.0 - 2.0 * r) * power16(1.0 - (y - lo) / width);
            shift = root16(v) - 1.0;
        } else {
            const double v = 2.0 * (1.0 - r) + 2.0 * (r - 0.5) * power16(1.0 - (hi - y) / width);
            shift = 1.0 - root16(v);
        }
        x[j] = std::min(std::max(y + shift * width, lo), hi);
    }
}

void RealCodedGA::run() {
    const unsigned int size = run_.population();
    std::vector<std::vector<double>> x(size), children(size);
    std::vector<Evaluation> ex(size), ec(size);
    std::vector<unsigned int> order(2 * size);
    bool first = true;
    while (run_.next_generation()) {
        if (first) {
            run_.random_population(x, true);
            run_.evaluate_repaired(x, ex);
            first = false;
            continue;
        }
        for (unsigned int k = 0; k < size; k += 2) {
            std::vector<double> a = x[tournament(ex)];
            std::vector<double> b = x[tournament(ex)];
            if (run_.draw() < crossover_rate)
                crossover(a, b);
            mutate(a);
            mutate(b);
            children[k] = a;
            if (k + 1 < size)
                children[k + 1] = b;
        }
        run_.evaluate_repaired(children, ec);
        // The best of parents and children survive; on a tie parents first, then by position.
        std::iota(order.begin(), order.end(), 0u);
        auto eval = [&](unsigned int i) -> const Evaluation& { return i < size ? ex[i] : ec[i - size]; };
        std::stable_sort(order.begin(), order.end(),
                         [&](unsigned int p, unsigned int q) { return better(eval(p), eval(q)); });
        std::vector<std::vector<double>> next(size);
        std::vector<Evaluation> next_e(size);
        for (unsigned int i = 0; i < size; ++i) {
            const unsigned int k = order[i];
            next[i] = k < size ? x[k] : children[k - size];
            next_e[i] = eval(k);
        }
        x.swap(next);
        ex.swap(next_e);
    }
}

} // namespace opt
} // namespace math
