#include "dialog/TessolinDlg.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QToolBar>
#include <opencv2/imgproc.hpp>

#include "dialog/DialogLayout.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "platform/KeyFilter.h"
#include "widgets/Label.h"
#include "widgets/MsgWindow.h"

namespace tessolin {

namespace {
constexpr int kCheckerCell = 18;
constexpr int kTimerMs = 20;
}  // namespace

cv::Mat MakeCheckerboard(QSize size) {
    cv::Mat board(std::max(size.height(), 1), std::max(size.width(), 1), CV_8UC1);
    for (int y = 0; y < board.rows; ++y) {
        uchar* row = board.ptr<uchar>(y);
        for (int x = 0; x < board.cols; ++x)
            row[x] = ((x / kCheckerCell + y / kCheckerCell) % 2 == 0) ? 30 : 50;
    }
    return board;
}

CTessolinDlg::CTessolinDlg(DialogOptions options, FileDialogs* dialogs, Prompts* prompts,
                           QWidget* parent)
    : QDialog(parent), options_(options), dialogs_(dialogs), prompts_(prompts) {
    if (!dialogs_) {
        own_dialogs_ = MakeQtFileDialogs();
        dialogs_ = own_dialogs_.get();
    }
    if (!prompts_) {
        own_prompts_ = MakeQtPrompts();
        prompts_ = own_prompts_.get();
    }
    setFixedSize(kDialogSize);
    BuildControls(this, controls_);
    status_ = new CLabel(this);
    status_->setGeometry(StatusLabelRect());
    controls_.Add(ids::kStatus, status_);
    key_filter_ = new KeyFilter(this);
    OnInitDialog();
}

CTessolinDlg::~CTessolinDlg() {
    DestroyWindow();
    image_view_.reset();  // give the views back to highgui before the placeholders go
    model_view_.reset();
    if (options_.console) console_.Close();
    delete notice_;  // still up: it goes with the dialog
}

void CTessolinDlg::OnInitDialog() {
    CreateFonts();
    SetupControls();
    UpdateData(false);  // the float edits show their initial values
    state_.roi_p1 = cv::Point(50, 50);
    state_.roi_p2 = cv::Point(250, 250);
    state_.roi = cv::Rect(50, 50, 200, 200);
    CreateViews();
    if (image_view_) image_view_->SetMouseCallback(&CTessolinDlg::OnImageMouse, this);
    if (model_view_) model_view_->SetMouseCallback(&CTessolinDlg::OnModelMouse, this);
    ConnectViewControls();
    connect(&timer_, &QTimer::timeout, this, &CTessolinDlg::OnTimer);
    timer_.start(kTimerMs);
    if (options_.console) console_.Open();
    SyncConsoleBox();
    ApplyLanguage(state_.language);

    toolbar_ = new QToolBar(this);
    toolbar_->setGeometry(ToolbarRect());
    toolbar_->setObjectName(QStringLiteral("ContrastToolbar"));
    CreateContrastToolbar();

    for (int id : {ids::kLanguage})
        if (QWidget* w = controls_.Get(id)) w->installEventFilter(this);
    // Every button and check box reports its clicks as its command id; ids without a handler
    // are ignored by OnCommandId.
    for (int id : controls_.Ids()) {
        auto* button = controls_.As<QAbstractButton>(id);
        if (button && controls_.IdOf(button) == id)
            connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommandId(id); });
    }

    if (options_.notice) {
        notice_ = new CMsgWindow(text::kNoticeTitle.Get(state_.language),
                                 text::kNoticeBody.Get(state_.language));
        // Shown once the dialog is up, so that it lies above it even without a window manager.
        QTimer::singleShot(0, notice_, [this] {
            std::vector<QRect> avoid = NoticeAvoidRects();
            for (QRect& r : avoid) r.translate(mapToGlobal(QPoint(0, 0)));
            notice_->Popup(avoid);
        });
    }
}

std::vector<QRect> CTessolinDlg::NoticeAvoidRects() const {
    // The image view is left out: it spans most of the dialog, so that a notice beside a centred
    // dialog on a 1920 x 1080 screen has no other place, and it is empty at start-up. Group
    // boxes only frame their controls.
    std::vector<QRect> rects;
    const QWidget* image_view = controls_.Get(ids::kImageView);
    for (const QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!w->isVisible() || w == image_view || qobject_cast<const QGroupBox*>(w)) continue;
        rects.push_back(w->geometry());
    }
    return rects;
}

void CTessolinDlg::CreateFonts() {
    const QStringList families = {
        QStringLiteral("Microsoft Sans Serif"), QStringLiteral("DejaVu Sans"),
        QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")};
    state_.font12.setFamilies(families);
    state_.font12.setPointSize(12);
    state_.font10.setFamilies(families);
    state_.font10.setPointSize(10);
}

void CTessolinDlg::CreateViews() {
    image_view_ = std::make_unique<CvViewHost>(
        state_.image_view_name, controls_.Get(ids::kImageView), state_.image_view_size, this);
    if (QWidget* placeholder = controls_.Get(ids::kModelView))
        state_.model_view_size = placeholder->size();
    model_view_ = std::make_unique<CvViewHost>(
        state_.model_view_name, controls_.Get(ids::kModelView), state_.model_view_size, this);

    const cv::Size model_size(state_.model_view_size.width(), state_.model_view_size.height());
    state_.model_bg = cv::Mat(model_size, CV_8UC1, cv::Scalar(128));
    state_.model_checker = MakeCheckerboard(state_.model_view_size);
    model_view_->Show(state_.model_checker);
    state_.image_buf = MakeCheckerboard(state_.image_view_size);
    image_view_->Show(state_.image_buf);
}

void CTessolinDlg::done(int result) {
    DestroyWindow();
    QDialog::done(result);
}

}  // namespace tessolin
