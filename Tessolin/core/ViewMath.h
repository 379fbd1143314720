// The arithmetic of the two image views: zoom steps, one-to-one and fit, the ROI's grab zones,
// drags and scroll positions. No Qt and no drawing; the dialog's handlers apply the results.
#ifndef TESSOLIN_VIEW_MATH_H
#define TESSOLIN_VIEW_MATH_H

#include <opencv2/core.hpp>

namespace tessolin {

// Where an image lies in a view: view pixels per image pixel, and the view position of the
// image's top-left corner. A view point v shows the image point (v - offset) / zoom.
struct ViewPose {
    float zoom = 1.0f;
    cv::Point2f offset;
};

// The zoom limits of both views.
inline constexpr float kMinZoom = 0.025f, kMaxZoom = 128.0f;

// min(view height / rows, view width / cols) within [kMinZoom, kMaxZoom]; 1 for an empty image.
float FitZoom(cv::Size image, cv::Size view);
// The image at zoom, centred: offset = (view size - int(size * zoom)) / 2 per axis.
ViewPose CentredPose(cv::Size image, cv::Size view, float zoom);

// Dialog wheel over a view: up multiplies the zoom by 1.25 (at most 128), down by 0.8; a zoom of
// 0.025 or less becomes 0.025 with the image centred. Otherwise the image point under p stays:
// offset = p - int((p - offset) / int(size * old) * int(size * new) + 0.5) per axis. When
// int(size * old) is 0 on an axis (a small image far zoomed out) the image is centred instead.
ViewPose DialogWheelZoom(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p, bool up);
// Wheel inside the image view's own window: x1.1 up (at most 128), x0.9 down, keeping the point
// under p as above; a zoom-out from above 1 to below 1 stops at 1, and one to 0.025 or less gives
// 0.025 centred. Up always zooms in and down out.
ViewPose WindowWheelZoom(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p, bool up);
// Zoom 1 with the image point under p kept: offset = p - int((p - offset) / int(size * old) *
// size + 0.5) per axis; centred where int(size * old) is 0.
ViewPose OneToOne(const ViewPose& pose, cv::Size image, cv::Size view, cv::Point p);

// Drag modes of the image view.
enum DragMode {
    kNoDrag = -1,
    kMoveRoi = 0,
    kCorner11 = 1,
    kCorner21,
    kCorner22,
    kCorner12,
    kPan = 5
};
inline constexpr int kGrabZone = 10;  // px around a ROI corner, and the margin of mouse positions

// The mouse position clamped to [10, size - 10] on each axis.
cv::Point ClampToView(cv::Point p, cv::Size view);
// The drag a press at p starts. c1 = (x1, y1) and c2 = (x2, y2) are the ROI corners in view
// coordinates. With the ROI box off every press pans. Otherwise the grab zones (+-10 px) are
// tested in the order (x1,y1), (x2,y1), (x2,y2), (x1,y2); then inside the rectangle moves it;
// elsewhere pans.
DragMode HitRoi(cv::Point2f c1, cv::Point2f c2, cv::Point p, bool box_on);

struct RoiCorners {
    cv::Point p1, p2;  // (x1, y1) and (x2, y2) in image pixels
};
// The corners after dragging by motion (view pixels since the press) in a ROI mode, from their
// view positions v1, v2 at the press; each moved coordinate goes back to image pixels as
// round((view - offset) / zoom). Other modes return the corners unchanged.
RoiCorners DragRoi(const RoiCorners& at_press, DragMode mode, cv::Point2f v1, cv::Point2f v2,
                   cv::Point motion, const ViewPose& pose);
// A drag in the image view: its mode, where it started and where the mouse was last, and the
// ROI corners (image and view positions) at the press.
struct RoiDrag {
    DragMode mode = kNoDrag;
    cv::Point press, last;
    RoiCorners corners;
    cv::Point2f v1, v2;
};

// Minimum corner and absolute extents.
cv::Rect NormaliseRoi(cv::Point p1, cv::Point p2);

// Scroll bar codes, as the window system numbers them.
enum ScrollCode {
    kLineUp = 0,
    kLineDown = 1,
    kPageUp = 2,
    kPageDown = 3,
    kThumbPosition = 4,
    kThumbTrack = 5
};
// The new scroll position: lines move by 2, pages by 10, thumb codes go to thumb; the result
// stays in [0, max]. -1 for any other code (left to the default handling).
int ScrollPosition(int code, int pos, int thumb, int max);
// Scroll bars count image pixels: the range on an axis is what does not fit into the view,
// max(0, ceil(size - view / zoom)), and position s puts the image offset at -s * zoom. The
// range follows every zoom; an image that fits has range 0.
int ScrollRange(int image_size, int view_size, float zoom);
int ScrollFromOffset(float offset, float zoom, int max);

}  // namespace tessolin

#endif  // TESSOLIN_VIEW_MATH_H
