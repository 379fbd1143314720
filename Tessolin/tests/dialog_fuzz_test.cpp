// Random sequences of user actions on the real dialog: every command, parameter texts in and out
// of range, combos, the ROI box, mouse, wheel, scroll bars, menus and timer ticks, with files to
// open, save and refuse. After each step the view state must stay sane and every held id live; at
// the end no model and no result block may be left.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <cmath>
#include <fstream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

#include "platform/ControlIds.h"
#include "quro/quro.h"
#include "testing/part_scene.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"
#include "widgets/NumSpinCtrl.h"

namespace ids = tessolin::ids;
using tessolin::CTessolinDlg;

namespace {

// clang-format off
constexpr int kCommands[] = {
    ids::kPrint, ids::kCloseConsole, ids::kCls, ids::kOpenConsole, ids::kSubPixelContour1,
    ids::kSubPixelContour2, ids::kSelectImage, ids::kFindModel, ids::kCreateModel, ids::kRoi,
    ids::kLoadModel, ids::kSaveModel, ids::kSelectModelImage, ids::kMore, ids::kLanguage,
    ids::kClearModels, ids::kFindModels, ids::kFindLargeImage, ids::kAbout, ids::kLineWidth1,
    ids::kLineWidth2, ids::kSaveRoiImage, ids::kLoadShapeModel, ids::kLoadPolygonModelPlus,
    ids::kLoadXldContourModel, ids::kShowFeaturePoints, ids::kLoadPolygonModelMinus,
    ids::kZoomOneToOne, ids::kZoomFit, ids::kToolbarButton1, ids::kToolbarButton2,
    ids::kToolbarButton3};
// clang-format on
constexpr int kSpinEdits[] = {ids::kMinScoreEdit,    ids::kMaxOverlapEdit,   ids::kAngleStartEdit,
                              ids::kAngleExtentEdit, ids::kNumMatchesEdit,   ids::kGreedinessEdit,
                              ids::kScaleMinEdit,    ids::kScaleMaxEdit,     ids::kMinContrastEdit,
                              ids::kContrastLowEdit, ids::kContrastHighEdit, ids::kNumLevelsEdit,
                              ids::kMinCompSizeEdit, ids::kAngleStepEdit,    ids::kScaleStepEdit,
                              ids::kLowestLevelEdit, ids::kDisplayScoreEdit};
constexpr int kFloatEdits[] = {ids::kDxEdit, ids::kDyEdit, ids::kLength1Edit, ids::kLength2Edit};
constexpr int kCombos[] = {ids::kScaleModeCombo, ids::kSubPixelCombo, ids::kDrawCombo,
                           ids::kMetricCombo, ids::kMaxDeformationCombo};
const char* const kTexts[] = {"0",   "1",    "-1",  "0.5",  "0.9",  "2",     "5",      "10",
                              "30",  "255",  "360", "-180", "3000", "1e300", "-1e300", "nan",
                              "inf", "-inf", "-0",  "",     "abc",  "1e9",   "11.25",  "0.001"};
// Outline lengths stay small (a 1000-pixel outline is a legal but slow model).
const char* const kLengths[] = {"0", "0", "12", "-9", "25", "1001", "nan", "-0", "x"};

constexpr ContrastParams kContrast{10, 30, 5, 10};

// Whether id names a model (an unknown id leaves the value as it was).
bool Live(int id) {
    int levels = -7;
    get_shape_model_param(id, "num_levels", &levels);
    return levels != -7;
}

// Every seed starts with an image, a model image and a model; regressions go here too.
enum MenuOver { kNoMenu, kOverImage, kOverModel };
struct FixedStep {
    int id;
    const char* file;  // the file dialog's answer, null to cancel
    MenuOver menu;     // the view menu is opened over this view first
};
constexpr FixedStep kFixedSteps[] = {
    // A 2 x 3 model image fitted into its view went beyond the zoom cap.
    {ids::kSelectModelImage, "tiny.png", kNoMenu}, {ids::kZoomFit, nullptr, kOverModel},
    {ids::kSelectImage, "scene.png", kNoMenu},     {ids::kSelectModelImage, "model.png", kNoMenu},
    {ids::kCreateModel, nullptr, kNoMenu},         {ids::kFindModel, nullptr, kNoMenu}};

int Pick(std::mt19937& rng, int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(rng);
}
template <class T, size_t N>
const T& Pick(std::mt19937& rng, const T (&table)[N]) {
    return table[Pick(rng, int(N))];
}

class DialogFuzz : public DialogTest {
protected:
    // The files the fake file dialogs answer with: images (grey, colour, 16-bit, tiny, with a
    // mask), a model file, drawings, a broken drawing, names to save under, and missing files.
    void SetUpFiles() {
        const cv::Mat scene = quro_test::render_part_scene({260, 200}, {{130.3, 100.6, 20}});
        const cv::Mat model = quro_test::render_part_model({112, 84});
        cv::Mat colour, bgra, deep, large;
        cv::cvtColor(scene, colour, cv::COLOR_GRAY2BGR);
        cv::cvtColor(model, bgra, cv::COLOR_GRAY2BGRA);
        scene.convertTo(deep, CV_16U, 200);
        cv::repeat(scene, 5, 6, large);  // larger than the view: scroll bars and several tiles
        const cv::Mat white(model.size(), CV_8UC3, cv::Scalar::all(255));
        const std::pair<const char*, cv::Mat> images[] = {
            {"scene.png", scene}, {"colour.png", colour},
            {"deep.png", deep},   {"tiny.png", cv::Mat(2, 3, CV_8UC1, cv::Scalar(90))},
            {"model.png", model}, {"model_mask.png", white},
            {"bgra.png", bgra},   {"bgra_mask.png", white(cv::Rect(0, 0, 50, 40))},
            {"large.png", large}};
        for (const auto& [name, image] : images) cv::imwrite(Path(name), image);
        int id = -1;
        ASSERT_EQ(create_shape_model(model.data, model.cols, model.rows, 3, 0, 360, 0, 1,
                                     &kContrast, nullptr, &id),
                  0);
        ASSERT_EQ(write_shape_model(id, Path("model.shm").c_str()), 0);
        clear_shape_model(id);
        std::string dxf = "0\nSECTION\n0\nPOLYLINE\n";  // a circle with vertex directions
        for (int k = 0; k < 40; ++k) {
            const double a = 2.0 * M_PI * k / 40;
            dxf += "0\nVERTEX\n10\n" + std::to_string(60 + 30 * std::cos(a)) + "\n20\n" +
                   std::to_string(60 + 30 * std::sin(a)) + "\n1040\n" + std::to_string(a) + "\n";
        }
        std::ofstream(Path("part.dxf")) << dxf << "0\nSEQEND\n0\nEOF\n";
        std::ofstream(Path("bad.dxf")) << "0\nPOLYLINE\n0\nVERTEX\n10\n1e999\n20\nzz\n";
        for (const char* name :
             {"scene.png", "colour.png", "deep.png", "tiny.png", "model.png", "bgra.png",
              "large.png", "model.shm", "part.dxf", "bad.dxf", "saved.shm", "roi", "none.png"})
            files.push_back(QString::fromStdString(Path(name)));
        files << QString() << QString::fromStdString(Path("no/such/dir/x.bmp"));
    }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    // Closes the popups the menus leave open; a blocking menu gets its answer from a timer.
    static void ClosePopups() {
        while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    }
    void Command(std::mt19937& rng) {
        const int id = Pick(rng, kCommands);
        for (int i = 0; i < 2; ++i)
            dialogs.answers.push_back(files.at(Pick(rng, int(files.size()))));
        const int item = Pick(rng, 5);  // load-model menu: one of the four items, or cancelled
        if (id == ids::kLoadModel)
            QTimer::singleShot(0, [item] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (menu && item < menu->actions().size()) {
                    menu->setActiveAction(menu->actions().at(item));
                    QTest::keyClick(menu, Qt::Key_Return);
                }
                ClosePopups();
            });
        // Half the time through the dialog's own button or toolbar action, as a user clicks it.
        auto* button = dialog->Controls().As<QAbstractButton>(id);
        auto* toolbar = dialog->findChild<QToolBar*>(QStringLiteral("ContrastToolbar"));
        const int tool = id - ids::kToolbarButton1, real = Pick(rng, 2);
        WatchMenus();
        menu_shows = 0;
        if (real && button)
            button->click();
        else if (real && toolbar && tool >= 0 && tool < toolbar->actions().size())
            toolbar->actions().at(tool)->trigger();
        else
            EXPECT_TRUE(dialog->OnCommandId(id)) << id;
        EXPECT_LE(menu_shows, 1) << "a command opened its menu more than once";
        ClosePopups();
        dialogs.answers.clear();
    }
    // Mouse over one view's callback: press, move, release, double-click or many wheel notches.
    void Mouse(std::mt19937& rng, cv::MouseCallback callback) {
        const int events[] = {cv::EVENT_LBUTTONDOWN,   cv::EVENT_MOUSEMOVE,  cv::EVENT_LBUTTONUP,
                              cv::EVENT_LBUTTONDBLCLK, cv::EVENT_MOUSEWHEEL, cv::EVENT_RBUTTONDOWN};
        const int event = Pick(rng, events);
        const int x = Pick(rng, 1400) - 200, y = Pick(rng, 1300) - 200;
        const int repeat = event == cv::EVENT_MOUSEWHEEL ? 1 + Pick(rng, 200) : 1;
        const int flags = event == cv::EVENT_MOUSEWHEEL ? (Pick(rng, 2) ? 120 : -120) << 16 : 0;
        for (int i = 0; i < repeat; ++i) callback(event, x, y, flags, dialog.get());
    }
    // A point in or around one of the views, in global coordinates.
    QPoint Global(std::mt19937& rng) {
        return Global(Pick(rng, 2) ? kOverImage : kOverModel, Pick(rng, 1300) - 150,
                      Pick(rng, 1200) - 150);
    }
    QPoint Global(MenuOver view, int x, int y) {
        auto* host = view == kOverImage ? dialog->ImageView() : dialog->ModelView();
        return host->View()->viewport()->mapToGlobal(QPoint(x, y));
    }

