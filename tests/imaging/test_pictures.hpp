#pragma once
// Pictures, cubes and colour arithmetic for the imaging tests.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "imaging/colour_cube.hpp"
#include "media/pixel_buffer.hpp"

namespace vantrel::test {

struct PictureFormat {
    int bitDepth = 8;
    int shiftX = 1;
    int shiftY = 1;
    media::ColourRange range = media::ColourRange::limited;
    media::YCbCrMatrix matrix = media::YCbCrMatrix::bt709;
};

inline constexpr PictureFormat output10{10, 1, 1, media::ColourRange::full};

// Planar samples owned by the test. Rows run `padding` samples past the plane's
// width and a spare row follows the last; all of it starts as `filler`, so reads
// and writes outside the picture show.
class TestPicture {
public:
    TestPicture(int width, int height, PictureFormat f, int padding = 5, int filler = 0xffff)
        : width_(width), height_(height), f_(f), bytes_(f.bitDepth > 8 ? 2 : 1),
          filler_(bytes_ == 2 ? filler : filler & 0xff) {
        for (int p = 0; p < 3; ++p) {
            strides_[p] = (planeWidth(p) + padding) * bytes_;
            planes_[p].resize(strides_[p] * (planeHeight(p) + 1));
            for (std::size_t i = 0; i < planes_[p].size(); i += bytes_)
                std::memcpy(&planes_[p][i], &filler_, bytes_);
        }
    }

    int planeWidth(int p) const { return (width_ + (p ? f_.shiftX : 0)) >> (p ? f_.shiftX : 0); }
    int planeHeight(int p) const { return (height_ + (p ? f_.shiftY : 0)) >> (p ? f_.shiftY : 0); }
    int at(int p, int x, int y) const {
        int value = 0;
        std::memcpy(&value, &planes_[p][y * strides_[p] + x * bytes_], bytes_);
        return value;
    }
    void set(int p, int x, int y, int value) {
        std::memcpy(&planes_[p][y * strides_[p] + x * bytes_], &value, bytes_);
    }
    // Sets every sample of the plane to f(x, y).
    void fill(int p, const std::function<int(int, int)>& f) {
        for (int y = 0; y < planeHeight(p); ++y)
            for (int x = 0; x < planeWidth(p); ++x)
                set(p, x, y, f(x, y));
    }
    // True when nothing outside the top-left `width` × `height` pixels changed.
    bool untouchedBeyond(int width, int height) const {
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y * strides_[p] < std::ssize(planes_[p]); ++y)
                for (int x = 0; x < strides_[p] / bytes_; ++x)
                    if ((x >= width >> (p ? f_.shiftX : 0) || y >= height >> (p ? f_.shiftY : 0)) &&
                        at(p, x, y) != filler_)
                        return false;
        return true;
    }
    // The largest difference between two pictures of the same layout.
    int maxDifference(const TestPicture& other) const {
        int most = 0;
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < planeHeight(p); ++y)
                for (int x = 0; x < planeWidth(p); ++x)
                    most = std::max(most, std::abs(at(p, x, y) - other.at(p, x, y)));
        return most;
    }
    media::PictureView view() {
        media::PictureView v{width_,    height_, f_.bitDepth, f_.shiftX,
                             f_.shiftY, {},      f_.matrix,   f_.range};
        for (int p = 0; p < 3; ++p)
            v.planes[p] = {planes_[p].data(), strides_[p]};
        return v;
    }

private:
    int width_, height_;
    PictureFormat f_;
    int bytes_, filler_;
    std::ptrdiff_t strides_[3];
    std::vector<std::uint8_t> planes_[3];
};

struct Rgb {
    double r, g, b;
};

// Rounded Y′CbCr codes of a colour, written with the format's matrix, depth and range.
inline std::array<int, 3> codesOf(Rgb c, const PictureFormat& f) {
    const auto [kr, kb] = f.matrix == media::YCbCrMatrix::bt601    ? std::pair{0.299, 0.114}
                          : f.matrix == media::YCbCrMatrix::bt2020 ? std::pair{0.2627, 0.0593}
                                                                   : std::pair{0.2126, 0.0722};
    const double y = kr * c.r + (1 - kr - kb) * c.g + kb * c.b;
    const double unit = std::ldexp(1.0, f.bitDepth - 8), top = std::ldexp(1.0, f.bitDepth) - 1;
    const bool limited = f.range == media::ColourRange::limited;
    const double chroma = limited ? 224 * unit : top;
    return {int(std::lround((limited ? 16 * unit : 0) + (limited ? 219 * unit : top) * y)),
            int(std::lround(128 * unit + chroma * (c.b - y) / (2 * (1 - kb)))),
            int(std::lround(128 * unit + chroma * (c.r - y) / (2 * (1 - kr))))};
}

// The unrounded output codes (BT.709, full range, 10-bit) of a colour.
inline std::array<double, 3> outputOf(Rgb c) {
    const double y = 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
    return {1023 * y, 512 + 1023 * (c.b - y) / 1.8556, 512 + 1023 * (c.r - y) / 1.5748};
}

// RGBA bytes of an N³ cube holding f at each grid point, red fastest.
inline std::vector<std::byte> cubeBytes(int n, const std::function<Rgb(Rgb)>& f) {
    std::vector<std::byte> bytes(16 * static_cast<std::size_t>(n) * n * n);
    for (std::size_t i = 0; i < bytes.size() / 16; ++i) {
        const double top = n - 1;
        const Rgb c = f({(i % n) / top, (i / n % n) / top, (i / n / n) / top});
        const float entry[4] = {float(c.r), float(c.g), float(c.b), 1.0f};
        std::memcpy(&bytes[16 * i], entry, sizeof entry);
    }
    return bytes;
}

// The picture graded with that cube through a filter.
inline imaging::Image graded(const media::PictureView& picture, int n,
                             const std::vector<std::byte>& cube) {
    auto filter = imaging::Filter::named(imaging::Filter::colourCube);
    filter->setCubeDimension(n);
    filter->setCubeData(cube);
    filter->setInputImage(imaging::Image::fromPicture(picture));
    return filter->outputImage().value();
}

} // namespace vantrel::test
