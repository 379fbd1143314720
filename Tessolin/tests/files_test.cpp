#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "core/DxfReader.h"
#include "core/ImageFiles.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"

namespace ids = tessolin::ids;

namespace {

// A drawing with CRLF line ends and a blank line between entities: `polylines` POLYLINEs of
// `vertices` vertices on a circle, each vertex with a code 1040 when `angle`; `bad` replaces the
// first vertex's y value.
std::string Drawing(int polylines, int vertices, bool angle, const char* bad = nullptr) {
    std::string s = "  0\r\nSECTION\r\n";
    for (int p = 0; p < polylines; ++p) {
        s += "0\r\nPOLYLINE\r\n8\r\n0\r\n\r\n";
        for (int k = 0; k < vertices; ++k) {
            const double a = 2.0 * M_PI * k / vertices;
            s += "0\r\nVERTEX\r\n  10\r\n" + std::to_string(60 + p * 90 + 40 * std::cos(a)) +
                 "\r\n20\r\n" + (bad && p + k == 0 ? bad : std::to_string(60 + 40 * std::sin(a)));
            s += angle ? "\r\n1040\r\n" + std::to_string(a) + "\r\n" : "\r\n";
        }
    }
    return s + "0\r\nSEQEND\r\n0\r\nEOF\r\n";
}

class FilesTest : public DialogTest {
protected:
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }
    std::string Write(const char* name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    // Answers the next file dialog with path (empty: cancel) and runs command id.
    void Run(int id, const std::string& path) {
        dialogs.answers.push_back(QString::fromStdString(path));
        dialog->OnCommandId(id);
    }
    std::string Status() const { return dialog->StatusLabel()->text().toStdString(); }
    QTemporaryDir dir;
};

TEST(MaskNames, ExtensionIsLookedForInTheFileNameOnly) {
    const std::array<const char*, 3> cases[] = {{"part.png", "part_mask.png", "part_mask.png"},
                                                {"part.bmp", "part_mask.bmp", "part_mask.png"},
                                                {"a.b/img", "a.b/img_mask", "a.b/img_mask.png"}};
    for (const auto& c : cases) {
        EXPECT_EQ(tessolin::MaskCandidates(c[0])[0], c[1]);
        EXPECT_EQ(tessolin::MaskCandidates(c[0])[1], c[2]);
    }
    EXPECT_EQ(tessolin::WithDefaultExtension("a.b/roi", ".bmp"), "a.b/roi.bmp");
}

TEST_F(FilesTest, DxfCodeAndValueLinesAreTrimmedAndPolylinesStartWithFlagZero) {
    EXPECT_EQ(tessolin::TrimDxfLine(" \t 10\r\n"), "10");
    const auto polygons = tessolin::ReadDxfEntities(Write("p.dxf", Drawing(2, 3, false)));
    const tessolin::DxfPolygons p = tessolin::DxfToPolygons(polygons);
    EXPECT_EQ(p.flags, std::vector<char>({0, 1, 1, 0, 1, 1}));
    EXPECT_FLOAT_EQ(p.x.at(3), 190.0f);
    EXPECT_TRUE(tessolin::DxfToContours(polygons).x.empty());

    const auto contours = tessolin::ReadDxfEntities(Write("c.dxf", Drawing(1, 40, true)));
    const tessolin::DxfContours c = tessolin::DxfToContours(contours);
    ASSERT_EQ(c.x.size(), 40u);
    EXPECT_NEAR(c.minus_sin[10], -1.0f, 1e-5f);  // a = pi / 2
    EXPECT_NEAR(c.minus_cos[20], 1.0f, 1e-5f);   // a = pi
    EXPECT_TRUE(tessolin::DxfToPolygons(contours).x.empty());
    EXPECT_TRUE(tessolin::ReadDxfEntities(Path("missing.dxf")).empty());
}

TEST_F(FilesTest, DxfModelsComeOnlyFromTheirKindOfDrawingAndBadNumbersFailWithoutAModel) {
    const struct {
        std::string drawing;
        int command;
        bool made;
    } cases[] = {
        {Drawing(2, 3, false), ids::kLoadPolygonModelPlus, true},
        {Drawing(2, 3, false), ids::kLoadPolygonModelMinus, true},
        {Drawing(2, 3, false), ids::kLoadXldContourModel, false},
        {Drawing(1, 40, true), ids::kLoadXldContourModel, true},
        {Drawing(1, 40, true), ids::kLoadPolygonModelPlus, false},
        {Drawing(1, 31, true), ids::kLoadXldContourModel, false},
        {Drawing(2, 3, false, "nan"), ids::kLoadPolygonModelPlus, false},
        {Drawing(1, 40, true, "inf"), ids::kLoadXldContourModel, false},
        {Drawing(2, 3, false) + "abc\r\n1\r\n", ids::kLoadPolygonModelPlus, false},
        {Drawing(2, 3, false) + "99999999999\r\n1\r\n", ids::kLoadPolygonModelPlus, false},
    };
    dialog->ApplyLanguage(1);
    for (const auto& c : cases) {
        const size_t held = dialog->State().held_model_ids.size();
        Run(c.command, Write("m.dxf", c.drawing));
        EXPECT_EQ(dialog->State().held_model_ids.size(), held + (c.made ? 1 : 0)) << c.drawing;
        EXPECT_EQ(Status().rfind(c.made ? "num_levels = " : "load model failed!", 0), 0u) << Status();
    }
}

TEST_F(FilesTest, SavedModelLoadsBackWithItsLevelCountAsTheFinalStatus) {
    dialog->ApplyLanguage(1);
    dialog->OnCommandId(ids::kSaveModel);
    EXPECT_EQ(Status(), "save model failed!");
    dialog->Controls().As<QLineEdit>(ids::kLength1Edit)->setText("50");
    dialog->OnCommandId(ids::kCreateModel);
    ASSERT_EQ(dialog->State().held_model_ids, std::vector<int>{0}) << Status();
    int levels = -1;
    get_shape_model_param(0, "num_levels", &levels);
    Run(ids::kSaveModel, Path("m.shm"));
    EXPECT_EQ(Status(), "save model succeeded!");
    dialog->OnCommandId(ids::kClearModels);
    dialog->ShowModelOutlines({});
    Run(ids::kLoadShapeModel, Path("m.shm"));
    EXPECT_EQ(Status(), "num_levels = " + std::to_string(levels));
    EXPECT_EQ(dialog->State().held_model_ids, std::vector<int>{0});
    ASSERT_EQ(dialog->State().model_outlines.size(), 1u);
    EXPECT_FALSE(dialog->State().model_outlines[0].points.empty());
}

TEST_F(FilesTest, LoadModelMenuFollowsTheLanguageAndRunsTheChosenItem) {
    dialog->ApplyLanguage(1);
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) texts << action->text();
        menu->setActiveAction(menu->actions().at(0));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    dialog->OnCommandId(ids::kLoadModel);
    EXPECT_EQ(texts, QStringList({"ShapeModel(.shm)", "PolygonModel+(.dxf)", "PolygonModel-(.dxf)",
                                  "XLDContourModel(.dxf)"}));
    EXPECT_EQ(dialogs.titles.size(), 1);  // the shape-model item asked for a file
}

