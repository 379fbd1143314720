// The chain edge detector's core: gradient, sub-pixel edge points, linking, hysteresis and the
// listing of the chains.
#include "quro/edges/chain_detector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "quro/edges/sobel_magnitude.h"

namespace quro {
namespace {

// "a greater than b" of the maxima test: a exceeds b by at least 1000 double epsilons.
constexpr double kMaxMargin = 2.220446049250313e-13;

bool greater(double a, double b) {
    return a > b && a - b >= kMaxMargin;
}

}  // namespace

void ChainMaps::allocate(int width, int height) {
    X = width;
    Y = height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    mod.reset(new double[n]);
    id.reset(new int[n]);
}

void compute_gradient(const double* image, const unsigned char* mask, ChainMaps& m) {
    if (image == nullptr || !m.mod || m.X < 1 || m.Y < 1)
        chain_input_error("compute_gradient: invalid input");
    const int X = m.X, Y = m.Y;
    m.image = image;
    for_each_row(0, Y, X, [&](int y) {
        const std::size_t offset = static_cast<std::size_t>(y) * static_cast<std::size_t>(X);
        double* mod = m.mod.get() + offset;
        for (int x = 0; x < X; ++x) mod[x] = 0.0;
        if (y < 1 || y > Y - 2) return;
        const unsigned char* mrow = mask != nullptr ? mask + offset : nullptr;
        for (int x = 1; x < X - 1; ++x) {
            if (mrow != nullptr && mrow[x] == 0) continue;
            double gx, gy;
            gradient_at(image, X, x, y, gx, gy);
            mod[x] = std::sqrt(gx * gx + gy * gy);
        }
    });
}

// Pixel marks of compute_edge_points' first pass, in the id map.
constexpr int kNoMaximum = -1;
constexpr int kHorizontalMaximum = -2;
constexpr int kVerticalMaximum = -3;

void compute_edge_points(ChainMaps& m) {
    if (m.image == nullptr || !m.mod || !m.id || m.X < 1 || m.Y < 1)
        chain_input_error("compute_edge_points: invalid input");
    const int X = m.X, Y = m.Y;
    const std::size_t w = static_cast<std::size_t>(X);
    // First pass: mark the maxima in the id map and count them per row.
    std::vector<int> first(static_cast<std::size_t>(Y) + 1, 0);
    for_each_row(0, Y, X, [&](int y) {
        int* id = m.id.get() + static_cast<std::size_t>(y) * w;
        for (int x = 0; x < X; ++x) id[x] = kNoMaximum;
        if (y < 2 || y > Y - 3) return;
        const double* row = m.mod.get() + static_cast<std::size_t>(y) * w;
        int k = 0;
        for (int x = 2; x < X - 2; ++x) {
            const double* mod = row + x;
            const double mv = *mod;
            const bool along_row = greater(mv, mod[-1]) && !greater(mod[1], mv);
            const bool along_column = greater(mv, mod[-X]) && !greater(mod[X], mv);
            if (!along_row && !along_column) continue;
            double gx, gy;
            gradient_at(m.image, X, x, y, gx, gy);
            const double ax = std::fabs(gx), ay = std::fabs(gy);
            if (along_row && ax >= ay)
                id[x] = kHorizontalMaximum;
            else if (along_column && ax <= ay)
                id[x] = kVerticalMaximum;
            else
                continue;
            ++k;
        }
        first[static_cast<std::size_t>(y) + 1] = k;
    });
    for (int y = 0; y < Y; ++y) first[y + 1] += first[y];
    const std::size_t total = static_cast<std::size_t>(first[static_cast<std::size_t>(Y)]);
    m.points.resize(total);
    m.strength.resize(total);
    m.next.resize(total);
    m.prev.resize(total);
    // Second pass: number the maxima in pixel order and place them with the parabola through
    // the magnitudes before, at and after the pixel along the direction of the maximum.
    for_each_row(2, Y - 2, X, [&](int y) {
        const std::size_t offset = static_cast<std::size_t>(y) * w;
        int* id = m.id.get() + offset;
        int number = first[static_cast<std::size_t>(y)];
        for (int x = 2; x < X - 2; ++x) {
            if (id[x] == kNoMaximum) continue;
            const bool horizontal = id[x] == kHorizontalMaximum;
            const int step = horizontal ? 1 : X;
            const double* mod = m.mod.get() + offset + x;
            const double a = mod[-step], mv = *mod, c = mod[step];
            const double shift = 0.5 * (a - c) / (a - 2.0 * mv + c);
            ChainPoint& p = m.points[static_cast<std::size_t>(number)];
            p.x = horizontal ? x + shift : x;
            p.y = horizontal ? y : y + shift;
            gradient_at(m.image, X, x, y, p.gx, p.gy);
            m.strength[static_cast<std::size_t>(number)] = mv;
            p.pixel = static_cast<int>(offset) + x;
            m.next[static_cast<std::size_t>(number)] = -1;
            m.prev[static_cast<std::size_t>(number)] = -1;
            id[x] = number++;
        }
    });
}

double chain_score(const ChainMaps& m, int from, int to) {
    if (from == to) return 0.0;
    const ChainPoint& a = m.points[static_cast<std::size_t>(from)];
    const ChainPoint& b = m.points[static_cast<std::size_t>(to)];
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double side_from = a.gy * dx - a.gx * dy;
    const double side_to = b.gy * dx - b.gx * dy;
    if (side_from * side_to <= 0.0) return 0.0;
    const double d = std::sqrt(dx * dx + dy * dy);
    return side_from >= 0.0 ? 1.0 / d : -1.0 / d;
}

namespace {

// The best forward and backward neighbour of one edge point and their scores.
struct LinkCandidates {
    int fwd, bck;
    double fwd_s, bck_s;
};

// Scores every point of the 5 x 5 neighbourhood of edge point `from` at pixel p: fwd gets the
// largest positive score, bck the most negative, the first one met (columns outer, rows inner)
// winning a tie.
LinkCandidates best_neighbours(const ChainMaps& m, int from, int p) {
    const int X = m.X;
    const int* id = m.id.get();
    const ChainPoint& pf = m.points[static_cast<std::size_t>(from)];
    LinkCandidates c{-1, -1, 0.0, 0.0};
    // Squared distances of the best candidates so far: a farther point cannot score better
    // (1/d falls as d grows), so only nearer or equally near ones are scored.
    double fwd_d2 = INFINITY, bck_d2 = INFINITY;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j) {
            const int to = id[p + i + j * X];
            if (to < 0 || to == from) continue;
            const ChainPoint& pt = m.points[static_cast<std::size_t>(to)];
            const double dx = pt.x - pf.x, dy = pt.y - pf.y;
            const double side_from = pf.gy * dx - pf.gx * dy;
            if (side_from * (pt.gy * dx - pt.gx * dy) <= 0.0) continue;
            const double d2 = dx * dx + dy * dy;
            if (side_from >= 0.0 ? d2 > fwd_d2 : d2 > bck_d2) continue;
            const double d = std::sqrt(d2);  // as chain_score(m, from, to)
            const double s = side_from >= 0.0 ? 1.0 / d : -1.0 / d;
            if (s > c.fwd_s) {
                c.fwd_s = s;
                c.fwd = to;
                fwd_d2 = d2;
            }
            if (s < c.bck_s) {
                c.bck_s = s;
                c.bck = to;
                bck_d2 = d2;
            }
        }
    return c;
}

// Columns in the outer loop and rows in the inner one: the points (numbered row by row) listed
// column by column, rows ascending within a column, into order; rank is its inverse. Blocks of
// 16 columns (a cache line of the id map) are scanned in parallel, once to count and once to
// list.
void linking_order(const ChainMaps& m, FillVector<int>& order, FillVector<int>& rank) {
    const int X = m.X, Y = m.Y;
    const std::size_t w = static_cast<std::size_t>(X);
    std::vector<int> first(w + 1, 0);
    constexpr int kBlock = 16;
    const std::size_t blocks = static_cast<std::size_t>((X + kBlock - 1) / kBlock);
    const RangeCut cut{.serial_below = order.size() < 4096 ? blocks + 1 : 2, .grain = 1};
    auto scan = [&](bool list) {
        parallel_for_ranges(blocks, cut, [&](std::size_t begin, std::size_t end) {
            for (std::size_t b = begin; b < end; ++b) {
                const int x0 = static_cast<int>(b) * kBlock, x1 = std::min(X, x0 + kBlock);
                int cursor[kBlock];
                for (int x = x0; x < x1; ++x) cursor[x - x0] = list ? first[x] : 0;
                for (int y = 2; y < Y - 2; ++y) {
                    const int* row = m.id.get() + static_cast<std::size_t>(y) * w;
                    for (int x = x0; x < x1; ++x) {
                        const int k = row[x];
                        if (k < 0) continue;
                        const int pos = cursor[x - x0]++;
                        if (!list) continue;
                        order[static_cast<std::size_t>(pos)] = k;
                        rank[static_cast<std::size_t>(k)] = pos;
                    }
                }
                if (list) continue;
                for (int x = x0; x < x1; ++x)
                    first[static_cast<std::size_t>(x) + 1] = cursor[x - x0];
            }
        });
    };
    scan(false);
    for (std::size_t x = 0; x < w; ++x) first[x + 1] += first[x];
    scan(true);
}

}  // namespace

