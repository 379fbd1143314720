#include "core/DxfReader.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace tessolin {
namespace {

constexpr int kVertexAngle = 1040;

// std::stoi's rules (leading blanks, a sign, digits; anything after them ignored), with the
// messages of the drawing format's readers.
int ToInt(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin) throw std::invalid_argument("invalid stoi argument");
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        throw std::out_of_range("stoi argument out of range");
    return int(value);
}

// std::stof's rules, refusing "nan" and "inf" as well.
float ToFloat(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(begin, &end);
    if (end == begin || !std::isfinite(value)) throw std::invalid_argument("invalid stof argument");
    if (errno == ERANGE) throw std::out_of_range("stof argument out of range");
    return value;
}

// The value of code in entity, converted; a missing code converts like an empty line.
float Coordinate(const DxfEntity& entity, int code) {
    const auto it = entity.codes.find(code);
    return ToFloat(it == entity.codes.end() ? std::string() : it->second);
}

// Index of the first VERTEX, or entities.size().
size_t FirstVertex(const std::vector<DxfEntity>& entities) {
    size_t i = 0;
    while (i < entities.size() && entities[i].name != "VERTEX") ++i;
    return i;
}

}  // namespace

std::string TrimDxfLine(const std::string& line) {
    static const char* const kBlanks = " \t\r\n";
    const size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    return line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
}

std::vector<DxfEntity> ReadDxfEntities(const std::string& path) {
    std::vector<DxfEntity> entities;
    std::ifstream file(path);
    if (!file) {
        std::cerr << "无法打开文件: " << path << std::endl;
        return entities;
    }
    bool open = false;
    DxfEntity entity;
    std::string line;
    while (std::getline(file, line)) {
        const std::string code_text = TrimDxfLine(line);
        if (code_text.empty()) continue;
        const int code = ToInt(code_text);
        std::string value;
        if (std::getline(file, value)) value = TrimDxfLine(value);
        if (code == 0) {
            if (open) entities.push_back(std::move(entity));
            entity = DxfEntity{value, {}};
            open = true;
        } else if (open) {
            entity.codes[code] = value;
        }
    }
    if (open) entities.push_back(std::move(entity));
    return entities;
}

DxfPolygons DxfToPolygons(const std::vector<DxfEntity>& entities) {
    DxfPolygons polygons;
    const size_t first = FirstVertex(entities);
    if (first == entities.size() || entities[first].codes.count(kVertexAngle)) return polygons;
    std::vector<size_t> starts;
    for (size_t i = 0; i < entities.size(); ++i) {
        if (entities[i].name == "POLYLINE") {
            starts.push_back(polygons.x.size());
        } else if (entities[i].name == "VERTEX") {
            polygons.x.push_back(Coordinate(entities[i], 10));
            polygons.y.push_back(Coordinate(entities[i], 20));
        }
    }
    polygons.flags.assign(polygons.x.size(), 1);
    for (size_t start : starts)
        if (start < polygons.flags.size()) polygons.flags[start] = 0;
    return polygons;
}

DxfContours DxfToContours(const std::vector<DxfEntity>& entities) {
    DxfContours contours;
    const size_t first = FirstVertex(entities);
    if (first == entities.size() || !entities[first].codes.count(kVertexAngle)) return contours;
    for (size_t i = first; i < entities.size(); ++i) {
        if (entities[i].name != "VERTEX") continue;
        contours.x.push_back(Coordinate(entities[i], 10));
        contours.y.push_back(Coordinate(entities[i], 20));
        const float a = Coordinate(entities[i], kVertexAngle);
        contours.minus_sin.push_back(-std::sin(a));
        contours.minus_cos.push_back(-std::cos(a));
    }
    return contours;
}

}  // namespace tessolin
