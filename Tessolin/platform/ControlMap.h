// Id -> widget map of the dialog: the one way handlers reach a control by its numeric id.
#ifndef TESSOLIN_CONTROL_MAP_H
#define TESSOLIN_CONTROL_MAP_H

#include <QWidget>
#include <unordered_map>
#include <vector>

namespace tessolin {

class ControlMap {
public:
    // Maps id to widget (a later Add with the same id replaces it). Several ids may name one
    // widget (a spinner and its edit). The map does not own the widgets.
    void Add(int id, QWidget* widget);
    // The widget of id, or nullptr when no widget has that id.
    QWidget* Get(int id) const;
    template <class T>
    T* As(int id) const {
        return qobject_cast<T*>(Get(id));
    }
    // The id of widget (the smallest when it has several), or -1.
    int IdOf(const QWidget* widget) const;
    // Every id, ascending.
    std::vector<int> Ids() const;

private:
    std::unordered_map<int, QWidget*> widgets_;
};

}  // namespace tessolin

#endif  // TESSOLIN_CONTROL_MAP_H
