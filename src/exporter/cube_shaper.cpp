#include "exporter/cube_shaper.hpp"

#include <algorithm>
#include <cmath>
#include <random>

namespace vantrel::shaper {

namespace {

// The colour cube's reading of an entry; the baked cube must grade as the pair would.
constexpr double entryLimit = 65536.0;

double entryValue(float v) {
    return std::isnan(v) ? 0.0 : std::clamp(static_cast<double>(v), -entryLimit, entryLimit);
}

// NaN goes to 0, like a value below the range.
double limitUnit(double v) {
    return v > 0 ? std::min(v, 1.0) : 0.0;
}

double normalise(double v, InputRange range) {
    return limitUnit((v - range.min) / (range.max - range.min));
}

struct Cell {
    std::int64_t index; // lower grid point, at most size − 2
    double high;        // weight of the upper one
};

Cell cellOf(double unit, std::int64_t size) {
    const double x = unit * static_cast<double>(size - 1);
    const auto index = std::min(static_cast<std::int64_t>(x), size - 2);
    return {index, x - static_cast<double>(index)};
}

double lerp(double low, double high, double weight) {
    // The exact low end at a grid point, even beside an infinite neighbour.
    return weight == 0 ? low : low + (high - low) * weight;
}

// The cube coordinate that input `x` of channel `c` reaches through the shaper.
double shapedCoordinate(const ShapedCube& s, int c, double x) {
    const auto rows = static_cast<std::int64_t>(s.shaper.size() / 4);
    const Cell cell = cellOf(normalise(x, s.shaperRange), rows);
    const double low = s.shaper[4 * cell.index + c];
    const double high = s.shaper[4 * (cell.index + 1) + c];
    return normalise(lerp(low, high, cell.high), s.cubeRange);
}

std::array<double, 3> cubeAt(const ShapedCube& s, const std::array<double, 3>& u) {
    const std::int64_t n = s.cubeSize;
    Cell cells[3];
    for (int c = 0; c < 3; ++c)
        cells[c] = cellOf(u[c], n);
    std::array<double, 3> out{};
    for (int corner = 0; corner < 8; ++corner) {
        double weight = 1;
        std::int64_t index = 0;
        std::int64_t stride = 1;
        for (int c = 0; c < 3; ++c) {
            const bool up = (corner >> c & 1) != 0;
            weight *= up ? cells[c].high : 1 - cells[c].high;
            index += (cells[c].index + (up ? 1 : 0)) * stride;
            stride *= n;
        }
        // A zero weight must not turn a NaN or infinite entry into NaN.
        if (weight == 0)
            continue;
        for (int c = 0; c < 3; ++c)
            out[c] += weight * entryValue(s.cube[4 * index + c]);
    }
    return out;
}

// The cube coordinates of a baked cube's grid points, per channel: the composite
// separates into one shaper lookup per axis.
std::array<std::vector<double>, 3> gridCoordinates(const ShapedCube& s, std::int64_t size) {
    std::array<std::vector<double>, 3> u;
    for (int c = 0; c < 3; ++c)
        for (std::int64_t i = 0; i < size; ++i)
            u[c].push_back(
                shapedCoordinate(s, c, static_cast<double>(i) / static_cast<double>(size - 1)));
    return u;
}

// Fixed pseudo-random points, so that the same file always bakes the same way.
std::vector<std::array<double, 3>> samplePoints() {
    std::mt19937 random(1234567);
    std::vector<std::array<double, 3>> points(2048);
    for (auto& p : points)
        for (double& v : p)
            v = static_cast<double>(random()) / 4294967296.0;
    return points;
}

// The largest difference between the composite and a cube of `size` points baked
// from it, at the sample points. Corners are rounded to float as the baked cube
// stores them.
double sampledError(const ShapedCube& s, std::int64_t size) {
    static const auto points = samplePoints();
    const auto u = gridCoordinates(s, size);
    double worst = 0;
    for (const auto& p : points) {
        Cell cells[3];
        for (int c = 0; c < 3; ++c)
            cells[c] = cellOf(p[c], size);
        std::array<double, 3> baked{};
        for (int corner = 0; corner < 8; ++corner) {
            double weight = 1;
            std::array<double, 3> at{};
            for (int c = 0; c < 3; ++c) {
                const bool up = (corner >> c & 1) != 0;
                weight *= up ? cells[c].high : 1 - cells[c].high;
                at[c] = u[c][cells[c].index + (up ? 1 : 0)];
            }
            const auto value = cubeAt(s, at);
            for (int c = 0; c < 3; ++c)
                baked[c] += weight * static_cast<float>(value[c]);
        }
        const auto exact = evaluate(s, p);
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(baked[c] - exact[c]));
    }
    return worst;
}

} // namespace

std::array<double, 3> evaluate(const ShapedCube& shaped, std::array<double, 3> rgb) {
    std::array<double, 3> u{};
    for (int c = 0; c < 3; ++c)
        u[c] = shapedCoordinate(shaped, c, rgb[c]);
    return cubeAt(shaped, u);
}

BakedCube bake(const ShapedCube& shaped) {
    std::vector<std::int64_t> sizes{shaped.cubeSize};
    for (const std::int64_t larger : {33, 65})
        if (larger > shaped.cubeSize)
            sizes.push_back(larger);
    BakedCube baked;
    for (const std::int64_t size : sizes) {
        baked.size = size;
        baked.sampledError = sampledError(shaped, size);
        if (baked.sampledError <= bakeTolerance)
            break;
    }

    const std::int64_t m = baked.size;
    const auto u = gridCoordinates(shaped, m);
    baked.rgba.reserve(static_cast<std::size_t>(4 * m * m * m));
    for (std::int64_t b = 0; b < m; ++b)
        for (std::int64_t g = 0; g < m; ++g)
            for (std::int64_t r = 0; r < m; ++r) {
                const auto value = cubeAt(shaped, {u[0][r], u[1][g], u[2][b]});
                for (const double v : value)
                    baked.rgba.push_back(static_cast<float>(v));
                baked.rgba.push_back(1.0f);
            }
    return baked;
}

} // namespace vantrel::shaper
