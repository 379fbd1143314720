#include "platform/ControlMap.h"

#include <algorithm>

namespace tessolin {

void ControlMap::Add(int id, QWidget* widget) {
    widgets_[id] = widget;
}

QWidget* ControlMap::Get(int id) const {
    auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
}

int ControlMap::IdOf(const QWidget* widget) const {
    int best = -1;
    for (const auto& [id, w] : widgets_) {
        if (w == widget && (best < 0 || id < best)) best = id;
    }
    return best;
}

std::vector<int> ControlMap::Ids() const {
    std::vector<int> ids;
    ids.reserve(widgets_.size());
    for (const auto& entry : widgets_) ids.push_back(entry.first);
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace tessolin