void chain_edge_points(ChainMaps& m) {
    if (!m.id || m.next.size() != m.points.size() || m.prev.size() != m.points.size())
        chain_input_error("chain_edge_points: invalid input");
    const std::size_t count = m.points.size();
    FillVector<int> order(count), rank(count);
    linking_order(m, order, rank);
    // The neighbours' scores do not depend on the links: they are found for every point at
    // once, in parallel and in numbering order, and stored in linking order. The links are then
    // made one point after another.
    FillVector<LinkCandidates> cand(count);
    parallel_for_ranges(count, RangeCut{.serial_below = 4096, .grain = 2048},
                        [&](std::size_t begin, std::size_t end) {
                            for (std::size_t k = begin; k < end; ++k)
                                cand[static_cast<std::size_t>(rank[k])] =
                                    best_neighbours(m, static_cast<int>(k), m.points[k].pixel);
                        });
    int* next = m.next.data();
    int* prev = m.prev.data();
    for (std::size_t k = 0; k < count; ++k) {
        const int from = order[k];
        const LinkCandidates& c = cand[k];
        const int fwd = c.fwd, bck = c.bck;
        if (fwd >= 0 && next[from] != fwd) {
            const int alt = prev[fwd];
            if (alt < 0 || chain_score(m, alt, fwd) < c.fwd_s) {
                if (next[from] >= 0) prev[next[from]] = -1;
                next[from] = fwd;
                if (alt >= 0) next[alt] = -1;
                prev[fwd] = from;
            }
        }
        if (bck >= 0 && prev[from] != bck) {
            const int alt = next[bck];
            if (alt < 0 || chain_score(m, alt, bck) > c.bck_s) {
                if (alt >= 0) prev[alt] = -1;
                next[bck] = from;
                if (prev[from] >= 0) next[prev[from]] = -1;
                prev[from] = bck;
            }
        }
    }
}

