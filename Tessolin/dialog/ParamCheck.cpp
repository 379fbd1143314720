#include "dialog/ParamCheck.h"

#include <cmath>

#include "dialog/Texts.h"

namespace tessolin {
namespace {

struct Check {
    Param param;
    TextPair name;
    int decimals;  // -1: an integer parameter
    double lo, hi;
};

constexpr Check kChecks[] = {
    {Param::kAngleStart, {"起始角度", "AngleStart"}, 1, -180, 180},
    {Param::kAngleExtent, {"角度范围", "AngleExtent"}, 1, 0, 360},
    {Param::kScaleMin, {"最小比例", "ScaleMin"}, 1, 0.3, 2},
    {Param::kScaleMax, {"最大比例", "ScaleMax"}, 1, 0.3, 2},
    {Param::kMinScore, {"最小得分", "MinScore"}, 2, 0.1, 1},
    {Param::kMaxOverlap, {"最大重叠", "MaxOverlap"}, 2, 0, 1},
    {Param::kGreediness, {"贪婪度", "Greediness"}, 2, 0, 1},
    {Param::kNumMatches, {"目标数量", "NumMatches"}, -1, 0, 3000},
    {Param::kMinContrast, {"最小对比度", "MinContrast"}, -1, 1, 255},
    {Param::kNumLevels, {"金字塔", "NumLevels"}, -1, -1, 10},
    {Param::kNumLevelsSearch, {"金字塔", "Pyramid"}, -1, -1, 10},
    {Param::kLowestLevel, {"金字塔2", "Pyramid2"}, -1, -1, 10},
    {Param::kContrastLow, {"对比度(低)", "ContrastLow"}, -1, 1, 255},
    {Param::kContrastHigh, {"对比度(高)", "ContrastHigh"}, -1, 1, 255},
    {Param::kMinCompSize, {"最小组件尺寸", "Min Component Size"}, -1, 1, 200},
};

// "%.<d>f", or for an integer parameter the truncated value without decimals (what "%d" shows
// for a value in range; NaN and infinities print as such instead of being cast).
QString Print(double value, int decimals) {
    if (decimals < 0) return QString::asprintf("%.0f", std::trunc(value));
    return QString::asprintf("%.*f", decimals, value);
}

QString Message(const QString& name, const QString& value, const QString& lo, const QString& hi,
                int language) {
    if (language == 1)
        return QStringLiteral("Para Error: [%1]=(%2),out of range [%3, %4]")
            .arg(name, value, lo, hi);
    return QStringLiteral("参数错误: [%1]=(%2),范围应该在[%3, %4]之间").arg(name, value, lo, hi);
}

}  // namespace

QString CheckParam(Param param, double value, int language) {
    for (const Check& check : kChecks) {
        if (check.param != param) continue;
        if (check.lo <= value && value <= check.hi) return QString();
        QString message = Message(check.name.Get(language), Print(value, check.decimals),
                                  Print(check.lo, check.decimals), Print(check.hi, check.decimals),
                                  language);
        // The English overlap message has always ended in the Chinese "之间"; kept as shown.
        if (param == Param::kMaxOverlap && language == 1) message += QStringLiteral("之间");
        return message;
    }
    return QString();
}

QString RangeMessage(const QString& name, const QString& value, double lo, double hi,
                     int language) {
    return Message(name, value, Print(lo, 1), Print(hi, 1), language);
}

}  // namespace tessolin
