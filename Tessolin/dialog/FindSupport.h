// What the search commands (single, scaled, anisotropic, deformable, multi-model and tiled) share:
// the parameters read from the dialog, how one match becomes a drawing record and a console line.
#ifndef TESSOLIN_FIND_SUPPORT_H
#define TESSOLIN_FIND_SUPPORT_H

#include <array>
#include <functional>
#include <string>

#include "core/MatchDrawing.h"
#include "quro/quro.h"

namespace tessolin {

// Which parts of a match are drawn, and the offset cross.
struct DrawOptions {
    int bits = 0;           // 0 everything, else 1 outline, 2 cross, 4 score label
    float min_score = 0.f;  // matches below are printed but not drawn
    float dx = 0.f, dy = 0.f;  // offset drawn as an extra cross, when not 0
};

// The search parameters of the dialog, checked. Integer values are truncated towards zero.
struct FindParams {
    double angle_start = 0, angle_extent = 0, scale_min = 1, scale_max = 1;
    double min_score = 0, max_overlap = 0, greediness = 0;
    int num_matches = 0, min_contrast = 0, num_levels = 0, lowest_level = 0;
    float details_contrast = 10.f;  // minimum contrast of the match details
    int subpixel = 0;               // sub-pixel combo index + 10 x maximum deformation
    int metric = 0;                 // metric combo index - 1
    int scale_mode = 0;             // 0 none, 1 isotropic, 2 anisotropic, 3 deformable
    DrawOptions draw;
};

// The drawing record of a match: the outline points of its details (flagged where they scored low),
// its cross, its score label and the offset cross, as the options select.
MatchDrawing DrawMatch(const quro::Match& m, const quro::MatchDetails* d, const DrawOptions& o);
// Adds the cross of (x, y) and the offset cross of the match to a record, as the options select.
void AddCrosses(MatchDrawing& drawing, const quro::Match& m, float x, float y, const DrawOptions& o);
// Image position of an outline point (x, y) of a posed model outline.
using OutlinePlacer = std::function<std::array<float, 2>(float x, float y)>;
// The drawing record of match m of model id from its outline posed at the match's angle and
// scales (fetched and freed here): each outline point placed by `place`, the cross at (x, y), the
// score label at the outline box's top left (from the integer position) and the offset cross, as
// the options select. Without an outline only the crosses are drawn.
MatchDrawing DrawPosedOutline(int id, const quro::Match& m, float x, float y, const DrawOptions& o,
                              const OutlinePlacer& place);
// The console line of match i (1-based); the sub-pixel form (with the details' position when
// given) only when subpixel > 0.
std::string MatchLine(int i, const quro::Match& m, const quro::MatchDetails* d, int subpixel);
// The same line for a position given directly (sub-pixel form when subpixel > 0).
std::string MatchLineAt(int i, const quro::Match& m, double x, double y, int subpixel);

}  // namespace tessolin

#endif  // TESSOLIN_FIND_SUPPORT_H