    void Step(std::mt19937& rng) {
        const int kind = Pick(rng, 14);
        if (kind < 4) {
            Command(rng);
        } else if (kind == 4) {  // mostly a value in the spinner's range, then arrow steps
            tessolin::CNumSpinCtrl* spin = dialog->Spin(Pick(rng, kSpinEdits));
            std::uniform_real_distribution<double> in(spin->Minimum(), spin->Maximum());
            spin->BuddyEdit()->setText(Pick(rng, 3) ? QString::number(in(rng))
                                                    : QString(Pick(rng, kTexts)));
            if (Pick(rng, 3) == 0) spin->stepBy(Pick(rng, 7) - 3);
        } else if (kind == 5) {
            const int id = Pick(rng, kFloatEdits);
            const bool length = id == ids::kLength1Edit || id == ids::kLength2Edit;
            dialog->Controls().As<QLineEdit>(id)->setText(length ? Pick(rng, kLengths)
                                                                 : Pick(rng, kTexts));
        } else if (kind == 6) {
            auto* combo = dialog->Controls().As<QComboBox>(Pick(rng, kCombos));
            combo->setCurrentIndex(Pick(rng, combo->count() + 2) - 1);
        } else if (kind == 7) {
            dialog->Controls()
                .As<QAbstractButton>(Pick(rng, 2) ? ids::kRoi : ids::kCrossBorder)
                ->click();
        } else if (kind == 8) {
            Mouse(rng, Pick(rng, 2) ? &CTessolinDlg::OnImageMouse : &CTessolinDlg::OnModelMouse);
        } else if (kind == 9) {
            const QPoint at = Global(rng);
            const int delta = Pick(rng, 3) * 120 - 120, repeat = 1 + Pick(rng, 60);
            for (int i = 0; i < repeat; ++i) dialog->OnMouseWheel(delta, at);
        } else if (kind == 10) {
            dialog->OnContextMenu(Global(rng));
            ClosePopups();
        } else if (kind == 11) {  // a scroll code, or one of the bars' own actions
            const int code = Pick(rng, 8) - 1, thumb = Pick(rng, 6000) - 500, bar = Pick(rng, 4);
            if (bar < 2)
                dialog->Controls()
                    .As<QScrollBar>(bar ? ids::kHScroll : ids::kVScroll)
                    ->triggerAction(QAbstractSlider::SliderAction(code + 1));
            else
                bar == 2 ? dialog->OnHScroll(code, thumb) : dialog->OnVScroll(code, thumb);
        } else if (kind == 12) {
            QTest::mouseDClick(dialog->Controls().Get(ids::kDrawLabel), Qt::LeftButton);
        } else {
            dialog->Controls()
                .As<QSpinBox>(ids::kDetailsContrastSpin)
                ->setValue(Pick(rng, 300) - 20);
        }
        dialog->OnTimer();
    }

