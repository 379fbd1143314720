// Candidates of the coarse search: the local maxima of one pose's score map above the level's
// minimum score, with overlapping template boxes suppressed.
#ifndef QURO_MATCH_COARSE_PEAK_EXTRACTION_H
#define QURO_MATCH_COARSE_PEAK_EXTRACTION_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/outline_box.h"
#include "quro/match/templates.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/stopwatch.h"

namespace quro {

// Longest candidate list reserved up front; the reserve is only a capacity hint.
inline constexpr int kMaxPeakReserve = 4096;

// Turns the score map of one pose (accumulate_similarity: `score` CV_16SC1, `polarity` CV_8SC1 of
// the same size, the template `tpl` with n points and box W x H) into candidates.
//
// Returns at once, leaving `out` untouched, when deadline.passed() on entry or `score` is
// empty. Otherwise `out` is replaced by the peaks that survive the box suppression, best first
// (equal scores in scan order); with no template points there are none.
//   Threshold T = (int)((float)(4n) * min_score), saturated to the int range (NaN: no peaks);
//   margin m = orientation_border_of_frame(box.radius, R, C), the frame of the response
//   maps.
//   Scan: rows max(1, min_y + m + 1) .. min(R + min_y - m, R) - 2 and columns
//   max(1, min_x + m + 1) .. min(C + min_x - m, C) - 2, inclusive, row by row: the reference
//   point stays inside the level image. A value v is a peak when v > T and v >= each of its eight
//   neighbours (plateaus give several peaks).
//   A peak at (row, col) becomes Match{x = col - min_x - m, y = row - min_y - m, model id 0,
//   `angle`, scale_row = scale_col = `scale`, score = v * (1.f / (4n)), flag = polarity(row, col),
//   dx = dy = 0} with the box Rect(col, row, W, H).
//   Suppression: NMSBoxes(boxes, scores, min_score, overlap, kept, 1.f).
// For scales at most 1 the template fits wherever the scan goes. With larger scales the scan may
// reach positions that accumulate_similarity left 0 or summed across the row end; there the
// points past the map's edge read the zero frame of the maps, so such a value is a partial sum of
// the points that lie inside. This is kept as it is.
// Throws cv::Exception for a score map of another type, a polarity map of another size or type,
// and (NMSBoxes) a negative or NaN min_score or overlap; `out` is untouched then. The searches
// reject such arguments before any work, so this never happens inside their parallel loops.
void extract_peaks(const cv::Mat& score, const QuantizedTemplate& tpl, float min_score,
                   float overlap, const OutlineBox& box, float angle, float scale,
                   std::vector<Match>& out, const Deadline& deadline, const cv::Mat& polarity);

// As extract_peaks with separate row and column scales for the candidates.
// Built ahead of its caller, the anisotropic search.
void extract_peaks_aniso(const cv::Mat& score, const QuantizedTemplate& tpl, float min_score,
                         float overlap, const OutlineBox& box, float angle, float scale_row,
                         float scale_col, std::vector<Match>& out, const Deadline& deadline,
                         const cv::Mat& polarity);

// The score-map positions extract_peaks (and extract_peaks_aniso) reads for a map of `size`, the
// template `tpl` and the level's box: the rows and columns it scans and their neighbours, or an
// empty rectangle when it reads none. Scores outside it never reach a candidate.
cv::Rect peak_read_window(cv::Size size, const QuantizedTemplate& tpl, const OutlineBox& box);

// Threshold of the peak test for n template points: (int)((float)(4n) * min_score), saturated:
// INT_MAX at or above 2^31 and for NaN (no value passes), INT_MIN at or below -2^31.
int peak_threshold(std::size_t n, float min_score);

}  // namespace quro

#endif  // QURO_MATCH_COARSE_PEAK_EXTRACTION_H
