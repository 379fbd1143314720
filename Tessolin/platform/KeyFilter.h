// Application-level key filter: Tab, Backtab, Return, Enter and Esc never reach the dialog or any
// of its descendants, so that no key closes the dialog, clicks its default button or moves the
// focus. Other windows (combo pop-ups, message boxes) keep their keys.
#ifndef TESSOLIN_KEY_FILTER_H
#define TESSOLIN_KEY_FILTER_H

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace tessolin {

class KeyFilter : public QObject {
    Q_OBJECT
public:
    // Installs itself on the application; removed again when destroyed.
    explicit KeyFilter(QWidget* dialog);
    ~KeyFilter() override;

    // True for the keys the filter swallows.
    static bool IsSwallowedKey(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> dialog_;
};

}  // namespace tessolin

#endif  // TESSOLIN_KEY_FILTER_H