TEST_F(FilesTest, ImagesOpenAsGreyAndRefusedFilesLeaveTheStateAsItWas) {
    dialog->ApplyLanguage(1);
    cv::Mat colour(300, 500, CV_8UC3, cv::Scalar(10, 200, 30)), grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    ASSERT_TRUE(cv::imwrite(Path("c.png"), colour));
    dialog->setSearchImage(cv::Mat(10, 10, CV_8UC1, cv::Scalar(0)));
    dialog->PublishMatches(std::vector<tessolin::MatchDrawing>(2), 2, 0.0);
    Run(ids::kSelectImage, Path("c.png"));
    EXPECT_EQ(Status(), "open image,width = 500, height = 300");
    ASSERT_EQ(dialog->State().image_src.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(dialog->State().image_src, grey, cv::NORM_INF), 0.0);
    EXPECT_EQ(dialog->State().roi_p1, cv::Point(150, 50));
    EXPECT_EQ(dialog->State().image_offset, cv::Point2f(263, 312));
    EXPECT_TRUE(dialog->State().match_drawings.empty());

    const std::string two = Write("two.png", "P7\nWIDTH 4\nHEIGHT 3\nDEPTH 2\nMAXVAL 255\n"
                                             "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n" + std::string(24, '\0'));
    ASSERT_TRUE(cv::imwrite(Path("deep.png"), cv::Mat(20, 20, CV_16UC1, cv::Scalar(999))));
    const std::pair<std::string, const char*> refused[] = {
        {two, "open image,channels = 2 not support"},
        {Path("deep.png"), "open image,channels = 1 not support"},
        {Write("text.png", "not an image\n"), "open image,channels = 0 not support"}};
    dialog->PublishMatches(std::vector<tessolin::MatchDrawing>(1), 1, 0.0);
    for (const auto& [path, status] : refused) {
        Run(ids::kSelectImage, path);
        EXPECT_EQ(Status(), status);
        EXPECT_EQ(dialog->State().image_src.size(), cv::Size(500, 300));
        EXPECT_EQ(dialog->State().roi_p1, cv::Point(150, 50));
        EXPECT_EQ(dialog->State().match_drawings.size(), 1u);
    }
}

TEST_F(FilesTest, ModelImageKeepsOnlyAMaskOfItsOwnSizeAsGrey) {
    ASSERT_TRUE(cv::imwrite(Path("part.bmp"), cv::Mat(40, 60, CV_8UC1, cv::Scalar(9))));
    for (const auto& [size, kept] : {std::pair(cv::Size(60, 40), true), {cv::Size(61, 40), false}}) {
        ASSERT_TRUE(cv::imwrite(Path("part_mask.png"), cv::Mat(size, CV_8UC3, cv::Scalar::all(255))));
        Run(ids::kSelectModelImage, Path("part.bmp"));
        EXPECT_EQ(dialog->State().model_img.size(), cv::Size(60, 40));
        EXPECT_EQ(dialog->State().mask.empty(), !kept);
        EXPECT_EQ(dialog->State().mask.type(), kept ? CV_8UC1 : 0);
    }
}

TEST_F(FilesTest, SaveRoiImageRefusesARoiOutsideAndAddsTheBmpExtension) {
    dialog->DebugConsole().Open();
    dialog->setSearchImage(cv::Mat(100, 120, CV_8UC1, cv::Scalar(7)));
    dialog->Controls().As<QAbstractButton>(ids::kRoi)->setChecked(true);
    dialog->SetRoiCorners({30, 20}, {130, 60});
    Run(ids::kSaveRoiImage, Path("roi"));
    EXPECT_EQ(Status(), "outside");
    dialog->SetRoiCorners({30, 20}, {90, 60});
    dialog->OnCommandId(ids::kSaveRoiImage);  // the answer left from above
    EXPECT_EQ(cv::imread(Path("roi.bmp"), cv::IMREAD_UNCHANGED).size(), cv::Size(60, 40));
    EXPECT_NE(console_out.find("p1  x = 30, y = 20\n"), std::string::npos) << console_out;
}

}  // namespace
