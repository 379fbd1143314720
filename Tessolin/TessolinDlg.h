// CTessolinDlg: the workbench's main dialog. It holds the two OpenCV views, the parameter
// controls, the command buttons, the status line and the debug console. Controls are reached by
// their ids (ControlIds.h) through `controls`; menu and toolbar actions and buttons all arrive in
// OnCommandId.
#ifndef TESSOLIN_TESSOLIN_DLG_H
#define TESSOLIN_TESSOLIN_DLG_H

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "Console.h"
#include "ControlMap.h"
#include "CvViewHost.h"
#include "FindSupport.h"
#include "MatchDrawing.h"
#include "Platform.h"

class QToolBar;

namespace tessolin {

class CLabel;
class CMsgWindow;
class CNumSpinCtrl;
class KeyFilter;

class CTessolinDlg : public QDialog, public ViewOwner {
    Q_OBJECT
public:
    // dialogs and prompts may be null (the desktop's own are used); the dialog does not own
    // non-null ones. Runs OnInitDialog.
    explicit CTessolinDlg(DialogOptions options = {}, FileDialogs* dialogs = nullptr,
                          Prompts* prompts = nullptr, QWidget* parent = nullptr);
    ~CTessolinDlg() override;

    // Buttons, menu items and toolbar actions. False for an id without a handler.
    bool OnCommandId(int id);

    // Frame handlers.
    void OnBnClickedPrint();
    void OnBnClickedClose();
    void OnBnClickedCls();
    void OnBnClickedOpen();
    void OnBnClickedSubPixelContour() {}
    void OnShowWindowMessage();
    // Text of the language button's tooltip: "W x H" of the open image, empty without one.
    QString OnToolTipNotify() const;
    // Frees every held model id (once) and closes the dialog.
    void DestroyWindow();
    void OnTimer() {}

    // Language and status line.
    void ApplyLanguage(int flag);
    void OnBnClickedLanguage();
    // Shows text on the status line, level 0 blue, 1 red, 2 green, in white; repainted at once.
    void ShowStatus(const QString& text, int level);
    void OnCtlColor();

    // Parameter controls. The scale range edits are enabled exactly when the scale mode is not
    // "none". A double-click on the scale mode label toggles the scale range between 1/1 and the
    // mode's default range (0.9/1.1 deformable, 0.5/2.0 isotropic and anisotropic).
    void OnCbnSelchangeScaleMode();
    void OnStnDblclkScaleMode();
    // save false: writes DX, DY, Length1 and Length2 into their edits ("%.6g"). save true: reads
    // them back; each must be a finite number within +-1000. On failure nothing is stored, the
    // status line shows in red which edit failed, and the result is false.
    bool UpdateData(bool save);
    // The spinner registered under id (edit or spinner id), or nullptr.
    CNumSpinCtrl* Spin(int id) const;

    // Model commands. Create learns a model from the generated outline (Length1 != 0), the ROI of
    // the search image (ROI box on) or the model image; find searches the search image for the
    // last held model (scale mode "none"); clear frees every held model. Every parameter is
    // range-checked first: the first failure ends the command with a red status message.
    void OnBnClickedCreateModel();
    void OnBnClickedFindModel();
    void OnBnClickedClearModels();
    // Shared by the search commands. ReadFindParams reads and checks the search parameters in
    // order (false, with a red status for the first failure, or without a grey search image);
    // ApplySearchSettings sets the model's timeout, metric and minimum contrast; ShowMatches
    // prints, draws (through the match details) and reports the matches of a search.
    bool ReadFindParams(FindParams& params);
    void ApplySearchSettings(int id, const FindParams& params, int timeout);
    void ShowMatches(quro::Match* matches, int count, const FindParams& params, double ms);
    // Large-image search: the find command's checks, then the current model searched tile by
    // tile (TiledSearch.h) with a time-out of 1000 ms per tile, each match drawn with its model
    // outline at the match's pose.
    void OnBnClickedFindLargeImage();
    // Replaces the model outline list by the outline of model id, centred on the model image.
    void ShowModelContours(int id);
    // The image searched (8-bit grey) and its colour display copy.
    void setSearchImage(const cv::Mat& image);
    // The model image and its mask (empty for none); shown in the model view at the fit zoom.
    void setModelImage(const cv::Mat& image, const cv::Mat& mask);

    // Mouse callbacks of the views (user data: the dialog).
    static void OnImageMouse(int event, int x, int y, int flags, void* dialog);
    static void OnModelMouse(int event, int x, int y, int flags, void* dialog);

    // ViewOwner.
    void ViewPressed(CvViewHost* view) override { last_pressed_view_ = view; }
    CvViewHost* LastPressedView() const override { return last_pressed_view_; }
    void OnMouseWheel(int, const QPoint&) override {}
    void OnContextMenu(const QPoint&) override {}

    CvViewHost* ImageView() const { return image_view_.get(); }
    CvViewHost* ModelView() const { return model_view_.get(); }
    CLabel* StatusLabel() const { return status_; }
    Console& DebugConsole() { return console_; }

    ControlMap controls;
    int language = 0;  // 0 Chinese, 1 English
    QSize image_view_size{1026, 925};
    std::string image_view_name = "ImageShow";
    std::string model_view_name = "ModelShow";
    cv::Mat image_src, image_show, image_buf, image_bg;
    cv::Mat model_img, model_buf, mask, model_bg, model_checker;
    QSize model_view_size{400, 400};
    float model_zoom = 0.8f;
    int model_redraw = 0;
    float dx = 0.0f, dy = 0.0f, length1 = 0.0f, length2 = 0.0f;
    cv::Point roi_p1, roi_p2;
    cv::Rect roi;
    float roi_scale = 0.375f;
    int line_width = 2;
    std::vector<int> held_model_ids;
    std::vector<MatchDrawing> match_drawings;  // the last search's matches
    std::vector<MatchDrawing> model_outlines;  // the current model's outline
    int image_redraw = 0;                       // 2 after a search; the timer repaints while > 0
    float model_fit_zoom = 1.0f;
    cv::Point model_offset;
    // Image view: view pixels per image pixel, the zoom that shows the whole image, and the view
    // position of the image's top-left corner.
    float image_zoom = 1.0f;
    float image_fit_zoom = 1.0f;
    cv::Point2f image_offset;
    bool roi_changed = false;  // set by ROI edits; the timer then estimates the ROI's contrast
    QFont font12, font10;

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnInitDialog();
    void CreateFonts();
    void SetupControls();
    void CreateViews();
    void OnDestroy();
    void RefillCombos();

    DialogOptions options_;
    std::unique_ptr<FileDialogs> own_dialogs_;
    std::unique_ptr<Prompts> own_prompts_;
    FileDialogs* dialogs_;
    Prompts* prompts_;
    CLabel* status_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QPointer<CMsgWindow> notice_;
    KeyFilter* key_filter_ = nullptr;
    std::unique_ptr<CvViewHost> image_view_;
    std::unique_ptr<CvViewHost> model_view_;
    CvViewHost* last_pressed_view_ = nullptr;
    QTimer timer_;
    Console console_;
    bool destroyed_ = false;
};

// An 18-pixel checkerboard of grey 30 and 50 (30 at the top left) over size.
cv::Mat MakeCheckerboard(QSize size);

}  // namespace tessolin

#endif  // TESSOLIN_TESSOLIN_DLG_H
