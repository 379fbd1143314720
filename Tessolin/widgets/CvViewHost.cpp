#include "widgets/CvViewHost.h"

#include <opencv2/highgui/highgui_c.h>

#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QGraphicsView>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWidget>

namespace tessolin {

CvViewHost::CvViewHost(std::string name, QWidget* placeholder, QSize size, ViewOwner* owner)
    : name_(std::move(name)), size_(size), owner_(owner) {
    if (!placeholder || size.width() < 1 || size.height() < 1) return;
    try {
        if (cvGetWindowHandle(name_.c_str())) return;  // names are process-wide: never share one
        cv::namedWindow(name_, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
        frame_ = static_cast<QWidget*>(cvGetWindowHandle(name_.c_str()));
    } catch (const cv::Exception&) {
        return;
    }
    if (!frame_) return;
    frame_->setAttribute(Qt::WA_DontShowOnScreen);
    QGraphicsView* view = frame_->findChild<QGraphicsView*>();
    if (!view) {
        cv::destroyWindow(name_);
        return;
    }
    if (auto* layout = qobject_cast<QBoxLayout*>(frame_->layout()))
        layout_index_ = layout->indexOf(view);

    auto* host_layout = new QVBoxLayout(placeholder);
    host_layout->setContentsMargins(0, 0, 0, 0);
    host_layout->addWidget(view);
    view->setFrameShape(QFrame::NoFrame);
    view->setFixedSize(size);
    view->viewport()->installEventFilter(this);
    view->show();
    view_ = view;
    HideFrame();
}

CvViewHost::~CvViewHost() {
    if (view_) {
        view_->viewport()->removeEventFilter(this);
        if (frame_) {
            view_->setParent(frame_);
            if (auto* layout = qobject_cast<QBoxLayout*>(frame_->layout()))
                layout->insertWidget(layout_index_, view_);
        }
    }
    if (frame_) {
        try {
            cv::destroyWindow(name_);
        } catch (const cv::Exception&) {
        }
    }
}

void CvViewHost::HideFrame() {
    if (frame_ && frame_->isVisible()) frame_->hide();
}

void CvViewHost::Show(const cv::Mat& image) {
    if (!view_ || image.empty()) return;
    cv::imshow(name_, image);
    view_->setFixedSize(size_);  // highgui resizes an autosized view to each image
    HideFrame();                 // and shows the frame again
}

void CvViewHost::SetMouseCallback(cv::MouseCallback callback, void* user_data) {
    if (!view_) return;
    callback_ = callback;
    user_data_ = user_data;
    cv::setMouseCallback(name_, callback, user_data);
}

bool CvViewHost::eventFilter(QObject* watched, QEvent* event) {
    if (!view_ || watched != view_->viewport()) return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (owner_) owner_->ViewPressed(this);
            return false;  // highgui reports the press to the callback
        case QEvent::Wheel: {
            auto* wheel = static_cast<QWheelEvent*>(event);
            const int delta = wheel->angleDelta().y();
            const QPoint pos = wheel->position().toPoint();
            if (owner_ && owner_->LastPressedView() == this) {
                if (callback_)
                    callback_(cv::EVENT_MOUSEWHEEL, pos.x(), pos.y(),
                              static_cast<int>(static_cast<unsigned>(delta) << 16), user_data_);
            } else if (owner_) {
                owner_->OnMouseWheel(delta, wheel->globalPosition().toPoint());
            }
            return true;
        }
        case QEvent::ContextMenu:
            if (owner_) owner_->OnContextMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        default:
            return false;
    }
}

}  // namespace tessolin
