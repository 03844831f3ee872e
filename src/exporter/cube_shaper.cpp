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

// The pair prepared for many lookups: cube entries already read as the colour cube
// reads them.
class Composite {
public:
    explicit Composite(const ShapedCube& s) : s_(s), entries_(s.cube.size()) {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            entries_[i] = entryValue(s.cube[i]);
    }

    // The cube coordinate that input `x` of channel `c` reaches through the shaper.
    double coordinate(int c, double x) const {
        const auto rows = static_cast<std::int64_t>(s_.shaper.size() / 3);
        if (rows == 0)
            return normalise(x, s_.cubeRange[c]);
        const Cell cell = cellOf(normalise(x, s_.shaperRange[c]), rows);
        const double low = s_.shaper[3 * cell.index + c];
        const double high = s_.shaper[3 * (cell.index + 1) + c];
        return normalise(lerp(low, high, cell.high), s_.cubeRange[c]);
    }

    Cell cubeCell(double u) const { return cellOf(u, s_.cubeSize); }

    std::array<double, 3> cubeAt(const Cell& r, const Cell& g, const Cell& b) const {
        const std::int64_t n = s_.cubeSize;
        const double* base = entries_.data() + 3 * (r.index + n * (g.index + n * b.index));
        const std::int64_t step[3] = {3, 3 * n, 3 * n * n};
        const Cell* cells[3] = {&r, &g, &b};
        std::array<double, 3> out{};
        for (int corner = 0; corner < 8; ++corner) {
            double weight = 1;
            std::int64_t offset = 0;
            for (int axis = 0; axis < 3; ++axis) {
                const bool up = (corner >> axis & 1) != 0;
                weight *= up ? cells[axis]->high : 1 - cells[axis]->high;
                offset += up ? step[axis] : 0;
            }
            for (int c = 0; c < 3; ++c)
                out[c] += weight * base[offset + c];
        }
        return out;
    }

    std::array<double, 3> at(const std::array<double, 3>& rgb) const {
        return cubeAt(cubeCell(coordinate(0, rgb[0])), cubeCell(coordinate(1, rgb[1])),
                      cubeCell(coordinate(2, rgb[2])));
    }

    // The cube cells of a baked cube's grid points, per axis: the composite
    // separates into one shaper lookup per axis.
    std::array<std::vector<Cell>, 3> gridCells(std::int64_t size, InputRange input) const {
        std::array<std::vector<Cell>, 3> cells;
        for (int c = 0; c < 3; ++c)
            for (std::int64_t i = 0; i < size; ++i)
                cells[c].push_back(cubeCell(coordinate(
                    c, inputAt(static_cast<double>(i) / static_cast<double>(size - 1), input))));
        return cells;
    }

    // The input at `unit` (0 to 1) of a baked grid over `input`; its ends exactly.
    static double inputAt(double unit, InputRange input) {
        return unit == 1 ? input.max : input.min + unit * (input.max - input.min);
    }

private:
    const ShapedCube& s_;
    std::vector<double> entries_; // three per entry
};

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
double sampledError(const Composite& composite, std::int64_t size, InputRange input) {
    static const auto points = samplePoints();
    const auto grid = composite.gridCells(size, input);
    double worst = 0;
    for (const auto& p : points) {
        Cell cells[3];
        for (int c = 0; c < 3; ++c)
            cells[c] = cellOf(p[c], size);
        std::array<double, 3> baked{};
        for (int corner = 0; corner < 8; ++corner) {
            double weight = 1;
            const Cell* at[3];
            for (int c = 0; c < 3; ++c) {
                const bool up = (corner >> c & 1) != 0;
                weight *= up ? cells[c].high : 1 - cells[c].high;
                at[c] = &grid[c][cells[c].index + (up ? 1 : 0)];
            }
            const auto value = composite.cubeAt(*at[0], *at[1], *at[2]);
            for (int c = 0; c < 3; ++c)
                baked[c] += weight * static_cast<float>(value[c]);
        }
        std::array<double, 3> in;
        for (int c = 0; c < 3; ++c)
            in[c] = Composite::inputAt(p[c], input);
        const auto exact = composite.at(in);
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(baked[c] - exact[c]));
    }
    return worst;
}

} // namespace

std::array<double, 3> evaluate(const ShapedCube& shaped, std::array<double, 3> rgb) {
    return Composite(shaped).at(rgb);
}

BakedCube bake(const ShapedCube& shaped, InputRange input) {
    const Composite composite(shaped);
    std::vector<std::int64_t> sizes{shaped.cubeSize};
    for (const std::int64_t larger : {33, 65})
        if (larger > shaped.cubeSize)
            sizes.push_back(larger);
    BakedCube baked;
    for (const std::int64_t size : sizes) {
        baked.size = size;
        baked.sampledError = sampledError(composite, size, input);
        if (baked.sampledError <= bakeTolerance)
            break;
    }

    const std::int64_t m = baked.size;
    const auto grid = composite.gridCells(m, input);
    baked.rgb.reserve(static_cast<std::size_t>(3 * m * m * m));
    for (const Cell& b : grid[2])
        for (const Cell& g : grid[1])
            for (const Cell& r : grid[0])
                for (const double v : composite.cubeAt(r, g, b))
                    baked.rgb.push_back(static_cast<float>(v));
    return baked;
}

} // namespace vantrel::shaper
