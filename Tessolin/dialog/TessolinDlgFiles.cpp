// Images, model files and DXF models: opening the search and model images, saving the ROI part of
// the image, saving and loading model files, and models from DXF polylines.
#include <QAbstractButton>
#include <QAction>
#include <QCursor>
#include <QFile>
#include <QMenu>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "core/DxfReader.h"
#include "core/ImageFiles.h"
#include "dialog/CommandSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"

namespace tessolin {
namespace {

const QString kImageFilter = QStringLiteral("Image Files (*.bmp *.jpg *.tif *.png);;All Files (*)");
const QString kBmpFilter = QStringLiteral("Image Files (*.bmp);;All Files (*)");
const QString kModelFilter = QStringLiteral("Model Files (*.shm);;All Files (*)");
const QString kDxfFilter = QStringLiteral("Model Files (*.dxf);;All Files (*)");
constexpr int kRoiHalf = 100;  // half the side of the ROI put on a newly opened image

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A spinner's value as an int: truncated, saturated, NaN as 0 (the DXF commands pass the
// spinners on unchecked, but never convert an unrepresentable value).
int SpinInt(const CTessolinDlg& dialog, int edit_id) {
    const double v = std::trunc(SpinValue(dialog, edit_id));
    if (std::isnan(v)) return 0;
    return int(std::clamp(v, double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

}  // namespace

void CTessolinDlg::ResetImageView() {
    FitImageView();
    const int rows = state_.image_src.rows, cols = state_.image_src.cols;
    state_.roi_p1 = cv::Point(cols / 2 - kRoiHalf, rows / 2 - kRoiHalf);
    state_.roi_p2 = cv::Point(cols / 2 + kRoiHalf, rows / 2 + kRoiHalf);
    state_.roi = cv::Rect(state_.roi_p1, state_.roi_p2);
}

std::string CTessolinDlg::OpenGreyImage(cv::Mat& grey) {
    const QString path = dialogs_->OpenFile(this, QString(), kImageFilter);
    if (path.isEmpty()) return std::string();
    int channels = 0;
    if (!ReadGreyImage(LocalPath(path), grey, &channels)) {
        ShowStatus(Format(text::kOpenImageChannels, state_.language, channels), 1);
        return std::string();
    }
    ShowStatus(Format(text::kOpenImage, state_.language, grey.cols, grey.rows), 0);
    return LocalPath(path);
}

void CTessolinDlg::OnBnClickedSelectImage() {
    cv::Mat grey;
    if (OpenGreyImage(grey).empty()) return;
    setSearchImage(grey);
    ResetImageView();
    state_.match_drawings.clear();
    state_.image_redraw.Show(ViewRedraw::Content::kPlain);
}

void CTessolinDlg::OnBnClickedSelectModelImage() {
    cv::Mat grey;
    const std::string path = OpenGreyImage(grey);
    if (path.empty()) return;
    setModelImage(grey, ReadMask(path, grey.size()));
    state_.model_outlines.clear();
    // The contrast ratio goes back to its start value, and the new model image proposes the
    // creation parameters.
    ResetContrastRatio();
    EstimateContrast(state_.contrast_ratio, state_.model_img);
}

void CTessolinDlg::OnSaveRoiImage() {
    if (!Checked(*this, ids::kRoi) || state_.image_src.empty()) return;
    const cv::Rect rect = InsideRoi(state_.roi_p1, state_.roi_p2, state_.image_src.size());
    if (rect.empty()) {
        ShowStatus(QStringLiteral("outside"), 1);
        return;
    }
    const QString path = dialogs_->SaveFile(this, QString(), kBmpFilter);
    if (path.isEmpty()) return;
    bool written = false;
    try {
        written =
            cv::imwrite(WithDefaultExtension(LocalPath(path), ".bmp"), state_.image_src(rect));
    } catch (const cv::Exception& e) {
        std::cerr << e.what() << std::endl;
    }
    if (!written) {
        ShowStatus(text::kSaveImageFailed.Get(state_.language), 1);
        return;
    }
    console_.Print(QString::asprintf("p1  x = %d, y = %d\n", rect.x, rect.y).toStdString());
}

void CTessolinDlg::OnBnClickedSaveModel() {
    if (state_.held_model_ids.empty()) {
        ShowStatus(text::kSaveModelFailed.Get(state_.language), 1);
        return;
    }
    const QString path = dialogs_->SaveFile(this, QString(), kModelFilter);
    if (path.isEmpty()) return;
    if (write_shape_model(state_.held_model_ids.back(), LocalPath(path).c_str()) == 0)
        ShowStatus(text::kModelSaved.Get(state_.language), 0);
    else
        ShowStatus(text::kSaveModelFailed.Get(state_.language), 1);
}

void CTessolinDlg::OnBnClickedLoadModel() {
    QMenu menu(this);
    for (const text::MenuItem& item : text::LoadModelMenuItems())
        menu.addAction(item.text.Get(state_.language))->setData(item.id);
    QWidget* button = controls_.Get(ids::kLoadModel);
    const QPoint at = button ? button->mapToGlobal(QPoint(0, button->height())) : QCursor::pos();
    if (const QAction* chosen = menu.exec(at)) OnCommandId(chosen->data().toInt());
}

void CTessolinDlg::OnLoadShapeModel() {
    const QString path = dialogs_->OpenFile(this, QString(), kModelFilter);
    if (path.isEmpty()) return;
    int id = -1;
    read_shape_model(LocalPath(path).c_str(), &id);
    HoldLoadedModel(id);
}

void CTessolinDlg::HoldLoadedModel(int id) {
    if (id < 0) {
        ShowStatus(text::kLoadModelFailed.Get(state_.language), 1);
        return;
    }
    state_.held_model_ids.push_back(id);
    ShowStatus(text::kModelLoaded.Get(state_.language), 0);
    OnShowFeaturePoints();
}

void CTessolinDlg::OnShowFeaturePoints() {
    if (state_.held_model_ids.empty()) return;
    const int id = state_.held_model_ids.back();
    int levels = 0;
    get_shape_model_param(id, "num_levels", &levels);
    ShowStatus(Format(text::kNumLevels, state_.language, levels), 0);
    ShowModelContours(id);
}

void CTessolinDlg::OnLoadPolygonModelPlus() {
    LoadDxfModel(DxfModel::kPolygonPlus);
}
void CTessolinDlg::OnLoadPolygonModelMinus() {
    LoadDxfModel(DxfModel::kPolygonMinus);
}
void CTessolinDlg::OnLoadXldContourModel() {
    LoadDxfModel(DxfModel::kContour);
}

void CTessolinDlg::LoadDxfModel(DxfModel kind) {
    constexpr size_t kMinPolygonVertices = 2;
    constexpr size_t kMinContourVertices = 32;
    const QString path = dialogs_->OpenFile(this, QString(), kDxfFilter);
    if (path.isEmpty()) return;
    const int levels = SpinInt(*this, ids::kNumLevelsEdit);
    const float a0 = float(SpinValue(*this, ids::kAngleStartEdit));
    const float ae = float(SpinValue(*this, ids::kAngleExtentEdit));
    const ContrastParams contrast{
        SpinInt(*this, ids::kContrastLowEdit), SpinInt(*this, ids::kContrastHighEdit),
        SpinInt(*this, ids::kMinCompSizeEdit), SpinInt(*this, ids::kMinContrastEdit)};
    const int metric = ComboIndex(*this, ids::kMetricCombo) - 1;
    int id = -1;
    try {
        const std::vector<DxfEntity> entities = ReadDxfEntities(LocalPath(path));
        if (kind == DxfModel::kContour) {
            const DxfContours c = DxfToContours(entities);
            if (c.x.size() >= kMinContourVertices)
                create_shape_model_xld3(c.x.data(), c.y.data(), c.minus_sin.data(),
                                        c.minus_cos.data(), int(c.x.size()), levels, a0, ae, 0.0f,
                                        metric, &contrast, &id);
        } else {
            const DxfPolygons p = DxfToPolygons(entities);
            const int count = int(p.x.size()) * (kind == DxfModel::kPolygonMinus ? -1 : 1);
            if (p.x.size() >= kMinPolygonVertices)
                create_shape_model_pol(p.x.data(), p.y.data(), p.flags.data(), count, levels, a0,
                                       ae, 0.0f, metric, &contrast, &id);
        }
    } catch (const std::logic_error& e) {  // invalid_argument and out_of_range of the reader
        std::cerr << e.what() << std::endl;
        id = -1;
    }
    HoldLoadedModel(id);
}

}  // namespace tessolin
