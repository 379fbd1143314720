// The chain edge detector's core: gradient, sub-pixel edge points, linking, hysteresis and the
// listing of the chains.
#include "quro/edges/chain_detector.h"

#include <cmath>
#include <cstdint>

#include "quro/edges/sobel_magnitude.h"

namespace quro {
namespace {

// "a greater than b" of the maxima test: a exceeds b by at least 1000 double epsilons.
constexpr double kMaxMargin = 2.220446049250313e-13;

bool greater(double a, double b) { return a > b && a - b >= kMaxMargin; }

}  // namespace

void ChainMaps::allocate(int width, int height) {
    X = width;
    Y = height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    gx.reset(new double[n]);
    gy.reset(new double[n]);
    mod.reset(new double[n]);
    ex.reset(new double[n]);
    ey.reset(new double[n]);
    next.reset(new int[n]);
    prev.reset(new int[n]);
    edges.clear();
}

void compute_gradient(const double* image, const unsigned char* mask, ChainMaps& m) {
    if (image == nullptr || !m.gx || !m.gy || !m.mod || m.X < 1 || m.Y < 1)
        chain_input_error("compute_gradient: invalid input");
    const int X = m.X, Y = m.Y;
    const std::size_t w = static_cast<std::size_t>(X);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < Y; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w;
        double* gx = m.gx.get() + row;
        double* gy = m.gy.get() + row;
        double* mod = m.mod.get() + row;
        for (int x = 0; x < X; ++x) gx[x] = gy[x] = mod[x] = 0.0;
        if (y < 1 || y > Y - 2) continue;
        const double* up = image + row - w;
        const double* mid = image + row;
        const double* down = image + row + w;
        const unsigned char* mrow = mask != nullptr ? mask + row : nullptr;
        for (int x = 1; x < X - 1; ++x) {
            if (mrow != nullptr && mrow[x] == 0) continue;
            double sx, sy;
            sobel_sums(up, mid, down, x - 1, x, x + 1, sx, sy);
            const double a = 0.25 * sx, b = 0.25 * sy;
            gx[x] = a;
            gy[x] = b;
            mod[x] = std::sqrt(a * a + b * b);
        }
    }
}

void compute_edge_points(ChainMaps& m) {
    if (!m.gx || !m.gy || !m.mod || !m.ex || !m.ey || !m.next || !m.prev || m.X < 1 || m.Y < 1)
        chain_input_error("compute_edge_points: invalid input");
    const int X = m.X, Y = m.Y;
    const std::size_t w = static_cast<std::size_t>(X);
    // Per row: the columns of its edge points, written from the row's first entry of `cols`, and
    // their count; joined row by row into m.edges afterwards.
    std::vector<int> count(static_cast<std::size_t>(Y), 0);
    std::unique_ptr<int[]> cols(new int[w * static_cast<std::size_t>(Y)]);
#pragma omp parallel for schedule(static)
    for (int y = 0; y < Y; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w;
        double* ex = m.ex.get() + row;
        double* ey = m.ey.get() + row;
        int* next = m.next.get() + row;
        int* prev = m.prev.get() + row;
        for (int x = 0; x < X; ++x) {
            ex[x] = ey[x] = -1.0;
            next[x] = prev[x] = -1;
        }
        if (y < 2 || y > Y - 3) continue;
        const double* mod = m.mod.get() + row;
        const double* gx = m.gx.get() + row;
        const double* gy = m.gy.get() + row;
        int* found = cols.get() + row;
        int n = 0;
        for (int x = 2; x < X - 2; ++x) {
            const double mv = mod[x];
            const double ax = std::fabs(gx[x]), ay = std::fabs(gy[x]);
            double a, c;
            bool horizontal;
            if (greater(mv, mod[x - 1]) && !greater(mod[x + 1], mv) && ax >= ay) {
                a = mod[x - 1];
                c = mod[x + 1];
                horizontal = true;
            } else if (greater(mv, mod[x - w]) && !greater(mod[x + w], mv) && ax <= ay) {
                a = mod[x - w];
                c = mod[x + w];
                horizontal = false;
            } else {
                continue;
            }
            const double offset = 0.5 * (a - c) / (a - mv - mv + c);
            ex[x] = horizontal ? x + offset : x;
            ey[x] = horizontal ? y : y + offset;
            found[n++] = x;
        }
        count[static_cast<std::size_t>(y)] = n;
    }
    std::size_t total = 0;
    for (const int c : count) total += static_cast<std::size_t>(c);
    m.edges.resize(total);
    std::size_t k = 0;
    for (int y = 0; y < Y; ++y) {
        const int* found = cols.get() + static_cast<std::size_t>(y) * w;
        const int base = y * X;
        for (int i = 0; i < count[static_cast<std::size_t>(y)]; ++i) m.edges[k++] = base + found[i];
    }
}

double chain_score(const ChainMaps& m, int from, int to) {
    if (from == to) return 0.0;
    const double* ex = m.ex.get();
    const double* ey = m.ey.get();
    if (ex[from] < 0.0 || ex[to] < 0.0) return 0.0;
    const double dx = ex[to] - ex[from];
    const double dy = ey[to] - ey[from];
    const double side_from = m.gy[from] * dx - m.gx[from] * dy;
    const double side_to = m.gy[to] * dx - m.gx[to] * dy;
    if (side_from * side_to <= 0.0) return 0.0;
    const double d = std::sqrt(dx * dx + dy * dy);
    return side_from >= 0.0 ? 1.0 / d : -1.0 / d;
}

