// The find command's scaled, anisotropic and deformable modes, the multi-model search command,
// and the sampling of the deformable search's fields for drawing.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/FindModes.h"
#include "dialog/CommandSupport.h"
#include "dialog/FindSupport.h"
#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/ControlIds.h"
#include "quro/quro.h"

namespace tessolin {

int LastSearchedLevel(int num_levels, const int levels[2], int subpixel) {
    if (num_levels < 1) return 0;
    const int used = levels[0] >= 1 && levels[0] <= num_levels ? levels[0] : num_levels;
    int last = levels[1] >= 1 && levels[1] <= used ? levels[1] - 1 : 0;
    // Least squares at full resolution ("speed first") stops one level above it.
    const int units = subpixel % 10;
    if (units == 3 && last == 0 && used > 2) last = 1;
    return last;
}

std::array<float, 2> DeformedOutlinePoint(const quro::VectorField* field, int last,
                                          const quro::Match& m, float px, float py) {
    const float x = float(m.x) + m.dx + px, y = float(m.y) + m.dy + py;
    if (!field || !field->map_x || !field->map_y || field->width < 1 || field->height < 1 ||
        !std::isfinite(x) || !std::isfinite(y))
        return {x, y};
    const float s = std::ldexp(1.0f, std::clamp(last, 0, 30));
    // Clamped to the maps: points on or beyond the rectangle's edge take the edge's displacement.
    const float u = std::clamp(x / s - float(field->x), 0.0f, float(field->width - 1));
    const float v = std::clamp(y / s - float(field->y), 0.0f, float(field->height - 1));
    const int u0 = std::min(int(u), field->width - 1), v0 = std::min(int(v), field->height - 1);
    const int u1 = std::min(u0 + 1, field->width - 1), v1 = std::min(v0 + 1, field->height - 1);
    const float fu = u - float(u0), fv = v - float(v0);
    const auto sample = [&](const float* map) {
        const auto at = [&](int c, int r) {
            return map[std::size_t(r) * std::size_t(field->width) + std::size_t(c)];
        };
        return (1 - fv) * ((1 - fu) * at(u0, v0) + fu * at(u1, v0)) +
               fv * ((1 - fu) * at(u0, v1) + fu * at(u1, v1));
    };
    return {x + (sample(field->map_x) - u) * s, y + (sample(field->map_y) - v) * s};
}

void CTessolinDlg::FindWithScaleMode(int id, const FindParams& p) {
    int levels[2] = {p.num_levels, p.lowest_level};
    const float lo = float(p.scale_min), hi = float(p.scale_max);
    if (p.scale_mode == 1 || p.scale_mode == 2) {
        RunSearch(
            [&](quro::Match*& matches, int& count) {
                if (p.scale_mode == 1)
                    return find_scaled_shape_model(
                        state_.image_src.data, state_.image_src.cols, state_.image_src.rows, id,
                        float(p.angle_start), float(p.angle_extent), lo, hi, float(p.min_score),
                        p.num_matches, float(p.max_overlap), p.subpixel, levels,
                        float(p.greediness), matches, count);
                return find_aniso_shape_model(
                    state_.image_src.data, state_.image_src.cols, state_.image_src.rows, id,
                    float(p.angle_start), float(p.angle_extent), lo, hi, lo, hi, float(p.min_score),
                    p.num_matches, float(p.max_overlap), p.subpixel, levels, float(p.greediness),
                    matches, count);
            },
            [&](quro::Match* matches, int count, double ms) {
                ShowMatches(matches, count, p, ms);
            });
        return;
    }
    if (p.scale_mode != 3) return;
    quro::VectorField* fields = nullptr;
    int fields_handle = 0;
    RunSearch(
        [&](quro::Match*& matches, int& count) {
            return find_local_deformable_model(
                state_.image_src.data, state_.image_src.cols, state_.image_src.rows, id,
                float(p.angle_start), float(p.angle_extent), lo, hi, lo, hi, float(p.min_score),
                p.num_matches, float(p.max_overlap), p.subpixel, levels, float(p.greediness),
                matches, count, fields, fields_handle);
        },
        [&](quro::Match* matches, int count, double ms) {
            // Without a field array (handle -1) the outlines are drawn rigid.
            ShowDeformedMatches(id, matches, count, fields_handle > 0 ? fields : nullptr, p, ms);
        });
    if (fields_handle > 0) clear_mems(fields_handle);
}

void CTessolinDlg::ShowDeformedMatches(int id, quro::Match* matches, int count,
                                       const quro::VectorField* fields, const FindParams& p,
                                       double ms) {
    if (!matches) count = 0;
    int num_levels = 0;
    get_shape_model_param(id, "num_levels", &num_levels);
    const int levels[2] = {p.num_levels, p.lowest_level};
    const int last = LastSearchedLevel(num_levels, levels, p.subpixel);
    std::vector<MatchDrawing> drawings;
    for (int i = 0; i < count; ++i) {
        const quro::Match& m = matches[i];
        const float x = float(m.x) + m.dx, y = float(m.y) + m.dy;
        console_.Print(MatchLineAt(i + 1, m, x, y, p.subpixel));
        if (m.score < p.draw.min_score) continue;
        const quro::VectorField* field = fields ? &fields[i] : nullptr;
        drawings.push_back(DrawPosedOutline(id, m, x, y, p.draw, [&](float px, float py) {
            return DeformedOutlinePoint(field, last, m, px, py);
        }));
    }
    PublishMatches(std::move(drawings), count, ms);
}

void CTessolinDlg::OnBnClickedFindModels() {
    FindParams p;
    if (!ReadFindParams(p)) return;
    if (state_.held_model_ids.empty()) {
        ShowStatus(text::kNotEnoughModels.Get(state_.language), 1);
        return;
    }
    set_system("border_shape_models", Checked(*this, ids::kCrossBorder) ? 1 : 0);
    for (int id : state_.held_model_ids) ApplySearchSettings(id, p, 1000);
    std::vector<int> model_ids = state_.held_model_ids;
    std::vector<int> levels(2 * model_ids.size(), 0);
    RunSearch(
        [&](quro::Match*& matches, int& count) {
            return find_shape_models(
                state_.image_src.data, state_.image_src.cols, state_.image_src.rows,
                model_ids.data(), int(model_ids.size()), float(p.angle_start),
                float(p.angle_extent), float(p.min_score), p.num_matches, float(p.max_overlap),
                p.subpixel, levels.data(), float(p.greediness), matches, count);
        },
        [&](quro::Match* matches, int count, double ms) { ShowMatches(matches, count, p, ms); });
}

}  // namespace tessolin
