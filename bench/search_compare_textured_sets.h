// The textured scene sets of bench_search_compare. Five models, each 110-160 px: crops of the
// circuit board (board.jpg), the printed box (box.png at half size), the text page
// (imageTextN.png) and the portrait (messi5.jpg), and a rendered coin with a knurled rim and
// embossed digits. Backgrounds: 17 other photos of the same folder, grey. Each scene holds
// instances of one model (the models take turns scene by scene) and 0-3 crops of the others.
// Sets: five conditions at 768 x 576 (2 instances per scene) and a 2048 x 2048 mosaic of
// background cuts with 12 instances and up to 12 distractors.
#ifndef QURO_BENCH_SEARCH_COMPARE_TEXTURED_SETS_H
#define QURO_BENCH_SEARCH_COMPARE_TEXTURED_SETS_H

#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "bench/search_compare_runner.h"
#include "testing/textured_scenes.h"

namespace compare {

struct TexturedPhotos {
    std::vector<std::string> kinds;  // one per model, for the per-model rows of the table
    std::vector<cv::Mat> models;
    std::vector<cv::Mat> backgrounds;
    std::string error;
};

inline const TexturedPhotos& textured_photos() {
    static const TexturedPhotos p = [] {
        TexturedPhotos r;
        const std::string dir = photos().dir;
        std::string missing;
        auto read = [&](const char* name) {
            cv::Mat m = cv::imread(dir + "/" + name, cv::IMREAD_GRAYSCALE);
            if (m.empty()) missing += std::string(" ") + name;
            return m;
        };
        struct Crop {
            const char* kind;
            const char* file;
            cv::Rect rect;  // empty: the whole photo at half size
        };
        const Crop crops[] = {{"board", "board.jpg", {280, 90, 150, 120}},
                              {"box", "box.png", {}},
                              {"text", "imageTextN.png", {60, 40, 160, 110}},
                              {"portrait", "messi5.jpg", {185, 55, 130, 140}}};
        for (const Crop& c : crops) {
            const cv::Mat m = read(c.file);
            if (m.empty()) continue;
            cv::Mat model;
            if (c.rect.empty())
                cv::resize(m, model, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
            else
                model = m(c.rect).clone();
            r.kinds.push_back(c.kind);
            r.models.push_back(model);
        }
        std::mt19937 coin_rng(7u);
        r.kinds.push_back("coin");
        r.models.push_back(render_coin_model(coin_rng, 120));
        const char* backgrounds[] = {"building.jpg",     "baboon.jpg",       "fruits.jpg",
                                     "home.jpg",         "stuff.jpg",        "starry_night.jpg",
                                     "apple.jpg",        "orange.jpg",       "butterfly.jpg",
                                     "aero1.jpg",        "leuvenA.jpg",      "graf1.png",
                                     "rubberwhale1.png", "squirrel_cls.jpg", "smarties.png",
                                     "aloeL.jpg",        "basketball1.png"};
        for (const char* b : backgrounds) {
            const cv::Mat m = read(b);
            if (!m.empty()) r.backgrounds.push_back(m);
        }
        if (!missing.empty())
            r.error = "not readable in " + dir + ":" + missing +
                      " (install opencv-doc or set QURO_COMPARE_PHOTOS)";
        return r;
    }();
    return p;
}

// The six textured sets: the five conditions, then the mosaic (clean).
inline constexpr int kTexturedSets = 6;
inline constexpr int kMosaicSet = 5;

struct TexturedSpec {
    SceneSpec spec;
    TexturedPlan plan;
};

inline TexturedSpec textured_spec(int set) {
    static const char* labels[] = {"textured clean",    "textured noise", "textured occluded",
                                   "textured reversed", "textured blur",  "textured mosaic"};
    if (set == kMosaicSet)
        return {{labels[set], 2048, 2048, 12, 10, 20250301u},
                {{2048, 2048}, 12, 12, Condition::kClean, 512}};
    const Condition c = static_cast<Condition>(set);
    return {{labels[set], 768, 576, 2, 60, 20250310u + static_cast<unsigned>(set)},
            {{768, 576}, 2, 3, c, 0}};
}

inline Condition textured_condition(int set) {
    return set == kMosaicSet ? Condition::kClean : static_cast<Condition>(set);
}

inline SceneSet render_textured_set(int set) {
    const TexturedSpec ts = textured_spec(set);
    const TexturedPhotos& ph = textured_photos();
    SceneSet out{ts.spec, {}, ph.error};
    if (!out.error.empty()) return out;
    std::mt19937 rng(ts.spec.seed);
    for (int i = 0; i < ts.spec.scenes; ++i) {
        const int model = i % static_cast<int>(ph.models.size());
        Scene s = render_textured_scene(ph.models, model, ph.backgrounds, ts.plan, rng);
        if (static_cast<int>(s.truth.size()) != ts.plan.instances) {
            out.error = std::string("no room for the instances in a ") + ts.spec.label + " scene";
            return out;
        }
        out.scenes.push_back(std::move(s));
    }
    return out;
}

// Rendered on first use, once per process.
inline const SceneSet& textured_set(int set) {
    static std::vector<SceneSet> sets(kTexturedSets);
    static std::vector<bool> done(kTexturedSets, false);
    if (!done[static_cast<std::size_t>(set)]) {
        sets[static_cast<std::size_t>(set)] = render_textured_set(set);
        done[static_cast<std::size_t>(set)] = true;
    }
    return sets[static_cast<std::size_t>(set)];
}

}  // namespace compare

#endif  // QURO_BENCH_SEARCH_COMPARE_TEXTURED_SETS_H
