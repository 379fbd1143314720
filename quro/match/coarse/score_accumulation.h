// Score maps of the coarse (top-level) search: for one posed template, the sum of the response
// maps of its points at every template position, in one 16-bit image.
#ifndef QURO_MATCH_COARSE_SCORE_ACCUMULATION_H
#define QURO_MATCH_COARSE_SCORE_ACCUMULATION_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/templates.h"
#include "quro/stopwatch.h"

namespace quro {

// What the caller knows of the maps' values: any byte, or response values (computeResponseMaps16
// and ...Abs: the similarity table, within [-kMaxResponse, kMaxResponse]). The result is the same;
// response values let the vector path sum several points in bytes before widening them.
enum class MapValues { any, responses };

// What a caller needs of the scores: the map values (above) and the positions, a rectangle of
// score-map rows and columns (empty: every position). Positions outside it hold 0 and +1 or
// their sums (a window narrower than kRowSpanMin also sums the columns beside it).
struct ScoreScope {
    MapValues values = MapValues::any;
    cv::Rect positions;
};

// Scores one posed template on the 16 response maps of a level.
//
// maps: 16 continuous CV_8SC1 images of one size R x C (computeResponseMaps16 / ...Abs), read
// only. tpl: the posed template; W = max_x - min_x + 1, H = max_y - min_y + 1 its box.
//
// On entry, when deadline.passed(), returns at once and touches neither output.
// Otherwise `score` becomes an R x C CV_16SC1 image and `polarity` an R x C CV_8SC1 image,
// filled with 0 and +1 (an output that already has that size and type keeps its memory, so it must
// not share it with anything the caller still reads). For the linear positions p < N = (R - H + 1)
// * C - W + 1, score[p] is the sum over the template points k, in template order, of maps[code_k][p
// + (y_k - min_y) * C + (x_k - min_x)], every addition saturating to the int16 range: the score of
// the template with the top-left corner of its box at pixel p. Positions whose column is above C -
// W sum across the row end and mean nothing. Positions p >= N stay 0 and +1, and so does everything
// when N <= 0 or the template has no points. With metric < 0, afterwards every p < N with a
// negative sum gets polarity -1 and the absolute sum (32767 for -32768); a zero sum counts as
// positive. The time-out is checked again after every 16 template points; on a late time-out the
// outputs hold partial sums and polarity +1, and the caller discards them.
//
// Throws cv::Exception (an internal fault) for a map list that is not 16 maps of one size,
// continuous and CV_8SC1, and for a template whose lists differ in length, whose codes leave
// 0..15 or whose points leave its box; the outputs are untouched then.
// `scope.values` = responses promises that every map byte lies in [-kMaxResponse, kMaxResponse]
// (score_kernels.h); a map outside that range then gives undefined sums. With scope.positions
// set, only the positions p < N inside it are summed (the time-out is checked after every 16
// points of each band of rows).
void accumulate_similarity(const std::vector<cv::Mat>& maps, const QuantizedTemplate& tpl,
                           int metric, cv::Mat& score, cv::Mat& polarity, const Deadline& deadline,
                           ScoreScope scope = {});

// The same with the lane choice made by the caller (use_avx2(path)): the 32-lane AVX2 loop or
// the one-lane loop; both give the same images. For tests and benchmarks; everything else calls accumulate_similarity.
void accumulate_similarity_with(const std::vector<cv::Mat>& maps, const QuantizedTemplate& tpl,
                                int metric, cv::Mat& score, cv::Mat& polarity,
                                const Deadline& deadline, KernelPath path, ScoreScope scope = {});

// Positions per block of the accumulation: one block of the int16 accumulator (16 KB) stays in
// cache while every template point is added to it.
inline constexpr int kAccumulationBlock = 8192;
// Narrowest window of positions whose columns beside it are skipped (row by row).
inline constexpr int kRowSpanMin = 256;
// Template points added between two time-out checks.
inline constexpr int kAccumulationCheckPoints = 16;

}  // namespace quro

#endif  // QURO_MATCH_COARSE_SCORE_ACCUMULATION_H
