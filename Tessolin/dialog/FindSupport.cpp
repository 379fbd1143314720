// Drawing records and console lines of matches.
#include "dialog/FindSupport.h"

#include <QString>

namespace tessolin {
namespace {
constexpr float kLowPointScore = 0.8660254f;  // cos(30 degrees)
}  // namespace

void AddCrosses(MatchDrawing& drawing, const quro::Match& m, float x, float y,
                const DrawOptions& o) {
    if (o.bits == 0 || (o.bits & 2)) drawing.crosses.push_back({x, y});
    if (o.dx != 0.0f || o.dy != 0.0f) {
        float ox = 0.0f, oy = 0.0f;
        set_match_result_offset(&m, o.dx, o.dy, &ox, &oy);
        drawing.crosses.push_back({ox, oy});
    }
}

MatchDrawing DrawMatch(const quro::Match& m, const quro::MatchDetails* d, const DrawOptions& o) {
    MatchDrawing drawing;
    const bool all = o.bits == 0;
    const float x = d ? d->x : float(m.x), y = d ? d->y : float(m.y);
    if (d && (all || (o.bits & 1))) {
        for (int k = 0; k < d->count; ++k) {
            const quro::Feature& p = d->points[k];
            drawing.points.push_back({p.x + x, p.y + y, p.gx, p.gy});
            drawing.point_flags.push_back(d->scores[k] < kLowPointScore ? 1 : 0);
        }
    }
    AddCrosses(drawing, m, x, y, o);
    if (d && (all || (o.bits & 4)))
        drawing.labels.push_back({float(m.x + d->min_x + 10), float(m.y + d->min_y), m.score});
    return drawing;
}

MatchDrawing DrawPosedOutline(int id, const quro::Match& m, float x, float y, const DrawOptions& o,
                              const OutlinePlacer& place) {
    MatchDrawing drawing;
    const bool all = o.bits == 0;
    quro::TemplateF* outline = nullptr;
    const int handle = get_model_contour2_s(id, m.angle, m.scale_row, m.scale_col, &outline);
    if (handle > 0 && outline) {
        if (all || (o.bits & 1)) {
            for (int k = 0; k < outline->count; ++k) {
                const quro::Feature& q = outline->points[k];
                const auto at = place(q.x, q.y);
                drawing.points.push_back({at[0], at[1], q.gx, q.gy});
                drawing.point_flags.push_back(0);
            }
        }
        if (all || (o.bits & 4))
            drawing.labels.push_back(
                {float(m.x + outline->min_x + 10), float(m.y + outline->min_y), m.score});
    }
    if (handle > 0) clear_mems(handle);
    AddCrosses(drawing, m, x, y, o);
    return drawing;
}

std::string MatchLineAt(int i, const quro::Match& m, double x, double y, int subpixel) {
    if (subpixel > 0) {
        return QString::asprintf("i = %3d, x = %10.3f, y = %10.3f, angle = %8.3f, scale = %8.3f, "
                                 "scale2 = %8.3f, score = %5.3f\n",
                                 i, x, y, double(m.angle), double(m.scale_row),
                                 double(m.scale_col), double(m.score))
            .toStdString();
    }
    return QString::asprintf("i = %3d, x = %5d, y = %5d, angle = %8.3f, scale = %8.3f, "
                             "scale2 = %8.3f, score = %5.3f\n",
                             i, m.x, m.y, double(m.angle), double(m.scale_row),
                             double(m.scale_col), double(m.score))
        .toStdString();
}

std::string MatchLine(int i, const quro::Match& m, const quro::MatchDetails* d, int subpixel) {
    return MatchLineAt(i, m, d ? d->x : m.x, d ? d->y : m.y, subpixel);
}

}  // namespace tessolin
