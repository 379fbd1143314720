#include "core/ViewRender.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

namespace tessolin {
namespace {

const cv::Vec3b kGreen(0, 255, 0), kRed(0, 0, 255);
const cv::Scalar kMagenta(255, 0, 255), kRoiGreen(0, 255, 0), kScoreColour(0, 255, 255);
constexpr float kSegmentPerZoom = 1.0f;  // a contour point's segment is one image pixel long
constexpr float kScoreScale = 0.6f;
constexpr int kRoiWidth = 2, kHandleHalf = 4, kCentreDot = 2;

// Source index of every view position on one axis (-1 outside the image), and the first and
// last position that has one (first > last when none has).
struct AxisTable {
    std::vector<int> index;
    int first = 0, last = -1;
};

AxisTable MakeAxisTable(int view_size, int image_size, float offset, float zoom, int stride) {
    AxisTable t;
    t.index.assign(std::size_t(std::max(view_size, 0)), -1);
    if (!(zoom > 0.0f) || !std::isfinite(zoom)) return t;
    t.first = view_size;
    for (int v = 0; v < view_size; ++v) {
        const float s = std::round((float(v) - offset) / zoom);
        if (!(s >= 0.0f && s < float(image_size))) continue;
        t.index[std::size_t(v)] = int(s) * stride;
        t.first = std::min(t.first, v);
        t.last = v;
    }
    return t;
}

// A line_width square at (x, y), clipped to the view.
void Stamp(cv::Mat& view, int x, int y, int width, const cv::Vec3b& colour) {
    const int x0 = std::max(x - (width - 1) / 2, 0), x1 = std::min(x + width / 2, view.cols - 1);
    const int y0 = std::max(y - (width - 1) / 2, 0), y1 = std::min(y + width / 2, view.rows - 1);
    for (int yy = y0; yy <= y1; ++yy) {
        cv::Vec3b* row = view.ptr<cv::Vec3b>(yy);
        for (int xx = x0; xx <= x1; ++xx) row[xx] = colour;
    }
}

// The segment a-b as stamps along it: short segments at low zoom cost two stamps, not a
// polygon fill.
void Segment(cv::Mat& view, cv::Point2f a, cv::Point2f b, int width, const cv::Vec3b& colour) {
    const cv::Point2f d = b - a;
    const int steps = std::max(1, int(std::ceil(std::max(std::fabs(d.x), std::fabs(d.y)))));
    for (int i = 0; i <= steps; ++i) {
        const cv::Point2f p = a + d * (float(i) / float(steps));
        Stamp(view, int(std::lround(p.x)), int(std::lround(p.y)), width, colour);
    }
}

bool NearView(const cv::Mat& view, cv::Point2f p, float margin) {
    return p.x >= -margin && p.y >= -margin && p.x < float(view.cols) + margin &&
           p.y < float(view.rows) + margin;
}

void DrawPoints(cv::Mat& view, const MatchDrawing& record, const ViewPose& pose, int width) {
    const float half = 0.5f * kSegmentPerZoom * pose.zoom;
    const float margin = half + float(width);
    const bool flagged = record.point_flags.size() >= record.points.size();
    for (std::size_t i = 0; i < record.points.size(); ++i) {
        const auto& [x, y, gx, gy] = record.points[i];
        const cv::Point2f v(x * pose.zoom + pose.offset.x, y * pose.zoom + pose.offset.y);
        if (!NearView(view, v, margin)) continue;
        const float norm = std::hypot(gx, gy);
        // Along the edge: across the gradient direction.
        const cv::Point2f along =
            norm > 0.0f ? cv::Point2f(-gy / norm, gx / norm) : cv::Point2f(1.0f, 0.0f);
        const cv::Vec3b& colour = flagged && record.point_flags[i] != 0 ? kRed : kGreen;
        Segment(view, v - along * half, v + along * half, width, colour);
    }
}

}  // namespace

void RenderView(const cv::Mat& background, const cv::Mat& source, const ViewPose& pose,
                cv::Mat& out) {
    if (background.empty()) {
        out.release();
        return;
    }
    if (background.channels() == 1)
        cv::cvtColor(background, out, cv::COLOR_GRAY2BGR);
    else
        background.copyTo(out);
    if (source.empty() || source.depth() != CV_8U ||
        (source.channels() != 1 && source.channels() != 3))
        return;
    const int channels = source.channels();
    const AxisTable cols = MakeAxisTable(out.cols, source.cols, pose.offset.x, pose.zoom, channels);
    const AxisTable rows = MakeAxisTable(out.rows, source.rows, pose.offset.y, pose.zoom, 1);
    for (int y = rows.first; y <= rows.last; ++y) {
        const uchar* src = source.ptr<uchar>(rows.index[std::size_t(y)]);
        cv::Vec3b* dst = out.ptr<cv::Vec3b>(y);
        const int* index = cols.index.data();
        if (channels == 1) {
            for (int x = cols.first; x <= cols.last; ++x) {
                const uchar g = src[index[x]];
                dst[x] = cv::Vec3b(g, g, g);
            }
        } else {
            for (int x = cols.first; x <= cols.last; ++x) {
                const uchar* s = src + index[x];
                dst[x] = cv::Vec3b(s[0], s[1], s[2]);
            }
        }
    }
}

void DrawRecords(cv::Mat& view, const std::vector<MatchDrawing>& records, const ViewPose& pose,
                 int line_width) {
    if (view.empty() || view.type() != CV_8UC3) return;
    const int width = std::max(line_width, 1);
    for (const MatchDrawing& record : records) {
        DrawPoints(view, record, pose, width);
        for (const auto& [x, y] : record.crosses)
            DrawMarker(view, pose.zoom, x, y, pose.offset.x, pose.offset.y, 1, width);
        for (const auto& [x, y, score] : record.labels) {
            const cv::Point2f at(x * pose.zoom + pose.offset.x, y * pose.zoom + pose.offset.y);
            if (!NearView(view, at, 200.0f)) continue;
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", double(score));
            cv::putText(view, text, cv::Point(int(std::lround(at.x)), int(std::lround(at.y))),
                        cv::FONT_HERSHEY_TRIPLEX, kScoreScale, kScoreColour, 1, cv::LINE_AA);
        }
    }
}

void DrawMarker(cv::Mat& image, float zoom, float x, float y, float ox, float oy, int type,
                int line_width) {
    if (image.empty()) return;
    const cv::Point2f c(x * zoom + ox, y * zoom + oy);
    const float arm = 10.0f * zoom;
    if (!NearView(image, c, arm + 4.0f)) return;
    const int width = std::max(line_width, 1);
    const auto at = [](float px, float py) {
        return cv::Point(int(std::lround(px)), int(std::lround(py)));
    };
    switch (type) {
        case 0:
            if (c.x >= 0.0f && c.y >= 0.0f && int(c.x) < image.cols && int(c.y) < image.rows)
                cv::line(image, at(c.x, c.y), at(c.x, c.y), kMagenta, 1);
            break;
        case 1:
            cv::line(image, at(c.x - arm, c.y), at(c.x + arm, c.y), kMagenta, width);
            cv::line(image, at(c.x, c.y - arm), at(c.x, c.y + arm), kMagenta, width);
            break;
        case 2:
            cv::line(image, at(c.x - arm, c.y - arm), at(c.x + arm, c.y + arm), kMagenta, width);
            cv::line(image, at(c.x - arm, c.y + arm), at(c.x + arm, c.y - arm), kMagenta, width);
            break;
        case 3:
            cv::circle(image, at(c.x, c.y), 2, kMagenta, cv::FILLED);
            break;
        default:
            break;
    }
}

void DrawRoi(cv::Mat& view, cv::Point p1, cv::Point p2, const ViewPose& pose) {
    if (view.empty()) return;
    const auto to_view = [&](float x, float y) {
        return cv::Point(int(std::lround(x * pose.zoom + pose.offset.x)),
                         int(std::lround(y * pose.zoom + pose.offset.y)));
    };
    const cv::Point a = to_view(float(p1.x), float(p1.y)), b = to_view(float(p2.x), float(p2.y));
    cv::rectangle(view, a, b, kRoiGreen, kRoiWidth);
    for (const cv::Point& corner : {a, cv::Point(b.x, a.y), b, cv::Point(a.x, b.y)})
        cv::rectangle(view, corner - cv::Point(kHandleHalf, kHandleHalf),
                      corner + cv::Point(kHandleHalf, kHandleHalf), kRoiGreen, cv::FILLED);
    cv::circle(view, (a + b) / 2, kCentreDot, kRoiGreen, cv::FILLED);
}

}  // namespace tessolin
