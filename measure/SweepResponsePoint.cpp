#include "measure/SweepResponsePoint.h"

std::vector<ResponsePoint> LevelPoints(std::span<const SweepResponsePoint> points, double levelDb) {
    std::vector<ResponsePoint> levels;
    levels.reserve(points.size());
    for (const SweepResponsePoint& point : points) {
        const double level = point.gainDb + levelDb;
        levels.push_back({point.frequencyHz, level, level, 0, 0});
    }
    return levels;
}
