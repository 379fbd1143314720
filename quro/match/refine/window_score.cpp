#include "quro/match/refine/window_score.h"

#include <algorithm>
#include <cmath>

#include "quro/cpu.h"
#include "quro/match/refine/window_kernels.h"
#include "quro/numeric.h"

namespace quro {

void window_kernel_scalar(const float* nx, const float* ny, const std::ptrdiff_t* off,
                          const float* gx, const float* gy, std::size_t n, std::ptrdiff_t base0,
                          std::ptrdiff_t cols, std::ptrdiff_t first, std::ptrdiff_t limit,
                          int size, bool absolute, float* out) {
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            const std::ptrdiff_t base = base0 + j * cols + i;
            float acc = 0.f;
            if (base >= first && base < limit) {
                for (std::size_t k = 0; k < n; ++k) {
                    const std::ptrdiff_t p = base + off[k];
                    // The rounding of the vector kernel: one product, then one fused step.
                    float v = std::fma(gy[k], ny[p], gx[k] * nx[p]);
                    if (absolute) v = std::fabs(v);
                    acc += v;
                }
            }
            out[static_cast<std::ptrdiff_t>(j) * size + i] = acc;
        }
    }
}

NormalMapsRef normal_maps_ref(const cv::Mat& nx, const cv::Mat& ny) {
    CV_Assert(nx.type() == CV_32FC1 && ny.type() == CV_32FC1 && nx.size() == ny.size() &&
              nx.dims == 2 && nx.isContinuous() && ny.isContinuous());
    NormalMapsRef r;
    r.nx = nx.ptr<float>();
    r.ny = ny.ptr<float>();
    r.rows = nx.rows;
    r.cols = nx.cols;
    return r;
}

void prepare_window_template(const NormalTemplate& t, int cols, const int* order,
                             WindowTemplate& out) {
    const std::size_t n = t.size();
    out.offsets.resize(n);
    out.gx.resize(n);
    out.gy.resize(n);
    out.cols = cols;
    if (n == 0) {
        out.min_x = out.min_y = 0;
        out.box_width = out.box_height = 0;
        return;
    }
    out.min_x = t.min_x;
    out.min_y = t.min_y;
    out.box_width = static_cast<std::ptrdiff_t>(t.max_x) - t.min_x + 1;
    out.box_height = static_cast<std::ptrdiff_t>(t.max_y) - t.min_y + 1;
    const std::ptrdiff_t c = cols;
    for (std::size_t p = 0; p < n; ++p) {
        std::size_t k = p;
        if (order) {
            CV_Assert(order[p] >= 0 && static_cast<std::size_t>(order[p]) < n);
            k = static_cast<std::size_t>(order[p]);
        }
        out.offsets[p] = (static_cast<std::ptrdiff_t>(t.ys[k]) - t.min_y) * c +
                         (static_cast<std::ptrdiff_t>(t.xs[k]) - t.min_x);
        out.gx[p] = t.nxs[k];
        out.gy[p] = t.nys[k];
    }
}

namespace {

// First position of a window of `size` cells along an axis of `extent` pixels.
int clamp_window_start(long long start, int size, int extent) {
    if (start + size - 1 > extent - 2) start = static_cast<long long>(extent) - 1 - size;
    if (start < 1) start = 1;
    return static_cast<int>(start);
}

}  // namespace

WindowCorner window_corner_unclamped(const WindowTemplate& t, int px, int py, int reach) {
    const auto start = [](int p, int min, int r) {
        constexpr long long kLimit = 1LL << 30;
        return static_cast<int>(std::clamp(static_cast<long long>(p) + min - r, -kLimit, kLimit));
    };
    return WindowCorner{start(px, t.min_x, reach), start(py, t.min_y, reach)};
}

WindowCorner window_corner(const WindowTemplate& t, int rows, int cols, int px, int py, int reach,
                           int size) {
    return WindowCorner{
        clamp_window_start(static_cast<long long>(px) + t.min_x - reach, size, cols),
        clamp_window_start(static_cast<long long>(py) + t.min_y - reach, size, rows)};
}

void score_window_at(const NormalMapsRef& maps, const WindowTemplate& t, std::size_t begin,
                     std::size_t end, WindowCorner corner, int size, bool absolute, float* out) {
    CV_Assert(t.cols == maps.cols && begin <= end && end <= t.size() && size >= 1);
    const std::ptrdiff_t cols = maps.cols;
    // Cells at or beyond `limit` would read past the last map pixel with some box position; cells
    // below 0 would read before the first.
    const std::ptrdiff_t limit =
        (static_cast<std::ptrdiff_t>(maps.rows) - t.box_height + 1) * cols - t.box_width + 1;
    const std::ptrdiff_t base0 = static_cast<std::ptrdiff_t>(corner.y0) * cols + corner.x0;
    const std::size_t n = end - begin;
    if (n == 0 || maps.rows < 1 || cols < 1) {
        std::fill(out, out + static_cast<std::ptrdiff_t>(size) * size, 0.f);
        return;
    }
    const std::ptrdiff_t* off = t.offsets.data() + begin;
    const float* gx = t.gx.data() + begin;
    const float* gy = t.gy.data() + begin;
    if (use_avx2(KernelPath::automatic))
        window_kernel_avx2(maps.nx, maps.ny, off, gx, gy, n, base0, cols, 0, limit, size, absolute,
                           out);
    else
        window_kernel_scalar(maps.nx, maps.ny, off, gx, gy, n, base0, cols, 0, limit, size,
                             absolute, out);
}

