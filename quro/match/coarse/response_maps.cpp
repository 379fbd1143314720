#include "quro/match/coarse/response_maps.h"

#include <algorithm>
#include <cstdlib>

#include "quro/match/core_tables.h"
#include "quro/match/coarse/orientation_kernels.h"
#include "quro/match/coarse/score_kernels.h"
#include "quro/parallel.h"

namespace quro {
namespace {

// Whether `maps` are the 16 bands of one block made by an earlier call, of rows x cols each, and
// nothing outside the list holds that block: then writing into it is the same as replacing it,
// and saves the allocation and first-touch cost of a fresh block.
bool reusable_block(const std::vector<cv::Mat>& maps, int rows, int cols) {
    if (maps.size() != 16 || maps[0].u == nullptr) return false;
    const auto band = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    for (std::size_t k = 0; k < 16; ++k) {
        const cv::Mat& m = maps[k];
        if (m.u != maps[0].u || m.rows != rows || m.cols != cols || m.type() != CV_8SC1 ||
            !m.isContinuous() || m.data != maps[0].data + k * band) {
            return false;
        }
    }
    return maps[0].u->refcount == 16;
}

}  // namespace

bool response_maps_with(const cv::Mat& codes, std::vector<cv::Mat>& maps, bool absolute,
                        KernelPath path, const TimeLimit& limit) {
    CV_Assert(codes.empty() || codes.type() == CV_8UC1);
    const int rows = codes.rows;
    const int cols = codes.cols;
    std::int8_t lut[16][16];
    const auto& sim = core_tables().similarity;
    for (int k = 0; k < 16; ++k) {
        for (int c = 0; c < 16; ++c) {
            lut[k][c] = absolute ? static_cast<std::int8_t>(std::abs(sim[k][c])) : sim[k][c];
            // The score accumulation sums response values in bytes (accumulate_rows_narrow_avx2).
            CV_Assert(std::abs(sim[k][c]) <= kMaxResponse);
        }
    }
    // One block holds all 16 maps; each map is a continuous band of it.
    std::vector<cv::Mat> fresh(16);
    if (rows > 0 && cols > 0) {
        if (reusable_block(maps, rows, cols)) {
            fresh.swap(maps);
        } else {
            cv::Mat block(16 * rows, cols, CV_8SC1);
            for (int k = 0; k < 16; ++k) {
                fresh[static_cast<std::size_t>(k)] = block.rowRange(k * rows, (k + 1) * rows);
            }
        }
        const bool avx2 = use_avx2(path);
        const bool linear = codes.isContinuous();
        const auto code_rows = static_cast<std::size_t>(rows);
        parallel_for_ranges(code_rows, RangeCut{}, [&](std::size_t row_begin, std::size_t row_end) {
            std::int8_t* dst[16];
            const int r_begin = static_cast<int>(row_begin), r_end = static_cast<int>(row_end);
            // Rows of a continuous codes image follow each other: one span for a band of rows.
            const int band = linear ? kResponseCheckRows : 1;
            for (int r = r_begin; r < r_end; r += band) {
                if ((r - r_begin) % kResponseCheckRows == 0 && limit.passed()) return;
                const int step_rows = std::min(band, r_end - r);
                for (int k = 0; k < 16; ++k) {
                    dst[k] = fresh[static_cast<std::size_t>(k)].ptr<std::int8_t>(r);
                }
                const auto n = static_cast<std::size_t>(cols) * static_cast<std::size_t>(step_rows);
                if (avx2) response_span_avx2(codes.ptr<std::uint8_t>(r), dst, n, lut);
                else response_span_scalar(codes.ptr<std::uint8_t>(r), dst, n, lut);
            }
        });
    } else {
        for (auto& m : fresh) m.create(rows, cols, CV_8SC1);
    }
    if (limit.passed()) return false;
    maps.swap(fresh);
    return true;
}

void computeResponseMaps16(const cv::Mat& codes, std::vector<cv::Mat>& maps) {
    response_maps_with(codes, maps, false, KernelPath::automatic);
}

void computeResponseMaps16Abs(const cv::Mat& codes, std::vector<cv::Mat>& maps) {
    response_maps_with(codes, maps, true, KernelPath::automatic);
}

}  // namespace quro
