#include "measure/SweepResponsePoint.h"

#include <cmath>
#include <optional>

std::vector<ResponsePoint> LevelPoints(std::span<const SweepResponsePoint> points, double levelDb) {
    std::vector<ResponsePoint> levels;
    levels.reserve(points.size());
    for (const SweepResponsePoint& point : points) {
        const double level = point.gainDb + levelDb;
        levels.push_back({point.frequencyHz, level, level, 0, 0});
    }
    return levels;
}

void UnwrapPhases(std::span<SweepResponsePoint> points) {
    const auto distanceTo1kHz = [](const SweepResponsePoint& p) {
        return std::abs(std::log(p.frequencyHz / 1000));
    };
    std::optional<std::size_t> anchor;
    for (std::size_t i = 0; i < points.size(); ++i)
        if (std::isfinite(points[i].phaseDeg) &&
            (!anchor || distanceTo1kHz(points[i]) < distanceTo1kHz(points[*anchor])))
            anchor = i;
    if (!anchor)
        return;
    const auto follow = [&](std::size_t& previous, std::size_t i) {
        if (!std::isfinite(points[i].phaseDeg))
            return;
        points[i].phaseDeg = points[previous].phaseDeg +
                             std::remainder(points[i].phaseDeg - points[previous].phaseDeg, 360.0);
        previous = i;
    };
    std::size_t previous = *anchor;
    for (std::size_t i = *anchor + 1; i < points.size(); ++i)
        follow(previous, i);
    previous = *anchor;
    for (std::size_t i = *anchor; i-- > 0;)
        follow(previous, i);
}