void chain_edge_points(ChainMaps& m) {
    if (!m.ex || !m.ey || !m.gx || !m.gy || !m.next || !m.prev || m.X < 1 || m.Y < 1)
        chain_input_error("chain_edge_points: invalid input");
    const int X = m.X;
    int* next = m.next.get();
    int* prev = m.prev.get();
    // The edge pixels column by column, rows ascending in each column (a counting sort of the
    // row-major list by column keeps that order).
    std::vector<int> by_column(m.edges.size());
    {
        std::vector<int> first(static_cast<std::size_t>(X) + 1, 0);
        for (const int p : m.edges) ++first[static_cast<std::size_t>(p % X) + 1];
        for (int x = 0; x < X; ++x) first[x + 1] += first[x];
        for (const int p : m.edges) by_column[first[static_cast<std::size_t>(p % X)]++] = p;
    }
    for (const int from : by_column) {
        int fwd = -1, bck = -1;
        double fwd_s = 0.0, bck_s = 0.0;
        for (int i = -2; i <= 2; ++i)
            for (int j = -2; j <= 2; ++j) {
                const int to = from + i + j * X;
                const double s = chain_score(m, from, to);
                if (s > fwd_s) {
                    fwd_s = s;
                    fwd = to;
                }
                if (s < bck_s) {
                    bck_s = s;
                    bck = to;
                }
            }
        if (fwd >= 0 && next[from] != fwd) {
            const int alt = prev[fwd];
            if (alt < 0 || chain_score(m, alt, fwd) < fwd_s) {
                if (next[from] >= 0) prev[next[from]] = -1;
                next[from] = fwd;
                if (alt >= 0) next[alt] = -1;
                prev[fwd] = from;
            }
        }
        if (bck >= 0 && prev[from] != bck) {
            const int alt = next[bck];
            if (alt < 0 || chain_score(m, alt, bck) > bck_s) {
                if (alt >= 0) prev[alt] = -1;
                next[bck] = from;
                if (prev[from] >= 0) next[prev[from]] = -1;
                prev[from] = bck;
            }
        }
    }
}

void thresholds_with_hysteresis(ChainMaps& m, double high, double low) {
    if (!m.mod || !m.next || !m.prev || m.X < 1 || m.Y < 1)
        chain_input_error("thresholds_with_hysteresis: invalid input");
    int* next = m.next.get();
    int* prev = m.prev.get();
    const double* mod = m.mod.get();
    // Only edge pixels carry links, so they are the points to visit, in index order.
    std::vector<std::uint8_t> valid(static_cast<std::size_t>(m.X) * static_cast<std::size_t>(m.Y), 0);
    // Validates the points reached from i along `ahead` (next or prev) until a valid point or a
    // point below low, whose link from its predecessor is cut both ways.
    auto walk = [&](int* ahead, int* behind, int i) {
        for (int j = i, k; (k = ahead[j]) >= 0 && !valid[k]; j = k) {
            if (mod[k] < low) {
                ahead[j] = -1;
                behind[k] = -1;
                return;
            }
            valid[k] = 1;
        }
    };
    for (const int i : m.edges) {
        if ((prev[i] < 0 && next[i] < 0) || valid[i] || !(mod[i] >= high)) continue;
        valid[i] = 1;
        walk(next, prev, i);
        walk(prev, next, i);
    }
    for (const int i : m.edges)
        if ((prev[i] >= 0 || next[i] >= 0) && !valid[i]) prev[i] = next[i] = -1;
}

void list_edge_chains(ChainMaps& m, EdgeChainList& out) {
    int* next = m.next.get();
    int* prev = m.prev.get();
    out.x.clear();
    out.y.clear();
    out.nx.clear();
    out.ny.clear();
    out.start.clear();
    // Every edge point is listed at most once, plus the repeated first point of a closed chain
    // (which has at least three points).
    const std::size_t cap = m.edges.size() + m.edges.size() / 3 + 1;
    out.x.reserve(cap);
    out.y.reserve(cap);
    out.nx.reserve(cap);
    out.ny.reserve(cap);
    out.start.reserve(m.edges.size() / 2 + 1);
    for (const int i : m.edges) {
        if (prev[i] < 0 && next[i] < 0) continue;
        out.start.push_back(static_cast<int>(out.x.size()));
        int k = i;
        while (prev[k] >= 0 && prev[k] != i) k = prev[k];
        do {
            const double g = m.mod[k];
            out.x.push_back(m.ex[k]);
            out.y.push_back(m.ey[k]);
            out.nx.push_back(m.gx[k] / g);
            out.ny.push_back(m.gy[k] / g);
            const int n = next[k];
            next[k] = -1;
            prev[k] = -1;
            k = n;
        } while (k >= 0);
    }
    out.start.push_back(static_cast<int>(out.x.size()));
}

EdgeChainList detect_edge_chains(double* image, int X, int Y, const unsigned char* mask,
                                 double sigma, double high, double low) {
    ChainMaps maps;
    maps.allocate(X, Y);
    // The gradient's x buffer serves as the smoothing's scratch: the gradient overwrites it.
    if (sigma != 0.0) gaussian_filter(image, maps.gx.get(), X, Y, sigma);
    compute_gradient(image, mask, maps);
    compute_edge_points(maps);
    chain_edge_points(maps);
    thresholds_with_hysteresis(maps, high, low);
    EdgeChainList chains;
    list_edge_chains(maps, chains);
    return chains;
}

}  // namespace quro
