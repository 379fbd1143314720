// CTessolinDlg: the workbench's main dialog. It holds the two OpenCV views, the parameter
// controls, the command buttons, the status line and the debug console. Controls are reached by
// their ids (ControlIds.h) through Controls(); menu and toolbar actions and buttons all arrive in
// OnCommandId.
#ifndef TESSOLIN_TESSOLIN_DLG_H
#define TESSOLIN_TESSOLIN_DLG_H

#include <QDialog>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <functional>
#include <initializer_list>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "core/MatchDrawing.h"
#include "core/ViewMath.h"
#include "dialog/DialogState.h"
#include "dialog/FindSupport.h"
#include "platform/Console.h"
#include "platform/ControlMap.h"
#include "platform/Platform.h"
#include "widgets/CvViewHost.h"

class QMenu;
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
    void OnBnClickedConsole();
    void SyncConsoleBox();
    void OnBnClickedSubPixelContour() {}
    void OnShowWindowMessage();
    // Dialog rectangles of the visible controls the start-up notice must not cover.
    std::vector<QRect> NoticeAvoidRects() const;
    // Text of the language button's tooltip: "W x H" of the open image, the language hint without
    // one.
    QString OnToolTipNotify() const;
    // Frees every held model id (once) and closes the dialog.
    void DestroyWindow();
    // Every 20 ms: paints each view whose redraw is pending and runs the ROI contrast estimate
    // when the ROI changed.
    void OnTimer();

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
    // last held model in the chosen scale mode; clear frees every held model. Every parameter is
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
    // The last held model with the border and search settings applied, or -1 after the
    // no-model message.
    int PrepareModelSearch(const FindParams& params, int timeout_ms);
    void ShowMatches(quro::Match* matches, int count, const FindParams& params, double ms);
    // Scaled, anisotropic, deformable and multi-model searches (TessolinDlgFindModes.cpp), and
    // the search run and match publishing they share with the single search.
    // FindWithScaleMode runs the find command's scale modes 1 to 3 for model id (settings already
    // applied); OnBnClickedFindModels searches every held model in one pass (timeout 1000 each)
    // and draws as the single search does. RunSearch times `search`, prints the time, shows a
    // failure in red or hands the matches to `show`, and frees the match block. PublishMatches
    // replaces the match drawings, asks for a redraw and shows the success status.
    // ShowDeformedMatches prints and draws the deformable search's matches, each outline moved by
    // its match's field (fields: one per match, or null for rigid outlines).
    using SearchCall = std::function<int(quro::Match*& matches, int& count)>;
    using ShowCall = std::function<void(quro::Match* matches, int count, double ms)>;
    void FindWithScaleMode(int id, const FindParams& params);
    void OnBnClickedFindModels();
    void RunSearch(const SearchCall& search, const ShowCall& show);
    void PublishMatches(std::vector<MatchDrawing> drawings, int count, double ms);
    void ShowDeformedMatches(int id, quro::Match* matches, int count,
                             const quro::VectorField* fields, const FindParams& params, double ms);
    // Large-image search: the find command's checks, then the current model searched tile by
    // tile (TiledSearch.h) with a time-out of 1000 ms per tile, each match drawn with its model
    // outline at the match's pose.
    void OnBnClickedFindLargeImage();
    // Replaces the model outline list by the full-resolution outline of model id, centred on the
    // model image (on the model view without one).
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
    void OnMouseWheel(int delta, const QPoint& global) override;
    void OnContextMenu(const QPoint& global) override;

    // Contrast proposal (the ratio: see DialogState::contrast_ratio).
    static constexpr float kDefaultContrastRatio = 0.375f;
    // Adds the three ratio buttons (32782 to 32784) to the toolbar, framed like buttons.
    void CreateContrastToolbar();
    // Their tooltips in the current language.
    void UpdateContrastToolbar();
    // Ratio 0.25, 0.375 or 0.5; nothing without a model image. With the ROI box on only a
    // repaint is asked for and roi_changed set (the timer estimates on the ROI); otherwise the
    // model image is estimated at once.
    void OnToolbarButton1();
    void OnToolbarButton2();
    void OnToolbarButton3();
    void OnContrastRatio(float ratio);
    // Back to kDefaultContrastRatio (the ROI check box calls it).
    void ResetContrastRatio();
    // Writes the proposal for an 8-bit one-channel image into ContrastLow, ContrastHigh,
    // MinContrast and MinCompSize. Leaves them unchanged for an image that is not analysed
    // (empty, a side below 3 or above 2048) and, with a console line, for a multi-channel one.
    void EstimateContrast(double ratio, const cv::Mat& image);

    const DialogState& State() const { return state_; }
    ControlMap& Controls() { return controls_; }
    const ControlMap& Controls() const { return controls_; }
    CvViewHost* ImageView() const { return image_view_.get(); }
    CvViewHost* ModelView() const { return model_view_.get(); }
    CLabel* StatusLabel() const { return status_; }
    Console& DebugConsole() { return console_; }
    // The ROI corners in image pixels, as a drag of the ROI box leaves them (nothing repainted).
    void SetRoiCorners(cv::Point p1, cv::Point p2);
    // Holds a model made outside the dialog: it is searched, saved and freed like its own.
    void HoldModel(int id);

    // Images, model files and DXF models. File names come from FileDialogs (a cancelled dialog
    // does nothing) and reach OpenCV and the library as local 8-bit bytes.
    // Opens the search image as grey (1, 3 or 4 channels of 8 bit; anything else, or an
    // unreadable file, keeps the previous image with a red message), fits it into the view,
    // puts a 200 x 200 ROI around its centre and empties the match drawings.
    void OnBnClickedSelectImage();
    // Opens the model image as grey with its mask (see ReadMask), resets the contrast ratio.
    void OnBnClickedSelectModelImage();
    // With the ROI box on and an image open: saves the ROI part of the search image (".bmp" when
    // the chosen name has no extension); a ROI not inside the image shows "outside".
    void OnSaveRoiImage();
    // Writes the last held model to a model file.
    void OnBnClickedSaveModel();
    // Pops up the load-model menu under its button; the chosen item runs through OnCommandId.
    void OnBnClickedLoadModel();
    // Reads a model file; on success holds the new id and shows its feature points.
    void OnLoadShapeModel();
    // With a held model: shows its level count on the status line and its full-resolution outline
    // in the model view.
    void OnShowFeaturePoints();
    // Models from the polylines of a DXF drawing (angle step 0, the spinners read unchecked):
    // polygons traced counter-clockwise (+) or clockwise (-), or contours with directions.
    void OnLoadPolygonModelPlus();
    void OnLoadPolygonModelMinus();
    void OnLoadXldContourModel();

    // Image and model views: painting, zoom, pan, ROI editing, scroll bars and the view menus.
    // The zoom menu items act on the view the context menu was opened over (nothing when that
    // view has no image).
    void OnZoomOneToOne();
    void OnZoomFit();
    void OnBnClickedMore();  // the "more" menu under its button
    void OnLineWidth1();
    void OnLineWidth2();
    void OnAbout();
    // The ROI box: repaints the image view and, with the box on, marks the ROI as changed.
    void OnBnClickedRoi();
    // Scroll bar codes (ScrollCode) with the thumb position; only once an image has been shown.
    void OnHScroll(int code, int thumb);
    void OnVScroll(int code, int thumb);
    void OnStnDblclkDraw();  // prints the contrast ratio
    // Fits the search image into the image view: fit zoom min(view height / rows, view width /
    // cols), zoom min(fit, 1), centred. Opening an image calls it; the redraw state is the
    // caller's.
    void FitImageView();
    QMenu* ViewMenu() const { return view_menu_; }  // null until first shown

    // The view poses (zoom and top-left corner); the image view's scroll bars follow.
    void SetImagePose(const ViewPose& pose);
    void SetModelPose(const ViewPose& pose);
    // Replaces the model view's outline list and asks for its repaint.
    void ShowModelOutlines(std::vector<MatchDrawing> outlines);