WindowCorner score_window(const NormalMapsRef& maps, const WindowTemplate& t, std::size_t begin,
                          std::size_t end, int px, int py, int reach, int size, bool absolute,
                          float* out) {
    const WindowCorner corner = window_corner(t, maps.rows, maps.cols, px, py, reach, size);
    score_window_at(maps, t, begin, end, corner, size, absolute, out);
    return corner;
}

WindowPeak window_peak(const float* cells, int size, bool positive) {
    const int count = size * size;
    int best = 0;
    if (positive) {
        for (int c = 1; c < count; ++c)
            if (cells[c] > cells[best]) best = c;
    } else {
        for (int c = 1; c < count; ++c)
            if (cells[c] < cells[best]) best = c;
    }
    const float v = cells[best];
    return WindowPeak{positive ? v : -v, best % size, best / size};
}

WindowScorer::WindowScorer(const NormalMapsRef& maps, int border, int metric,
                           PeakPolarity polarity)
    : maps_(maps), border_(border), absolute_(metric == 0), polarity_(polarity) {
    cells_.resize(static_cast<std::size_t>(size_) * static_cast<std::size_t>(size_));
}

void cell_group_ends(const std::vector<int>& cell_index, const std::vector<int>& cell_order,
                     std::vector<std::size_t>& ends) {
    CV_Assert(!cell_index.empty());
    const std::size_t n = cell_index.size() - 1;
    CV_Assert(cell_order.size() >= n);
    ends.clear();
    for (std::size_t p = 0; p < n; ++p) {
        const int k = cell_order[p];
        CV_Assert(k >= 0 && static_cast<std::size_t>(k) < n);
        if (p + 1 == n ||
            cell_index[static_cast<std::size_t>(k)] !=
                cell_index[static_cast<std::size_t>(cell_order[p + 1])])
            ends.push_back(p + 1);
    }
}

void WindowScorer::use_cells(int cell_value, const std::vector<int>& cell_index,
                             const std::vector<int>& cell_order) {
    cell_group_ends(cell_index, cell_order, group_ends_);
    reach_ = std::max(4, cell_value);
    size_ = 2 * reach_ + 1;
    cells_.resize(static_cast<std::size_t>(size_) * static_cast<std::size_t>(size_));
    cell_order_ = &cell_order;
}

void WindowScorer::prepare(const NormalTemplate& t, WindowTemplate& out) const {
    prepare_window_template(t, maps_.cols, cell_order_ ? cell_order_->data() : nullptr, out);
}

WindowMatch WindowScorer::score(const NormalTemplate& t, int px, int py) {
    prepare(t, prepared_);
    return score_prepared(prepared_, px, py);
}

WindowMatch WindowScorer::score_prepared(const WindowTemplate& w, int px, int py) {
    const std::size_t n = w.size();
    CV_Assert(n > 0 && w.cols == maps_.cols);
    WindowMatch m{};
    WindowCorner corner{};
    // Peaks of both polarities are kept when the polarity is to be settled; index 0 positive.
    const bool both = polarity_ == PeakPolarity::either;
    const bool first_positive = polarity_ != PeakPolarity::reversed;
    float total[2] = {0.f, 0.f};
    long long sum_i[2] = {0, 0}, sum_j[2] = {0, 0};
    const auto add_peaks = [&] {
        const WindowPeak a = window_peak(cells_.data(), size_, first_positive);
        total[0] += a.value;
        sum_i[0] += a.i;
        sum_j[0] += a.j;
        if (!both) return;
        const WindowPeak r = window_peak(cells_.data(), size_, false);
        total[1] += r.value;
        sum_i[1] += r.i;
        sum_j[1] += r.j;
    };
    if (!cell_order_) {
        corner = score_window(maps_, w, 0, n, px, py, reach_, size_, absolute_,
                              cells_.data());
        add_peaks();
    } else {
        CV_Assert(!group_ends_.empty() && group_ends_.back() == n);
        std::size_t begin = 0;
        for (const std::size_t end : group_ends_) {
            corner = score_window(maps_, w, begin, end, px, py, reach_, size_, absolute_,
                                  cells_.data());
            add_peaks();
            begin = end;
        }
    }
    const int k = both && total[1] > total[0] ? 1 : 0;
    m.positive = k == 0 && first_positive;
    m.score = total[k] / static_cast<float>(n);
    if (!cell_order_) {
        m.i = static_cast<int>(sum_i[k]);
        m.j = static_cast<int>(sum_j[k]);
    } else {
        const auto groups = static_cast<double>(group_ends_.size());
        m.i = round_half_away(static_cast<double>(sum_i[k]) / groups);
        m.j = round_half_away(static_cast<double>(sum_j[k]) / groups);
    }
    m.x = corner.x0 + m.i - w.min_x - border_;
    m.y = corner.y0 + m.j - w.min_y - border_;
    m.on_edge = m.i == 0 || m.j == 0 || m.i == size_ - 1 || m.j == size_ - 1;
    return m;
}

}  // namespace quro
