// What a search takes from its caller, checked before anything else happens: the request, and
// the private copy of the stored model a search works on.
#ifndef QURO_SEARCH_CORE_SEARCH_REQUEST_H
#define QURO_SEARCH_CORE_SEARCH_REQUEST_H

#include "quro/model_table.h"

namespace quro {

// The caller's arguments common to every search export.
struct SearchRequest {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    float angle_start = 0.f;
    float angle_extent = 0.f;
    float min_score = 0.f;
    int num_matches = 0;
    float max_overlap = 0.f;
    int subpixel_code = 0;
    int levels[2] = {0, 0};
    float greediness = 0.f;
    const unsigned char* mask = nullptr;  // the masked searches only; null: no mask
};

// Reads a caller's level pair; null means {0, 0}.
void copy_level_pair(const int* levels, SearchRequest& req);

// Returns -1 unless the request's shared arguments are usable (check_search_args).
int check_request(const SearchRequest& req);

// Whether a search of `rec` with `req` can run to its end: the record is consistent, the levels
// pair plans, and the top level's angle list fits. Every search checks this before it writes a
// range into any record. A search that leaves the stored model alone (so that two of them may
// run on one model at once) works on a member-wise copy from copy_shape_model_record (taken under
// the table's shared lock); every stage takes the record it is given, so it runs on the copy.
bool search_can_run(const SearchRequest& req, const ShapeModelRecord& rec);

// Whether a search of a stored model writes the request's angle range into it (the exports do,
// so that a later save writes it) or leaves the model alone (the tiled searches store the range
// once through their first tile and then search the other tiles concurrently).
enum class StoredRange { kWrite, kLeave };

// A search's private working record: a member-wise copy of the stored model `model_id` with the
// request's angle range (the stored record is never written, so two searches of one model may
// run at once). False for an unknown id or a model the request cannot search.
bool copy_record_for_search(const SearchRequest& req, int model_id, ShapeModelRecord& rec);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_SEARCH_REQUEST_H