    void CheckInvariants() {
        const std::string status = dialog->StatusLabel()->text().toStdString();
        if (!status.empty()) had_status = true;
        EXPECT_TRUE(!had_status || !status.empty());
        for (const float zoom : {dialog->State().image_zoom, dialog->State().model_zoom})
            EXPECT_TRUE(zoom >= tessolin::kMinZoom && zoom <= tessolin::kMaxZoom) << zoom;
        EXPECT_TRUE(std::isfinite(dialog->State().image_offset.x) &&
                    std::isfinite(dialog->State().image_offset.y))
            << dialog->State().image_offset;
        EXPECT_TRUE(dialog->State().roi.width >= 0 && dialog->State().roi.height >= 0)
            << dialog->State().roi;
        for (int id : dialog->State().held_model_ids) {
            EXPECT_TRUE(Live(id)) << id;
            max_id = std::max(max_id, id);
        }
    }

    // Counts the dialog's menus shown, from the command after the one that made each menu.
    void WatchMenus() {
        for (QMenu* menu : dialog->findChildren<QMenu*>()) {
            if (menu->property("watched").toBool()) continue;
            menu->setProperty("watched", true);
            QObject::connect(menu, &QMenu::aboutToShow, [this] { ++menu_shows; });
        }
    }
    int menu_shows = 0;
    QTemporaryDir dir;
    QStringList files;
    bool had_status = false;
    int max_id = 0;
};