private:
    enum class DxfModel { kPolygonPlus, kPolygonMinus, kContour };
    void ResetImageView();
    // Asks for an image file and reads it as grey with the status message of the result; the
    // path as local bytes, empty when cancelled or refused.
    std::string OpenGreyImage(cv::Mat& grey);
    void LoadDxfModel(DxfModel kind);
    // A loaded model's id (< 0: the load failed): held, announced and shown.
    void HoldLoadedModel(int id);
    void ConnectViewControls();
    void ImageMouse(int event, int x, int y, int flags);
    void ModelMouse(int event, int x, int y, int flags);
    void PaintImageView();
    void PaintModelView();
    void EstimateRoiContrast();
    void SyncScrollBars();
    void Scroll(int bar_id, int code, int thumb);
    int ViewUnder(const QPoint& global, cv::Point& local) const;
    QMenu* BuildMenu(QMenu*& menu, std::initializer_list<int> ids);

    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void OnInitDialog();
    void CreateFonts();
    void SetupControls();
    void CreateViews();
    void OnDestroy();
    void RefillCombos();

    DialogState state_;
    ControlMap controls_;
    QMenu* view_menu_ = nullptr;  // owned by the dialog
    QMenu* more_menu_ = nullptr;
    bool model_dragging_ = false;
    cv::Point model_last_;
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
