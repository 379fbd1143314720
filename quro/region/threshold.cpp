// Thresholding into a region: the image is cut into bands of whole rows, each band is scanned into
// runs of its own in parallel, and the bands' runs are then copied into the output one after the
// other, so the result is the same however the rows were cut.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/region/region_buffers.h"
#include "quro/region/threshold.h"
#include "quro/region/threshold_kernels.h"

namespace quro {

void mark_row_scalar(const unsigned char* row, int width, int lo, int hi, std::uint64_t* words) {
    const unsigned span = static_cast<unsigned>(hi - lo);
    for (std::int64_t w = 0; w * 64 < width; ++w) {
        const int n = static_cast<int>(std::min<std::int64_t>(64, width - w * 64));
        const unsigned char* p = row + static_cast<std::size_t>(w) * 64;
        std::uint64_t bits = 0;
        for (int k = 0; k < n; ++k)
            bits |= std::uint64_t{static_cast<unsigned>(p[k]) - static_cast<unsigned>(lo) <= span}
                    << k;
        words[w] = bits;
    }
}

namespace {

// Bands of whole rows: at most one per hardware thread, none thinner than 8 rows (an image of
// fewer than 16 rows is one band). The first height % n bands get one row more.
std::vector<int> band_starts(int height) {
    const int threads = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const int n = std::min(std::max(1, height / 8), threads);
    std::vector<int> starts(static_cast<std::size_t>(n) + 1, 0);
    for (int i = 0; i < n; ++i) starts[i + 1] = starts[i] + height / n + (i < height % n ? 1 : 0);
    return starts;
}

// The scan of one band, rows row_begin .. row_end - 1, appending its runs to `band` (one band's
// task): each row is marked into bits, and every change between neighbouring bits starts or ends
// a run; a run still open after the last column ends at width - 1.
void threshold_rows(const unsigned char* image, int width, int row_begin, int row_end, int lo,
                    int hi, bool avx2, region& band) {
    const int num_words = static_cast<int>((std::int64_t{width} + 63) / 64);
    std::vector<std::uint64_t> words(static_cast<std::size_t>(num_words));
    int n = band.num_runs;
    const auto append = [&](int row, int begin, int end) {
        if (n >= band.run_capacity) grow_to(band, n);
        band.rows[n] = row;
        band.col_begins[n] = begin;
        band.col_ends[n] = end;
        band.num_runs = ++n;
    };
    for (int y = row_begin; y < row_end; ++y) {
        const unsigned char* row =
            image + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        if (avx2) {
            mark_row_avx2(row, width, lo, hi, words.data());
        } else {
            mark_row_scalar(row, width, lo, hi, words.data());
        }
        bool inside = false;
        int begin = 0;
        std::uint64_t carry = 0;  // the last bit of the previous word
        for (int w = 0; w < num_words; ++w) {
            const std::uint64_t bits = words[static_cast<std::size_t>(w)];
            std::uint64_t changes = bits ^ (bits << 1 | carry);
            carry = bits >> 63;
            for (; changes != 0; changes &= changes - 1) {
                const int x = w * 64 + std::countr_zero(changes);
                if (!inside) begin = x;
                else append(y, begin, x - 1);
                inside = !inside;
            }
        }
        if (inside) append(y, begin, width - 1);
    }
}

}  // namespace

void threshold_region(const unsigned char* image, int width, int height, int min_gray,
                      int max_gray, KernelPath path, region& out) {
    region_guarded([&] {
        const int lo = std::max(min_gray, 0);
        const int hi = std::min(max_gray, 255);
        std::vector<int> starts{0};
        std::vector<region> bands;
        if (lo <= hi) {
            starts = band_starts(height);
            bands.resize(starts.size() - 1);
            const bool avx2 = use_avx2(path);
            parallel_for_index(bands.size(), [&](std::size_t b) {
                threshold_rows(image, width, starts[b], starts[b + 1], lo, hi, avx2, bands[b]);
            });
        }
        std::vector<std::int64_t> offsets(bands.size() + 1, 0);
        for (std::size_t b = 0; b < bands.size(); ++b)
            offsets[b + 1] = offsets[b] + bands[b].num_runs;

        make_sole_owner(out, false);
        release_parts(out);
        grow_capacity(out, offsets.back());
        parallel_for_index(bands.size(), [&](std::size_t b) {
            const region& band = bands[b];
            if (band.num_runs == 0) return;
            std::copy_n(band.rows, band.num_runs, out.rows + offsets[b]);
            std::copy_n(band.col_begins, band.num_runs, out.col_begins + offsets[b]);
            std::copy_n(band.col_ends, band.num_runs, out.col_ends + offsets[b]);
        });
        out.num_runs = static_cast<int>(offsets.back());
        out.width = width;
        out.height = height;
    });
}

}  // namespace quro

extern "C" void threshold_y(unsigned char* image, int width, int height, int min_gray,
                            int max_gray, quro::region* out) {
    if (image == nullptr || out == nullptr || width < 1 || height < 1) return;
    quro::threshold_region(image, width, height, min_gray, max_gray, quro::KernelPath::automatic,
                           *out);
}