TEST_F(DialogFuzz, NoSequenceOfUserActionsBreaksTheViewsOrLeavesModelsOrResults) {
    SetUpFiles();
    for (unsigned seed = 1; seed <= 8; ++seed) {
        dialog.reset();  // each seed starts from a fresh dialog, so that it replays alone
        DialogTest::SetUp();
        dialog->DebugConsole().Open();
        had_status = false;
        for (const FixedStep& f : kFixedSteps) {
            dialogs.answers.push_back(f.file ? QString::fromStdString(Path(f.file)) : QString());
            if (f.menu != kNoMenu) dialog->OnContextMenu(Global(f.menu, 30, 40));
            ClosePopups();
            dialog->OnCommandId(f.id);
            CheckInvariants();
            if (HasFailure()) return (void)(ADD_FAILURE() << "seed " << seed);
            dialogs.answers.clear();
        }
        std::mt19937 rng(seed);
        for (int step = 0; step < 500 && !HasFailure(); ++step) {
            Step(rng);
            CheckInvariants();
            if (HasFailure())
                ADD_FAILURE() << "seed " << seed << " step " << step;
        }
        if (HasFailure()) return;
        dialog->OnCommandId(ids::kClearModels);
        EXPECT_TRUE(dialog->State().held_model_ids.empty());
        for (int id = 0; id <= max_id + 16; ++id) EXPECT_FALSE(Live(id)) << id;
        for (int handle = 1; handle <= 64; ++handle) EXPECT_EQ(clear_mems(handle), -1) << handle;
        // The next model gets the lowest id and the next result block handle 1.
        int id = -1;
        quro::TemplateF* outline = nullptr;
        ASSERT_EQ(create_shape_model_xld(20, 10, 2, 0, 360, 0, 0, &kContrast, &id), 0);
        EXPECT_EQ(id, 0);
        EXPECT_EQ(get_model_contour3(id, 1, 0, 1, &outline), 1);
        EXPECT_EQ(clear_mems(1), 0);
        clear_shape_model(id);
    }
}

}  // namespace
