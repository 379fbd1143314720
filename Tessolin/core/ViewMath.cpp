#include "core/ViewMath.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tessolin {
namespace {

constexpr float kDialogZoomIn = 1.25f, kDialogZoomOut = 0.8f;
constexpr float kWindowZoomIn = 1.1f, kWindowZoomOut = 0.9f;
constexpr int kScrollLine = 2, kScrollPage = 10;

// One axis of "keep the image point under p": p - int((p - offset) / int(size * old) * scaled
// + 0.5). False when int(size * old) is 0, where the formula has nothing to divide by.
bool KeepAxis(float p, float offset, int size, float old_zoom, float scaled, float& out) {
    const int old_extent = int(float(size) * old_zoom);
    if (old_extent == 0) return false;
    out = p - float(int((p - offset) / float(old_extent) * scaled + 0.5f));
    return true;
}

// The pose at new_zoom keeping the image point under p, or centred when an axis cannot.
ViewPose KeepPoint(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p, float new_zoom,
                   bool whole_size) {
    const float sx = whole_size ? float(image.width) : float(int(float(image.width) * new_zoom));
    const float sy = whole_size ? float(image.height) : float(int(float(image.height) * new_zoom));
    ViewPose out{new_zoom, {}};
    if (!KeepAxis(float(p.x), pose.offset.x, image.width, pose.zoom, sx, out.offset.x) ||
        !KeepAxis(float(p.y), pose.offset.y, image.height, pose.zoom, sy, out.offset.y))
        return CentredPose(image, view, new_zoom);
    return out;
}

}  // namespace

float FitZoom(cv::Size image, cv::Size view) {
    if (image.width < 1 || image.height < 1) return 1.0f;
    // Kept within the wheel's limits: a 2 x 3 image would otherwise fit at a zoom of 300, beyond
    // the cap every other zoom keeps (and a very wide one below the floor).
    return std::clamp(std::min(float(view.height) / float(image.height),
                               float(view.width) / float(image.width)),
                      kMinZoom, kMaxZoom);
}

ViewPose CentredPose(cv::Size image, cv::Size view, float zoom) {
    return {zoom, cv::Point2f(float((view.width - int(float(image.width) * zoom)) / 2),
                              float((view.height - int(float(image.height) * zoom)) / 2))};
}

ViewPose DialogWheelZoom(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p,
                         bool up) {
    if (up)
        return KeepPoint(pose, image, view, p, std::min(pose.zoom * kDialogZoomIn, kMaxZoom),
                         false);
    const float zoom = pose.zoom * kDialogZoomOut;
    if (zoom <= kMinZoom) return CentredPose(image, view, kMinZoom);
    return KeepPoint(pose, image, view, p, zoom, false);
}

ViewPose WindowWheelZoom(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p,
                         bool up) {
    // Capped like the dialog's wheel: uncapped, a few hundred notches overflow the zoom and the
    // image extents computed from it.
    if (up)
        return KeepPoint(pose, image, view, p, std::min(pose.zoom * kWindowZoomIn, kMaxZoom),
                         false);
    // Zooming out that crosses 1 stops at 1 for one step; below 1 it goes on down to the floor.
    // (Snapping every zoom-out at or below 1 to 1, as the window once did, zoomed a shrunk image in
    // and moved it to the view's origin.)
    float zoom = pose.zoom * kWindowZoomOut;
    if (pose.zoom > 1.0f && zoom < 1.0f) zoom = 1.0f;
    if (zoom <= kMinZoom) return CentredPose(image, view, kMinZoom);
    return KeepPoint(pose, image, view, p, zoom, false);
}

ViewPose OneToOne(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p) {
    return KeepPoint(pose, image, view, p, 1.0f, true);
}

cv::Point ClampToView(cv::Point p, cv::Size view) {
    return {std::clamp(p.x, kGrabZone, std::max(kGrabZone, view.width - kGrabZone)),
            std::clamp(p.y, kGrabZone, std::max(kGrabZone, view.height - kGrabZone))};
}

