// Linking of edge candidates into chains, grown from the strongest pixels.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "quro/edges/subpix_detector.h"
#include "quro/numeric.h"

namespace quro {
namespace {

constexpr double kEps = FLT_EPSILON;              // 1.1920929e-7
constexpr double kCos5Deg = 0.99619469809174553;  // cos(0.08726646259971647)

// One row of the neighbour table: two fixed offsets (column, row) and an extra one that is added
// when sign * v + 0.5 < 0.25 + eps, with v the row (test_row) or column position after the step.
struct NeighbourRule {
    int dc0, dr0, dc1, dr1;
    int extra_dc, extra_dr;  // (0, 0): no extra offset
    bool test_row;
    int sign;
};

// [quadrant of w][0: row offset 0, 1: column offset 0, 2: neither 0]
constexpr NeighbourRule kNeighbourTable[4][3] = {
    // w below 90
    {{1, 1, 0, 1, 1, -1, true, 1}, {1, 1, 1, 0, -1, 1, false, 1}, {1, 0, 0, 1, 0, 0, true, 0}},
    // 90 to below 180
    {{1, -1, 0, -1, 1, 1, true, -1}, {1, -1, 1, 0, -1, -1, false, 1}, {1, 0, 0, -1, 0, 0, true, 0}},
    // 180 to below 270
    {{-1, -1, 0, -1, -1, 1, true, -1},
     {-1, -1, -1, 0, 1, -1, false, -1},
     {-1, 0, 0, -1, 0, 0, true, 0}},
    // 270 and above
    {{-1, 1, 0, 1, -1, -1, true, 1}, {-1, 1, -1, 0, 1, 1, false, -1}, {-1, 0, 0, 1, 0, 0, true, 0}},
};

// |a - b| for two angles in degrees in [0, 360], folded into [0, 180].
double angle_gap(double a, double b) {
    double d = std::fabs(a - b);
    if (d > 360.0) d = std::fmod(d, 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

// A walking direction w in degrees with its sine and cosine (the unit step is (sin w, cos w) in
// (x, y)).
struct Direction {
    double deg;
    double sin;
    double cos;
    explicit Direction(double w_deg) : deg(w_deg) {
        const double rad = static_cast<double>(static_cast<float>(w_deg) * kDegToRad);
        sin = std::sin(rad);
        cos = std::cos(rad);
    }
};

// link_candidates() for a direction whose sine and cosine are already known.
LinkOffsets offsets_towards(double oy, double ox, const Direction& dir) {
    double r = oy + dir.cos;
    double c = ox + dir.sin;
    int R = round_half_away(r);
    int C = round_half_away(c);
    if (R == 0 && C == 0) {
        r += dir.cos;
        c += dir.sin;
        R = round_half_away(r);
        C = round_half_away(c);
    }
    LinkOffsets out;
    if (R == 0 && C == 0) return out;  // cannot happen for |ox|, |oy| <= 0.5
    out.dc[0] = C;
    out.dr[0] = R;
    const int quadrant = dir.deg < 90.0 ? 0 : dir.deg < 180.0 ? 1 : dir.deg < 270.0 ? 2 : 3;
    const int kind = R == 0 ? 0 : C == 0 ? 1 : 2;
    const NeighbourRule& rule = kNeighbourTable[quadrant][kind];
    out.dc[1] = rule.dc0;
    out.dr[1] = rule.dr0;
    out.dc[2] = rule.dc1;
    out.dr[2] = rule.dr1;
    out.count = 3;
    if (rule.sign != 0) {
        const double v = rule.test_row ? r : c;
        if (rule.sign * v + 0.5 < 0.25 + kEps) {
            out.dc[3] = rule.extra_dc;
            out.dr[3] = rule.extra_dr;
            out.count = 4;
        }
    }
    return out;
}

// A candidate looked at as the next chain point.
struct Step {
    EdgeCandidate* cand;
    double dx, dy;     // from the current point to its point
    double across;     // distance across the edge
    double dist2;      // squared distance
    double edge_gap;   // difference of the edge angles
    double deviation;  // deviation from the walking direction
};

struct Walker {
    EdgeMaps& maps;
    EdgeChain& chain;
    std::int32_t label;

    int rounded_col(std::size_t i) const { return static_cast<int>(chain.cols[i] + 0.5f); }
    int rounded_row(std::size_t i) const { return static_cast<int>(chain.rows[i] + 0.5f); }

    // Whether (row, col) is the rounded position of one of the chain's last three points.
    bool recent(int row, int col) const {
        const std::size_t n = chain.size();
        for (std::size_t i = n > 3 ? n - 3 : 0; i < n; ++i)
            if (rounded_row(i) == row && rounded_col(i) == col) return true;
        return false;
    }

    // Walks from the seed pixel, along the edge angle (pass 1) or against it (pass 2). Returns
    // true when the walk came back to the seed's pixel, which closes the chain.
    bool walk(int seed_row, int seed_col, bool reverse) {
        const int width = maps.width, height = maps.height;
        int pr = seed_row, pc = seed_col;
        for (;;) {
            const EdgeCandidate& p = maps.candidate_at(pr, pc);
            double wdeg = p.edge_deg;
            if (reverse) {
                wdeg += 180.0;
                if (wdeg > 360.0) wdeg -= 360.0;
            }
            const Direction dir(wdeg);
            const LinkOffsets offs =
                offsets_towards(static_cast<double>(p.y) - pr, static_cast<double>(p.x) - pc, dir);
            Step steps[4];
            int count = 0;
            for (int k = 0; k < offs.count; ++k) {
                const int qr = pr + offs.dr[k], qc = pc + offs.dc[k];
                if (qr < 0 || qr >= height || qc < 0 || qc >= width) continue;
                if (maps.cls[maps.pixel(qr, qc)] == kNoCandidate) continue;
                if (recent(qr, qc)) continue;
                EdgeCandidate& q = maps.candidate_at(qr, qc);
                const double dx = static_cast<double>(q.x) - p.x;
                const double dy = static_cast<double>(q.y) - p.y;
                if (!(dir.sin * dx + dir.cos * dy > 0.0)) continue;
                steps[count++] = Step{
                    &q, dx, dy, 0.0, dx * dx + dy * dy, angle_gap(p.edge_deg, q.edge_deg), 0.0};
            }
            if (count >= 3) {
                for (int k = 0; k < count; ++k) {
                    double s = std::atan2(steps[k].dx, steps[k].dy) * kRadToDegD;
                    if (s < 0.0) s += 360.0;
                    steps[k].deviation = angle_gap(wdeg, s);
                }
                while (count >= 3) {
                    int worst = 0;
                    for (int k = 1; k < count; ++k)
                        if (steps[k].deviation > steps[worst].deviation) worst = k;
                    for (int k = worst; k + 1 < count; ++k) steps[k] = steps[k + 1];
                    --count;
                }
            }
            if (count == 0) return false;
            const double sa = std::sin(static_cast<double>(p.angle));
            const double ca = std::cos(static_cast<double>(p.angle));
            for (int k = 0; k < count; ++k) steps[k].across = ca * steps[k].dy + sa * steps[k].dx;
            const Step* taken;
            if (count == 1) {
                if (!(std::fabs(steps[0].across) < 1.0 + kEps)) return false;
                taken = &steps[0];
            } else {
                const Step& a = steps[0];
                const Step& b = steps[1];
                const double cosab =
                    (a.dx * b.dx + a.dy * b.dy) / (std::sqrt(a.dist2) * std::sqrt(b.dist2));
                const bool same_side = (a.across >= 0.0) == (b.across >= 0.0);
                if (cosab > kCos5Deg || same_side)
                    taken = a.dist2 < b.dist2 ? &a : &b;
                else
                    taken = a.edge_gap < b.edge_gap ? &a : &b;
            }
            if (!(taken->edge_gap < 67.5 + kEps)) return false;
            EdgeCandidate& q = *taken->cand;
            if (q.chain_label != 0) return q.row == seed_row && q.col == seed_col;
            chain.push(q.y, q.x, q.angle);
            q.chain_label = label;
            pr = q.row;
            pc = q.col;
        }
    }
};

}  // namespace

LinkOffsets link_candidates(double oy, double ox, double w_deg) {
    return offsets_towards(oy, ox, Direction(w_deg));
}

std::vector<EdgeChain> link_chains(EdgeMaps& maps, const std::vector<EdgeSeed>& seeds) {
    std::vector<EdgeChain> chains;
    chains.reserve(100);
    EdgeChain chain;
    for (const EdgeSeed& seed : seeds) {
        EdgeCandidate& s = maps.candidates[static_cast<std::size_t>(seed.order)];
        // A seed is done once a chain holds its pixel: it was taken by a walk, or it started a
        // chain of its own earlier in this loop.
        if (s.chain_label != 0) continue;
        const std::int32_t label = static_cast<std::int32_t>(chains.size()) + 1;
        chain.rows.clear();
        chain.cols.clear();
        chain.angles.clear();
        chain.push(s.y, s.x, s.angle);
        s.chain_label = label;
        Walker walker{maps, chain, label};
        const bool closed = walker.walk(seed.row, seed.col, false);
        if (!closed) {
            std::reverse(chain.rows.begin(), chain.rows.end());
            std::reverse(chain.cols.begin(), chain.cols.end());
            std::reverse(chain.angles.begin(), chain.angles.end());
            walker.walk(seed.row, seed.col, true);
        }
        if (chain.size() < 2) {
            // Only the seed's own pixel carries the label: free it, and reuse the number.
            s.chain_label = 0;
            continue;
        }
        chains.push_back(chain);
    }
    return chains;
}

}  // namespace quro
