#include "quro/measure/edge_profile.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace quro {

bool place_handle(double x, double y, double angle, double half_length, double half_width,
                  const MeasureImage& image, PlacedHandle* out) {
    if (!(half_length >= 0.0) || !(half_width >= 0.0) || !std::isfinite(angle)) return false;
    const HandleDirections d = handle_directions(angle);
    const double max_x = image.width - 2.0, max_y = image.height - 2.0;
    for (const double along : {-half_length, half_length}) {
        for (const double across : {-half_width, half_width}) {
            const double px = x + along * d.ax + across * d.wx;
            const double py = y + along * d.ay + across * d.wy;
            // Written so that NaN fails too.
            if (!(px >= 1.0 && px <= max_x && py >= 1.0 && py <= max_y)) return false;
        }
    }
    *out = PlacedHandle{x, y, d, static_cast<int>(half_length), static_cast<int>(half_width)};
    return true;
}

bool usable_sigma(double sigma) {
    return sigma > 0.0 && sigma <= kMaxMeasureSigma;
}

std::vector<double> gaussian_derivative_kernel(double sigma) {
    const int h = static_cast<int>(std::ceil(3.46087178201605 * sigma));
    const auto g = [sigma, h](int twice_x) {  // density at x = twice_x / 2
        if (twice_x == -2 * h - 1 || twice_x == 2 * h + 1) return 0.0;
        const double z = 0.5 * twice_x / sigma;
        return 0.3989422804014327 / sigma * std::exp(-0.5 * z * z);
    };
    std::vector<double> taps(static_cast<std::size_t>(2 * h + 1));
    for (int j = -h; j <= h; ++j)
        taps[static_cast<std::size_t>(j + h)] = g(2 * j - 1) - g(2 * j + 1);
    return taps;
}

namespace {

double bilinear(const MeasureImage& image, double x, double y) {
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const double fx = x - fx0, fy = y - fy0;
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::size_t x0 = static_cast<std::size_t>(fx0), y0 = static_cast<std::size_t>(fy0);
    const std::size_t x1 = static_cast<std::size_t>(std::ceil(x));
    const std::size_t y1 = static_cast<std::size_t>(std::ceil(y));
    const unsigned char* r0 = image.pixels + y0 * w;
    const unsigned char* r1 = image.pixels + y1 * w;
    const double top = (1.0 - fx) * r0[x0] + fx * r0[x1];
    const double bottom = (1.0 - fx) * r1[x0] + fx * r1[x1];
    return (1.0 - fy) * top + fy * bottom;
}

}  // namespace

void sample_profile(const MeasureImage& image, const PlacedHandle& h,
                    std::vector<double>& profile) {
    profile.assign(static_cast<std::size_t>(2 * h.half_length + 1), 0.0);
    const double across = 2.0 * h.half_width + 1.0;
    for (int k = -h.half_length; k <= h.half_length; ++k) {
        const double bx = h.cx + k * h.dir.ax, by = h.cy + k * h.dir.ay;
        double sum = 0.0;
        for (int m = -h.half_width; m <= h.half_width; ++m)
            sum += bilinear(image, bx + m * h.dir.wx, by + m * h.dir.wy);
        profile[static_cast<std::size_t>(k + h.half_length)] = sum / across;
    }
}

void derivative_profile(const std::vector<double>& profile, const std::vector<double>& taps,
                        double sigma, std::vector<double>& d) {
    const long long n = static_cast<long long>(profile.size());
    const long long h = static_cast<long long>(taps.size() / 2);
    const double scale = 2.5066282746310002 * sigma;
    d.assign(profile.size(), 0.0);
    for (long long i = 0; i < n; ++i) {
        double sum = 0.0;
        for (long long j = -h; j <= h; ++j) {
            const long long at = std::clamp(i + j, 0LL, n - 1);
            sum += profile[static_cast<std::size_t>(at)] * taps[static_cast<std::size_t>(j + h)];
        }
        d[static_cast<std::size_t>(i)] = sum * scale;
    }
}