DragMode HitRoi(cv::Point2f c1, cv::Point2f c2, cv::Point p, bool box_on) {
    if (!box_on) return kPan;
    const auto grabs = [&](float x, float y) {
        return std::fabs(float(p.x) - x) <= float(kGrabZone) &&
               std::fabs(float(p.y) - y) <= float(kGrabZone);
    };
    if (grabs(c1.x, c1.y)) return kCorner11;
    if (grabs(c2.x, c1.y)) return kCorner21;
    if (grabs(c2.x, c2.y)) return kCorner22;
    if (grabs(c1.x, c2.y)) return kCorner12;
    const bool inside = float(p.x) >= std::min(c1.x, c2.x) && float(p.x) <= std::max(c1.x, c2.x) &&
                        float(p.y) >= std::min(c1.y, c2.y) && float(p.y) <= std::max(c1.y, c2.y);
    return inside ? kMoveRoi : kPan;
}

RoiCorners DragRoi(const RoiCorners& at_press, DragMode mode, cv::Point2f v1, cv::Point2f v2,
                   cv::Point motion, const ViewPose& pose) {
    // Corners stay within +-2^20 image pixels: far beyond any image, and at the largest zoom still
    // a view position an int holds (drags at the smallest zoom move a corner 40 px per view px).
    const auto to_image = [&](float v, float offset) {
        constexpr double kLimit = 1 << 20;
        return int(std::clamp(std::round(double(v - offset) / pose.zoom), -kLimit, kLimit));
    };
    const float mx = float(motion.x), my = float(motion.y);
    RoiCorners out = at_press;
    // Which coordinates follow the mouse: x1, y1, x2, y2.
    bool moves[4] = {false, false, false, false};
    switch (mode) {
        case kMoveRoi:
            std::fill(moves, moves + 4, true);
            break;
        case kCorner11:
            moves[0] = moves[1] = true;
            break;
        case kCorner21:
            moves[2] = moves[1] = true;
            break;
        case kCorner22:
            moves[2] = moves[3] = true;
            break;
        case kCorner12:
            moves[0] = moves[3] = true;
            break;
        default:
            return out;
    }
    if (moves[0]) out.p1.x = to_image(v1.x + mx, pose.offset.x);
    if (moves[1]) out.p1.y = to_image(v1.y + my, pose.offset.y);
    if (moves[2]) out.p2.x = to_image(v2.x + mx, pose.offset.x);
    if (moves[3]) out.p2.y = to_image(v2.y + my, pose.offset.y);
    return out;
}

cv::Rect NormaliseRoi(cv::Point p1, cv::Point p2) {
    return {std::min(p1.x, p2.x), std::min(p1.y, p2.y), std::abs(p2.x - p1.x),
            std::abs(p2.y - p1.y)};
}

int ScrollPosition(int code, int pos, int thumb, int max) {
    int next = pos;
    switch (code) {
        case kLineUp:
            next = pos - kScrollLine;
            break;
        case kLineDown:
            next = pos + kScrollLine;
            break;
        case kPageUp:
            next = pos - kScrollPage;
            break;
        case kPageDown:
            next = pos + kScrollPage;
            break;
        case kThumbPosition:
        case kThumbTrack:
            next = thumb;
            break;
        default:
            return -1;
    }
    return std::clamp(next, 0, std::max(0, max));
}

int ScrollRange(int image_size, int view_size, float zoom) {
    if (image_size < 1 || !(zoom > 0.0f)) return 0;
    return std::max(0, int(std::ceil(float(image_size) - float(view_size) / zoom)));
}

int ScrollFromOffset(float offset, float zoom, int max) {
    if (!(zoom > 0.0f)) return 0;
    return std::clamp(int(std::round(-offset / zoom)), 0, std::max(0, max));
}

}  // namespace tessolin
