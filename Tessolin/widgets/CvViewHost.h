// An OpenCV highgui window shown inside one of the dialog's placeholders.
//
// highgui (Qt build) makes a top-level frame per named window and finds windows by title among
// the parentless top-levels, so the frame stays top-level (hidden, never shown on screen) and
// only its QGraphicsView moves into the placeholder, fixed to the image size so that highgui does
// not scale mouse coordinates. The viewport's wheel and context-menu events are taken away from
// highgui (which would zoom its own view and skew every later click) and handed to the owner.
#ifndef TESSOLIN_CV_VIEW_HOST_H
#define TESSOLIN_CV_VIEW_HOST_H

#include <QGraphicsView>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>
#include <string>

namespace tessolin {

class CvViewHost;

// What a view needs from the dialog that holds it.
class ViewOwner {
public:
    virtual ~ViewOwner() = default;
    virtual void ViewPressed(CvViewHost* view) = 0;   // a mouse press on view
    virtual CvViewHost* LastPressedView() const = 0;  // the view of the dialog's last press
    virtual void OnMouseWheel(int delta, const QPoint& global) = 0;
    virtual void OnContextMenu(const QPoint& global) = 0;
};

class CvViewHost : public QObject {
    Q_OBJECT
public:
    // Creates the highgui window `name` and embeds its view in placeholder at size. Ok() tells
    // whether it worked (highgui without Qt, or a name already in use, gives a host that is not ok
    // and whose calls do nothing).
    CvViewHost(std::string name, QWidget* placeholder, QSize size, ViewOwner* owner);
    // Gives the view back to its frame, then destroys the highgui window.
    ~CvViewHost() override;
    CvViewHost(const CvViewHost&) = delete;
    CvViewHost& operator=(const CvViewHost&) = delete;

    bool Ok() const { return view_ != nullptr; }
    QSize Size() const { return size_; }
    QGraphicsView* View() const { return view_; }

    // Shows image (grey or BGR) in the view.
    void Show(const cv::Mat& image);
    // Registers the mouse callback (also used for the wheel, see the class comment).
    void SetMouseCallback(cv::MouseCallback callback, void* user_data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void HideFrame();

    std::string name_;
    QSize size_;
    ViewOwner* owner_;
    QPointer<QWidget> frame_;
    QPointer<QGraphicsView> view_;
    int layout_index_ = -1;
    cv::MouseCallback callback_ = nullptr;
    void* user_data_ = nullptr;
};

}  // namespace tessolin

#endif  // TESSOLIN_CV_VIEW_HOST_H
