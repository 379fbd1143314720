// One-time library start-up: builds the read-only table the matching core uses and asks the
// processor which kernels it runs. Every creation and search export calls
// ensure_library_started() first; it is cheap after the first call.
#ifndef QURO_MATCH_LIBRARY_START_H
#define QURO_MATCH_LIBRARY_START_H

namespace quro {

void ensure_library_started();

}  // namespace quro

#endif  // QURO_MATCH_LIBRARY_START_H
