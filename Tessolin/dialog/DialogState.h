// What the main dialog knows besides its widgets: the language, the images and their views, the
// ROI, the generated outline, the held models and the drawings of the last search. The dialog
// keeps it private; handlers change it, everyone else reads it through CTessolinDlg::State().
#ifndef TESSOLIN_DIALOG_STATE_H
#define TESSOLIN_DIALOG_STATE_H

#include <QFont>
#include <QSize>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "core/MatchDrawing.h"
#include "core/ViewMath.h"

namespace tessolin {

// A view's redraw state: what it shows and whether the timer still has to paint it. Handlers
// ask for a picture or for a repaint of the one shown; the timer paints what is pending.
class ViewRedraw {
public:
    // Nothing asked for yet (the checkerboard of the start), the plain picture (the search
    // image's display copy; the model view's only kind), the search image with the last
    // search drawn into it.
    enum class Content { kNothing, kPlain, kSearchDrawing };

    void Show(Content content) {
        content_ = content;
        pending_ = true;
    }
    // The picture shown, once more; nothing for a view that has not been asked for one yet.
    void Repaint() { pending_ = content_ != Content::kNothing; }
    void Painted() { pending_ = false; }

    Content Shows() const { return content_; }
    bool Pending() const { return pending_; }

private:
    Content content_ = Content::kNothing;
    bool pending_ = false;
};

struct DialogState {
    int language = 0;  // 0 Chinese, 1 English
    QFont font12, font10;

    // Image view: the image searched (8-bit grey), its colour display copy, the copy searches
    // draw into, the checkerboard behind it and the view as last painted (BGR, view size).
    QSize image_view_size{1026, 925};
    std::string image_view_name = "ImageShow";
    cv::Mat image_src, image_show, image_buf, image_bg, image_view_buf;
    // View pixels per image pixel, the zoom that shows the whole image, and the view position
    // of the image's top-left corner.
    float image_zoom = 1.0f;
    float image_fit_zoom = 1.0f;
    cv::Point2f image_offset;
    ViewRedraw image_redraw;

    // Model view: the model image and its mask (empty for none), the view as last painted and
    // the backgrounds.
    QSize model_view_size{400, 400};
    std::string model_view_name = "ModelShow";
    cv::Mat model_img, model_buf, mask, model_bg, model_checker;
    float model_zoom = 0.8f;
    float model_fit_zoom = 1.0f;
    cv::Point model_offset;
    ViewRedraw model_redraw;

    // The generated outline (DX, DY, Length1, Length2 edits).
    float dx = 0.0f, dy = 0.0f, length1 = 0.0f, length2 = 0.0f;

    // The ROI's corners in image pixels, its normalised rectangle, the drag that edits it, and
    // whether it changed since the timer last estimated its contrast.
    cv::Point roi_p1, roi_p2;
    cv::Rect roi;
    RoiDrag roi_drag;
    bool roi_changed = false;
    // The contrast proposal's ratio: a gradient counts as strong above ratio * 255 of the
    // stretched magnitude range.
    float contrast_ratio = 0.375f;

    int line_width = 2;
    std::vector<int> held_model_ids;
    std::vector<MatchDrawing> match_drawings;  // the last search's matches
    std::vector<MatchDrawing> model_outlines;  // the current model's outline

    int menu_view = 0;     // view of the last context menu: 1 image, 2 model, 0 none
    cv::Point menu_place;  // where it was opened, in that view
};

}  // namespace tessolin

#endif  // TESSOLIN_DIALOG_STATE_H
