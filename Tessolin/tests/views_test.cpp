#include <QApplication>
#include <QGraphicsView>
#include <QTest>
#include <QWheelEvent>

#include "core/ViewMath.h"
#include "platform/ControlIds.h"
#include "tests/dialog_fixture.h"

namespace ids = tessolin::ids;

namespace {

struct MouseLog {
    std::vector<std::array<int, 4>> events;  // event, x, y, flags
    static void Record(int event, int x, int y, int flags, void* log) {
        static_cast<MouseLog*>(log)->events.push_back({event, x, y, flags});
    }
    bool HasPress(int x, int y) const {
        for (const auto& e : events)
            if (e[0] == cv::EVENT_LBUTTONDOWN && e[1] == x && e[2] == y) return true;
        return false;
    }
};

void Wheel(QWidget* target, QPoint pos, int delta) {
    QWheelEvent wheel(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
}

}  // namespace

TEST_F(DialogTest, ViewsAreEmbeddedAtTheirSizesAndShowTheCheckerboard) {
    const QSize model_size = dialog->Controls().Get(ids::kModelView)->size();
    for (auto [host, placeholder, size] :
         {std::tuple{dialog->ImageView(), ids::kImageView, QSize(1026, 925)},
          std::tuple{dialog->ModelView(), ids::kModelView, model_size}}) {
        ASSERT_TRUE(host && host->Ok());
        QGraphicsView* view = host->View();
        EXPECT_EQ(view->size(), size);
        EXPECT_TRUE(dialog->Controls().Get(placeholder)->isAncestorOf(view));
        QApplication::processEvents();
        const QImage shot = view->grab().toImage();
        EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(30, 30, 30));
        EXPECT_EQ(QColor(shot.pixel(18, 0)), QColor(50, 50, 50));
        EXPECT_EQ(QColor(shot.pixel(18, 18)), QColor(30, 30, 30));
    }
    EXPECT_EQ(dialog->State().model_view_size, model_size);

    // highgui names are process-wide: a second view of the same name is refused, the first stays.
    QWidget placeholder;
    tessolin::CvViewHost twin("ImageShow", &placeholder, QSize(64, 64), nullptr);
    EXPECT_FALSE(twin.Ok());
    EXPECT_EQ(dialog->ImageView()->View()->size(), QSize(1026, 925));
}

TEST_F(DialogTest, ClicksReachTheCallbackUnscaledAlsoAfterAWheel) {
    for (tessolin::CvViewHost* host : {dialog->ImageView(), dialog->ModelView()}) {
        ASSERT_TRUE(host && host->Ok());
        MouseLog log;
        host->SetMouseCallback(&MouseLog::Record, &log);
        QWidget* viewport = host->View()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(120, 130));
        EXPECT_TRUE(log.HasPress(120, 130));
        EXPECT_EQ(dialog->LastPressedView(), host);

        log.events.clear();
        Wheel(viewport, QPoint(60, 70), 120);  // this view had the last press: the callback gets it
        ASSERT_EQ(log.events.size(), 1u);
        EXPECT_EQ(log.events[0], (std::array<int, 4>{cv::EVENT_MOUSEWHEEL, 60, 70, 120 << 16}));
        dialog->ViewPressed(nullptr);
        Wheel(viewport, QPoint(60, 70), -240);  // otherwise the dialog's wheel handler does
        EXPECT_EQ(log.events.size(), 1u);

        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(120, 130));
        EXPECT_TRUE(log.HasPress(120, 130)) << "the wheel zoomed the view";
    }
}

// After a click in the image view the wheel goes to the view's own handler: down zooms out and
// up in, about the cursor, within the zoom limits, on images larger and smaller than the view.
TEST_F(DialogTest, WheelAfterAClickZoomsAboutTheCursorInTheWheelsDirection) {
    QWidget* viewport = dialog->ImageView()->View()->viewport();
    const cv::Point2f at(700, 300);
    for (const cv::Size size : {cv::Size(2560, 1920), cv::Size(400, 300)}) {
        dialog->setSearchImage(cv::Mat(size, CV_8UC1, cv::Scalar(90)));
        dialog->FitImageView();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(120, 130));
        for (const int delta : {-120, -120, -120, 120, 120, 120, -120}) {
            const float zoom = dialog->State().image_zoom;
            const cv::Point2f under = (at - dialog->State().image_offset) / zoom;
            Wheel(viewport, QPoint(700, 300), delta);
            const float now = dialog->State().image_zoom;
            EXPECT_TRUE(delta < 0 ? now < zoom : now > zoom) << size << " " << zoom;
            EXPECT_LT(cv::norm(under * now + dialog->State().image_offset - at), 2.0)
                << size << zoom;
        }
        for (const int delta : {-120, 120}) {
            for (int i = 0; i < 120; ++i) Wheel(viewport, QPoint(700, 300), delta);
            EXPECT_EQ(dialog->State().image_zoom,
                      delta < 0 ? tessolin::kMinZoom : tessolin::kMaxZoom);
        }
    }
}
