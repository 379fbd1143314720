// Thresholding into a region: the image is cut into bands of whole rows; a first parallel pass
// marks each band's pixels into bits and counts its runs, the output's run arrays are sized once
// for the total, and a second parallel pass writes each band's runs straight into them at the
// band's offset, so the result is the same however the rows were cut.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
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

// One band of rows, row_begin .. row_end - 1: its marks (words_per_row words per row, as the
// marking kernel writes them) and the number of runs they hold.
struct BandMarks {
    int row_begin = 0, row_end = 0;
    std::unique_ptr<std::uint64_t[]> words;
    std::int64_t runs = 0;
};

// The bits of one word where a run starts or ends one column earlier: every change between
// neighbouring bits, given the last bit of the word before (0 before column 0).
std::uint64_t run_changes(std::uint64_t bits, std::uint64_t carry) {
    return bits ^ (bits << 1 | carry);
}

// The first pass of one band: marks every row and counts its runs (their starts: the changes at
// set bits).
void mark_band(const unsigned char* image, int width, int lo, int hi, bool avx2,
               std::size_t words_per_row, BandMarks& band) {
    const std::size_t rows = static_cast<std::size_t>(band.row_end - band.row_begin);
    band.words = std::make_unique_for_overwrite<std::uint64_t[]>(rows * words_per_row);
    std::int64_t runs = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        const unsigned char* row = image + (static_cast<std::size_t>(band.row_begin) + i) *
                                               static_cast<std::size_t>(width);
        std::uint64_t* words = band.words.get() + i * words_per_row;
        if (avx2) {
            mark_row_avx2(row, width, lo, hi, words);
        } else {
            mark_row_scalar(row, width, lo, hi, words);
        }
        std::uint64_t carry = 0;
        for (std::size_t w = 0; w < words_per_row; ++w) {
            runs += std::popcount(words[w] & run_changes(words[w], carry));
            carry = words[w] >> 63;
        }
    }
    band.runs = runs;
}

// The second pass of one band: its runs written from index 0 of the three arrays on, in row then
// column order; changes alternately start and end a run, and a run still open after the last
// column ends at width - 1.
void write_band_runs(const BandMarks& band, int width, std::size_t words_per_row, int* rows,
                     int* col_begins, int* col_ends) {
    std::size_t n = 0;
    for (int y = band.row_begin; y < band.row_end; ++y) {
        const std::uint64_t* words =
            band.words.get() + static_cast<std::size_t>(y - band.row_begin) * words_per_row;
        bool inside = false;
        std::uint64_t carry = 0;
        for (std::size_t w = 0; w < words_per_row; ++w) {
            std::uint64_t changes = run_changes(words[w], carry);
            carry = words[w] >> 63;
            for (; changes != 0; changes &= changes - 1) {
                const int x = static_cast<int>(w * 64) + std::countr_zero(changes);
                if (!inside) {
                    rows[n] = y;
                    col_begins[n] = x;
                } else {
                    col_ends[n++] = x - 1;
                }
                inside = !inside;
            }
        }
        if (inside) col_ends[n++] = width - 1;
    }
}

}  // namespace

void threshold_region(const unsigned char* image, int width, int height, int min_gray,
                      int max_gray, KernelPath path, region& out) {
    region_guarded([&] {
        const int lo = std::max(min_gray, 0);
        const int hi = std::min(max_gray, 255);
        const std::size_t words_per_row = (static_cast<std::size_t>(width) + 63) / 64;
        std::vector<BandMarks> bands;
        if (lo <= hi) {
            const std::vector<int> starts = band_starts(height);
            bands.resize(starts.size() - 1);
            for (std::size_t b = 0; b < bands.size(); ++b) {
                bands[b].row_begin = starts[b];
                bands[b].row_end = starts[b + 1];
            }
            const bool avx2 = use_avx2(path);
            parallel_for_index(bands.size(), [&](std::size_t b) {
                mark_band(image, width, lo, hi, avx2, words_per_row, bands[b]);
            });
        }
        std::vector<std::int64_t> offsets(bands.size() + 1, 0);
        for (std::size_t b = 0; b < bands.size(); ++b)
            offsets[b + 1] = offsets[b] + bands[b].runs;

        // The run arrays are sized once: arrays too small are replaced, not grown, so nothing is
        // copied into them before the runs are written.
        make_sole_owner(out, false);
        release_parts(out);
        if (offsets.back() > out.run_capacity) {
            region sized(0);
            grow_capacity(sized, offsets.back());
            install_run_arrays(out, sized);
        }
        parallel_for_index(bands.size(), [&](std::size_t b) {
            write_band_runs(bands[b], width, words_per_row, out.rows + offsets[b],
                            out.col_begins + offsets[b], out.col_ends + offsets[b]);
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
