// Range checks of the command parameters. A failed check gives the red status text
// "参数错误: [name]=(value),范围应该在[lo, hi]之间" / "Para Error: [name]=(value),out of range [lo, hi]",
// with the value and the bounds printed with the parameter's precision.
#ifndef TESSOLIN_PARAM_CHECK_H
#define TESSOLIN_PARAM_CHECK_H

#include <QString>

namespace tessolin {

enum class Param {
    kAngleStart,
    kAngleExtent,
    kScaleMin,
    kScaleMax,
    kMinScore,
    kMaxOverlap,
    kGreediness,
    kNumMatches,
    kMinContrast,
    kNumLevels,        // as the creation names it
    kNumLevelsSearch,  // as the search names it
    kLowestLevel,
    kContrastLow,
    kContrastHigh,
    kMinCompSize,
};

// Empty when lo <= value <= hi for the parameter (so NaN and infinities fail), else the message
// in the language (0 Chinese, 1 English). Integer parameters are checked as doubles, before any
// conversion to int.
QString CheckParam(Param param, double value, int language);

// The same message for a named field whose value is given as text, with bounds printed "%.1f".
QString RangeMessage(const QString& name, const QString& value, double lo, double hi,
                     int language);

}  // namespace tessolin

#endif  // TESSOLIN_PARAM_CHECK_H