void thresholds_with_hysteresis(ChainMaps& m, double high, double low) {
    if (m.next.size() != m.points.size() || m.prev.size() != m.points.size())
        chain_input_error("thresholds_with_hysteresis: invalid input");
    int* next = m.next.data();
    int* prev = m.prev.data();
    auto mod = [&](int k) { return m.strength[static_cast<std::size_t>(k)]; };
    std::vector<std::uint8_t> valid(m.points.size(), 0);
    // Validates the points reached from i along `ahead` (next or prev) until a valid point or a
    // point below low, whose link from its predecessor is cut both ways.
    auto walk = [&](int* ahead, int* behind, int i) {
        for (int j = i, k; (k = ahead[j]) >= 0 && !valid[k]; j = k) {
            if (mod(k) < low) {
                ahead[j] = -1;
                behind[k] = -1;
                return;
            }
            valid[k] = 1;
        }
    };
    const int count = static_cast<int>(m.points.size());
    for (int i = 0; i < count; ++i) {
        if ((prev[i] < 0 && next[i] < 0) || valid[i] || !(mod(i) >= high)) continue;
        valid[i] = 1;
        walk(next, prev, i);
        walk(prev, next, i);
    }
    for (int i = 0; i < count; ++i)
        if ((prev[i] >= 0 || next[i] >= 0) && !valid[i]) prev[i] = next[i] = -1;
}

void list_edge_chains(ChainMaps& m, EdgeChainList& out) {
    int* next = m.next.data();
    int* prev = m.prev.data();
    out.x.clear();
    out.y.clear();
    out.nx.clear();
    out.ny.clear();
    out.start.clear();
    // Every edge point is listed at most once, plus the repeated first point of a closed chain
    // (which has at least three points).
    const std::size_t cap = m.points.size() + m.points.size() / 3 + 1;
    out.x.reserve(cap);
    out.y.reserve(cap);
    out.nx.reserve(cap);
    out.ny.reserve(cap);
    out.start.reserve(m.points.size() / 2 + 1);
    const int count = static_cast<int>(m.points.size());
    for (int i = 0; i < count; ++i) {
        if (prev[i] < 0 && next[i] < 0) continue;
        out.start.push_back(static_cast<int>(out.x.size()));
        int k = i;
        while (prev[k] >= 0 && prev[k] != i) k = prev[k];
        do {
            const ChainPoint& p = m.points[static_cast<std::size_t>(k)];
            out.x.push_back(p.x);
            out.y.push_back(p.y);
            const double g = m.strength[static_cast<std::size_t>(k)];
            out.nx.push_back(p.gx / g);
            out.ny.push_back(p.gy / g);
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
    // The magnitude's buffer serves as the smoothing's scratch: the gradient overwrites it.
    if (sigma != 0.0) gaussian_filter(image, maps.mod.get(), X, Y, sigma);
    compute_gradient(image, mask, maps);
    compute_edge_points(maps);
    chain_edge_points(maps);
    thresholds_with_hysteresis(maps, high, low);
    EdgeChainList chains;
    list_edge_chains(maps, chains);
    return chains;
}

}  // namespace quro
