// Connected components: runs labelled by one sweep over consecutive rows with an equivalence
// table, then copied into one part region per component.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "quro/parallel.h"
#include "quro/quro.h"
#include "quro/region/components.h"
#include "quro/region/region_buffers.h"
#include "quro/region/region_features.h"
#include "quro/region/row_groups.h"

namespace quro {
namespace {

// Provisional labels and their classes: every entry points towards the smallest label of its
// class, and the chains are shortened to it as they are walked.
class Equivalences {
public:
    Equivalences() { parent_.push_back(0); }  // label 0: no label

    int make() {
        const int label = static_cast<int>(parent_.size());
        parent_.push_back(label);
        return label;
    }

    int find(int x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];
            x = parent_[x];
        }
        return x;
    }

    // Joins the classes of a and b; returns the class's smallest label.
    int join(int a, int b) {
        a = find(a);
        b = find(b);
        if (a < b) {
            parent_[b] = a;
            return a;
        }
        parent_[a] = b;
        return b;
    }

    // Numbers the classes 1, 2, ... in the order of their smallest label; returns the count and
    // leaves number(label) in place of each entry.
    int renumber() {
        int count = 0;
        for (std::size_t x = 1; x < parent_.size(); ++x) {
            const int p = parent_[x];
            // The smallest label of a class points to itself and comes first; every other entry
            // points to a smaller label, whose entry already holds the class number.
            parent_[x] = p == static_cast<int>(x) ? ++count : parent_[p];
        }
        return count;
    }
    int number(int label) const { return parent_[label]; }

private:
    std::vector<int> parent_;
};

}  // namespace

int label_runs(const region& r, int tolerance, std::vector<int>& labels) {
    const int n = held_runs(r);
    labels.assign(static_cast<std::size_t>(n), 0);
    if (n == 0) return 0;
    const int* cb = r.col_begins;
    const int* ce = r.col_ends;
    const std::int64_t tol = tolerance;
    Equivalences classes;
    RowGroup above{0, 0, 0};
    for (RowGroup g = row_group_at(r, n, 0); !g.empty(); g = row_group_at(r, n, g.end)) {
        const bool next_row = !above.empty() && std::int64_t{above.row} + 1 == g.row;
        int m = above.begin;  // runs of the row above before m end too early for every later run
        for (int d = g.begin; d < g.end; ++d) {
            int label = 0;
            if (next_row) {
                const std::int64_t reach_left = std::int64_t{cb[d]} - tol;
                while (m < above.end && ce[m] < reach_left) ++m;
                for (int k = m; k < above.end && cb[k] - tol <= ce[d]; ++k) {
                    if (ce[k] < reach_left) continue;  // a run nested in an earlier, longer one
                    const int other = labels[static_cast<std::size_t>(k)];
                    if (label != other) label = label == 0 ? other : classes.join(label, other);
                }
            }
            labels[static_cast<std::size_t>(d)] = label != 0 ? label : classes.make();
        }
        above = g;
    }
    const int count = classes.renumber();
    for (int& label : labels) label = classes.number(label);
    return count;
}

int connection_y_impl(const region& in, region* out, int tolerance) {
    if (out == nullptr || in.num_parts != 0 || held_runs(in) == 0) return -1;
    int count = 0;
    region_guarded([&] {
        std::vector<int> labels;
        count = label_runs(in, tolerance, labels);
        std::vector<int> sizes(static_cast<std::size_t>(count), 0);
        for (int label : labels) ++sizes[static_cast<std::size_t>(label - 1)];

        // out's earlier parts go first (out may share them with copies, which keep theirs). The
        // new array starts all null, so a failure while the parts are made leaves out
        // destructible.
        make_sole_owner(*out, true);
        release_parts(*out);
        auto** parts = static_cast<region**>(std::calloc(static_cast<std::size_t>(count),
                                                         sizeof(region*)));
        if (parts == nullptr) throw_malloc_failed();
        out->parts = parts;
        out->num_parts = count;
        parallel_for_index(static_cast<std::size_t>(count), [&](std::size_t k) {
            parts[k] = new region(sizes[k]);
            parts[k]->width = in.width;
            parts[k]->height = in.height;
        });

        // In input order, so each part keeps the row-then-column order.
        for (std::size_t i = 0; i < labels.size(); ++i) {
            region& part = *parts[labels[i] - 1];
            const int j = part.num_runs++;
            part.rows[j] = in.rows[i];
            part.col_begins[j] = in.col_begins[i];
            part.col_ends[j] = in.col_ends[i];
        }
        parallel_for_index(static_cast<std::size_t>(count),
                           [&](std::size_t k) { compute_features(*parts[k]); });
    });
    return count;
}

}  // namespace quro

extern "C" int connection_y(const quro::region& in, quro::region* out, int tolerance) {
    return quro::connection_y_impl(in, out, tolerance);
}