void profile_edges(const PlacedHandle& h, const std::vector<double>& d, double threshold,
                   std::vector<MeasuredEdge>& edges) {
    edges.clear();
    const std::size_t n = d.size();
    double largest = 0.0;
    for (const double v : d) largest = std::max(largest, std::fabs(v));
    const double tie = kDerivativeTie * largest;
    const auto place = [&](double t, double amplitude) {
        t -= h.half_length;
        edges.push_back(MeasuredEdge{h.cx + t * h.dir.ax, h.cy + t * h.dir.ay, amplitude});
    };
    // Runs [first, last] of samples that tie with their neighbours; a run with a sample beyond
    // each end is an extremum when both of those lie on the side of 0 away from it.
    for (std::size_t first = 0, last = 0; first < n; first = last + 1) {
        last = first;
        while (last + 1 < n && std::fabs(d[last + 1] - d[last]) <= tie) ++last;
        if (first == 0 || last + 1 == n) continue;
        const double prev = d[first - 1], here = d[first], next = d[last + 1];
        const bool maximum = here > 0.0 && here - prev > tie && here - next > tie;
        const bool minimum = here < 0.0 && prev - here > tie && next - here > tie;
        if (!(maximum || minimum) || !(std::fabs(here) > threshold)) continue;
        if (last - first >= 2) {  // a long plateau: its middle
            place(0.5 * static_cast<double>(first + last), d[(first + last) / 2]);
            continue;
        }
        // The parabola through d[first - 1 .. first + 1]: for a two-sample plateau its vertex
        // lies midway between the two.
        const double after = d[first + 1];
        const double a2 = 0.5 * (prev + after - 2.0 * here);
        const double b1 = 0.5 * (after - prev);
        // a2 is 0 only when rounding flattens a peak of three nearly equal values.
        const double offset = a2 != 0.0 ? -b1 / (2.0 * a2) : 0.0;
        const double amplitude = a2 != 0.0 ? here - b1 * b1 / (4.0 * a2) : here;
        place(static_cast<double>(first) + offset, amplitude);
    }
}

EdgeSelect parse_edge_select(const char* select) {
    struct Named {
        const char* text;
        EdgeSelect rule;
    };
    static constexpr Named kNamed[] = {
        {"first", {EdgeSelect::kFirst, 0}},   {"first+", {EdgeSelect::kFirst, 1}},
        {"first-", {EdgeSelect::kFirst, -1}}, {"last", {EdgeSelect::kLast, 0}},
        {"last+", {EdgeSelect::kLast, 1}},    {"last-", {EdgeSelect::kLast, -1}},
    };
    if (select != nullptr)
        for (const Named& n : kNamed)
            if (std::strcmp(select, n.text) == 0) return n.rule;
    return EdgeSelect{EdgeSelect::kStrongest, 0};
}

int choose_edge(const std::vector<MeasuredEdge>& edges, EdgeSelect rule) {
    const int n = static_cast<int>(edges.size());
    const auto fits = [&](int i) {
        const double a = edges[static_cast<std::size_t>(i)].amplitude;
        return rule.polarity == 0 || (rule.polarity > 0 ? a > 0.0 : a < 0.0);
    };
    switch (rule.order) {
        case EdgeSelect::kFirst:
            for (int i = 0; i < n; ++i)
                if (fits(i)) return i;
            return -1;
        case EdgeSelect::kLast:
            for (int i = n - 1; i >= 0; --i)
                if (fits(i)) return i;
            return -1;
        case EdgeSelect::kStrongest:
            break;
    }
    int best = -1;
    for (int i = 0; i < n; ++i)
        if (best < 0 || std::fabs(edges[static_cast<std::size_t>(i)].amplitude) >
                            std::fabs(edges[static_cast<std::size_t>(best)].amplitude))
            best = i;
    return best;
}

void select_measure_edge(const RRect& handle, const EdgeMeasure& m, MeasureScratch& scratch,
                         double* x, double* y) {
    *x = -1.0;
    *y = -1.0;
    PlacedHandle h;
    if (!place_handle(handle.cx, handle.cy, handle.angle, handle.half_length, handle.half_width,
                      m.image, &h))
        return;
    sample_profile(m.image, h, scratch.profile);
    derivative_profile(scratch.profile, m.taps, m.sigma, scratch.d);
    profile_edges(h, scratch.d, m.threshold, scratch.edges);
    const int i = choose_edge(scratch.edges, m.select);
    if (i < 0) return;
    *x = scratch.edges[static_cast<std::size_t>(i)].x;
    *y = scratch.edges[static_cast<std::size_t>(i)].y;
}

}  // namespace quro
