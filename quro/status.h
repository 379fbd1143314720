// The return codes of the exports, named once. The values are the ones quro/quro.h's contracts
// give; every export and every internal step whose code an export passes on returns these names.
// Plain int constants, so that a lambda or a function may mix them with codes it passes through.
#ifndef QURO_STATUS_H
#define QURO_STATUS_H

namespace quro {

// Success.
inline constexpr int kOk = 0;
// A bad argument, an unknown id or handle, empty input, a record that fails validation or an
// allocation failure: every failure without a code of its own.
inline constexpr int kFailed = -1;
// The search's or creation's time limit ran out (nothing is registered or inserted).
inline constexpr int kTimedOut = -2;
// The sub-pixel edge exports' refusal of an image with more than 65536 pixels above the high
// threshold; it shares its value with kTimedOut.
inline constexpr int kTooManyStrongPixels = -2;
// The tiled searches: a model whose full-resolution width or height is 0 or below; it shares its
// value with kTimedOut (a time-out in a tile is a failed tile, kFailed).
inline constexpr int kNoModelSize = -2;
// Outline creation: a shape code outside 1..9.
inline constexpr int kUnknownShape = -3;
// Outline creation: inconsistent shape arguments (lengths of the wrong signs, too few points).
inline constexpr int kBadShapeArguments = -4;

}  // namespace quro

#endif  // QURO_STATUS_H
