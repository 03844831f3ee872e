#include "imaging/colour_cube.hpp"

#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"

namespace vantrel::imaging {
namespace {

using media::PictureView;

// An 8×4 4:2:0 picture whose three planes share `samples`.
PictureView picture(std::vector<std::uint16_t>& samples, int bitDepth) {
    const media::Plane plane{reinterpret_cast<std::uint8_t*>(samples.data()), 16};
    return {8, 4, bitDepth, 1, 1, {plane, plane, plane}};
}

TEST(Filter, IsFoundByItsTwoNamesOnly) {
    for (auto name : {Filter::colourCubeWithColourSpace, Filter::colourCube})
        EXPECT_EQ(Filter::named(name) ? Filter::named(name)->name() : "", name);
    for (std::string_view name : {"", "colourcube", "ColourCube ", "ColourCubeWith", "sRGB"})
        EXPECT_FALSE(Filter::named(name)) << '"' << name << '"';
    EXPECT_EQ(colourSpaceNamed("sRGB"), ColourSpace::sRGB);
    EXPECT_FALSE(colourSpaceNamed("srgb"));
}

// One filter serves every frame: only its input changes, the cube is repacked once.
TEST(Filter, GivesAnImageOnlyWithInputAndAgreeingCube) {
    std::vector<std::uint16_t> first(32), second(32);
    auto filter = Filter::named(Filter::colourCubeWithColourSpace);
    filter->setColourSpace(ColourSpace::sRGB);
    filter->setCubeDimension(2);
    EXPECT_FALSE(filter->outputImage()) << "no data";
    filter->setCubeData(std::vector<std::byte>(16 * 8));
    EXPECT_FALSE(filter->outputImage()) << "no input";
    filter->setInputImage(Image::fromPicture(picture(first, 8)));
    const auto a = filter->outputImage();
    filter->setInputImage(Image::fromPicture(picture(second, 8)));
    const auto b = filter->outputImage();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->picture().planes[0].data, picture(first, 8).planes[0].data);
    EXPECT_EQ(b->picture().planes[0].data, picture(second, 8).planes[0].data);
    EXPECT_EQ(a->cube(), b->cube());
    // Data first, then the dimension it must agree with: 16·N³ bytes, N ≥ 2.
    for (auto [bytes, dimension] : {std::pair{128, 3}, {16, 1}, {431, 3}, {448, 3}, {432, 3}}) {
        filter->setCubeData(std::vector<std::byte>(bytes));
        filter->setCubeDimension(dimension);
        EXPECT_EQ(filter->outputImage().has_value(), bytes == 432)
            << bytes << " bytes, " << dimension;
    }
}

TEST(RenderContext, RefusesPicturesAndBuffersThatDoNotFit) {
    const std::pair<const char*, void (*)(PictureView&, PictureView&, Rect&)> cases[] = {
        {"bounds off the origin", [](auto&, auto&, Rect& r) { r.x = 2; }},
        {"odd width", [](auto&, auto&, Rect& r) { r.width = 7; }},
        {"8-bit buffer", [](auto&, PictureView& t, auto&) { t.bitDepth = 8; }},
        {"4:2:2 buffer", [](auto&, PictureView& t, auto&) { t.chromaShiftY = 0; }},
        {"small buffer", [](auto&, PictureView& t, auto&) { t.width = 6; }},
        {"small picture", [](PictureView& s, auto&, auto&) { s.height = 2; }},
        {"17-bit picture", [](PictureView& s, auto&, auto&) { s.bitDepth = 17; }},
        {"4:1:0 picture", [](PictureView& s, auto&, auto&) { s.chromaShiftX = 2; }},
    };
    const RenderContext context(ColourSpace::sRGB, ColourSpace::sRGB, false);
    std::vector<std::uint16_t> source(64), target(64, 0xffff);
    for (const auto& [name, change] : cases) {
        auto s = picture(source, 8);
        auto t = picture(target, 10);
        Rect bounds{0, 0, 8, 4};
        change(s, t, bounds);
        EXPECT_THROW(context.render(Image::fromPicture(s), t, bounds, ColourSpace::sRGB), Error)
            << name;
    }
    EXPECT_EQ(target, std::vector<std::uint16_t>(64, 0xffff));
}

} // namespace
} // namespace vantrel::imaging
