// Reading polylines from DXF drawings: the group-code / value line pairs become entity records,
// and the POLYLINE and VERTEX entities among them become polygon or contour point lists. No Qt.
//
// The conversions throw std::invalid_argument ("invalid stoi argument", "invalid stof
// argument") for a code or coordinate that is not a number, and std::out_of_range ("stoi
// argument out of range", "stof argument out of range") for one beyond int or float. A
// coordinate or angle "nan" or "inf" counts as not a number.
#ifndef TESSOLIN_DXF_READER_H
#define TESSOLIN_DXF_READER_H

#include <map>
#include <string>
#include <vector>

namespace tessolin {

struct DxfEntity {
    std::string name;                  // the value of the code-0 line that opened it
    std::map<int, std::string> codes;  // group code -> value of the last line with that code
};

// line without blanks, tabs, carriage returns and line feeds at either end.
std::string TrimDxfLine(const std::string& line);

// The entities of the file at path (bytes, as given), in file order. Empty code lines are
// skipped; a code line is followed by its value line. Lines before the first code 0 belong to no
// entity. A file that cannot be opened gives an empty list and "无法打开文件: <path>" on stderr.
std::vector<DxfEntity> ReadDxfEntities(const std::string& path);

struct DxfPolygons {
    std::vector<float> x, y;
    std::vector<char> flags;  // 0 at the first vertex of each POLYLINE, else 1
};

struct DxfContours {
    std::vector<float> x, y;
    std::vector<float> minus_sin, minus_cos;  // -sin(a), -cos(a) of the vertex's code 1040
};

// The vertices (codes 10, 20) of every VERTEX from the first one on. Empty when the first VERTEX
// holds a code 1040 (a contour drawing).
DxfPolygons DxfToPolygons(const std::vector<DxfEntity>& entities);

// The vertices (codes 10, 20, 1040) of every VERTEX from the first one on. Empty when the first
// VERTEX lacks code 1040 (a polygon drawing).
DxfContours DxfToContours(const std::vector<DxfEntity>& entities);

}  // namespace tessolin

#endif  // TESSOLIN_DXF_READER_H
