// Painting of the two image views into BGR buffers: the image resampled onto the checkerboard,
// the drawing lists (contour points, crosses, scores) and the ROI. No Qt: the redraw timer shows
// the buffers.
#ifndef TESSOLIN_VIEW_RENDER_H
#define TESSOLIN_VIEW_RENDER_H

#include <opencv2/core.hpp>
#include <vector>

#include "core/MatchDrawing.h"
#include "core/ViewMath.h"

namespace tessolin {

// out = background (grey or BGR, the view's size) as BGR, and every view pixel (x, y) whose source
// pixel (roundf((x - ox) / zoom), roundf((y - oy) / zoom)) lies inside source (grey or BGR) takes
// it: nearest neighbour, from per-column and per-row index tables. An empty source leaves the
// background; a zoom that is not positive and finite paints no image pixel.
void RenderView(const cv::Mat& background, const cv::Mat& source, const ViewPose& pose,
                cv::Mat& out);

// Draws every record onto view (BGR): each contour point as a segment across its direction
// (gx, gy), zoom long, line_width thick, green, or red where its flag is set (all green without
// flags); each cross with DrawMarker type 1; each score as "%.3f" in Hershey triplex. Points
// outside the view are skipped.
void DrawRecords(cv::Mat& view, const std::vector<MatchDrawing>& records, const ViewPose& pose,
                 int line_width);

// One magenta mark at (x * zoom + ox, y * zoom + oy), arms 10 * zoom long, line_width thick:
// type 0 sets the one pixel, 1 an upright cross, 2 a diagonal cross, 3 a filled circle of
// radius 2. Other types draw nothing.
void DrawMarker(cv::Mat& image, float zoom, float x, float y, float ox, float oy, int type,
                int line_width = 2);

// The ROI between corners p1 and p2 (image pixels): a green rectangle of width 2, a square handle
// at each corner and a dot at the centre.
void DrawRoi(cv::Mat& view, cv::Point p1, cv::Point p2, const ViewPose& pose);

}  // namespace tessolin

#endif  // TESSOLIN_VIEW_RENDER_H
