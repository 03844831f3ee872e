#include "imaging/colour_cube.hpp"

#include <functional>
#include <optional>
#include <random>

#include <gtest/gtest.h>

#include "imaging/grade_kernel.hpp"
#include "media/error.hpp"
#include "test_pictures.hpp"

namespace vantrel::imaging {
namespace {

using test::Rgb;
using test::TestPicture;

TEST(Filter, IsFoundByItsTwoNamesOnly) {
    for (auto name : {Filter::colourCubeWithColourSpace, Filter::colourCube}) {
        const auto filter = Filter::named(name);
        ASSERT_TRUE(filter) << name;
        EXPECT_EQ(filter->name(), name);
    }
    for (std::string_view name : {"", "colourcube", "ColourCube ", "ColourCubeWith", "sRGB"})
        EXPECT_FALSE(Filter::named(name)) << '"' << name << '"';
    EXPECT_EQ(colourSpaceNamed("sRGB"), ColourSpace::sRGB);
    EXPECT_FALSE(colourSpaceNamed("srgb"));
}

TEST(Filter, GivesAnImageOnlyWithInputAndAgreeingCube) {
    const struct {
        const char* name;
        std::optional<std::int64_t> dimension;
        std::optional<std::size_t> bytes;
        bool input;
        bool output;
    } cases[] = {
        {"complete", 3, 16 * 27, true, true},
        {"no input", 3, 16 * 27, false, false},
        {"no data", 3, std::nullopt, true, false},
        {"no dimension", std::nullopt, 16 * 27, true, false},
        {"dimension 1", 1, 16, true, false},
        {"negative dimension", -3, 16 * 27, true, false},
        {"one byte short", 3, 16 * 27 - 1, true, false},
        {"one entry too many", 3, 16 * 28, true, false},
    };
    TestPicture picture(4, 2, {});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto filter = Filter::named(Filter::colourCubeWithColourSpace);
        if (c.dimension)
            filter->setCubeDimension(*c.dimension);
        if (c.bytes)
            filter->setCubeData(std::vector<std::byte>(*c.bytes));
        filter->setColourSpace(ColourSpace::sRGB);
        if (c.input)
            filter->setInputImage(Image::fromPicture(picture.view()));
        EXPECT_EQ(filter->outputImage().has_value(), c.output);
    }
}

TEST(Filter, ServesManyFramesWithOneCube) {
    TestPicture first(4, 2, {}), second(4, 2, {});
    auto filter = Filter::named(Filter::colourCube);
    filter->setCubeData(test::cubeBytes(2, [](Rgb c) { return c; })); // before the dimension
    filter->setCubeDimension(2);

    filter->setInputImage(Image::fromPicture(first.view()));
    const auto a = filter->outputImage();
    filter->setInputImage(Image::fromPicture(second.view()));
    const auto b = filter->outputImage();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->picture().planes[0].data, first.view().planes[0].data);
    EXPECT_EQ(b->picture().planes[0].data, second.view().planes[0].data);
    EXPECT_EQ(a->cube().get(), b->cube().get()) << "the cube is repacked once, not per frame";

    filter->setCubeDimension(3);
    EXPECT_FALSE(filter->outputImage()) << "the data no longer agrees with the dimension";
}

TEST(RenderContext, RefusesPicturesAndBuffersThatDoNotFit) {
    using Change = std::function<void(media::PictureView&, media::PictureView&, Rect&)>;
    const std::pair<const char*, Change> cases[] = {
        {"bounds off the origin", [](auto&, auto&, Rect& r) { r.x = 2; }},
        {"odd width", [](auto&, auto&, Rect& r) { r.width = 7; }},
        {"8-bit buffer", [](auto&, media::PictureView& t, auto&) { t.bitDepth = 8; }},
        {"4:2:2 buffer", [](auto&, media::PictureView& t, auto&) { t.chromaShiftY = 0; }},
        {"small buffer", [](auto&, media::PictureView& t, auto&) { t.width = 6; }},
        {"small picture", [](media::PictureView& s, auto&, auto&) { s.height = 2; }},
        {"17-bit picture", [](media::PictureView& s, auto&, auto&) { s.bitDepth = 17; }},
        {"4:1:0 picture", [](media::PictureView& s, auto&, auto&) { s.chromaShiftX = 2; }},
    };
    const RenderContext context(ColourSpace::sRGB, ColourSpace::sRGB, false);
    TestPicture source(8, 4, {}), target(8, 4, test::output10);
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        auto s = source.view();
        auto t = target.view();
        Rect bounds{0, 0, 8, 4};
        change(s, t, bounds);
        try {
            context.render(Image::fromPicture(s), t, bounds, ColourSpace::sRGB);
            ADD_FAILURE() << "rendered";
        } catch (const Error& e) {
            EXPECT_EQ(e.domain(), "imaging");
        }
    }
    EXPECT_TRUE(target.untouchedBeyond(0, 0));
}

TEST(RenderContext, LargePicturesInBandsMatchTheReference) {
    TestPicture source(256, 256, {});
    std::mt19937 random(1);
    for (int p = 0; p < 3; ++p)
        source.fill(p, [&](int, int) { return static_cast<int>(random() % 256); });
    const auto cube = test::cubeBytes(9, [](Rgb c) { return Rgb{c.g * c.g, c.b, 1 - c.r * c.b}; });
    const Image image = test::graded(source.view(), 9, cube);

    TestPicture banded(256, 256, test::output10), reference(256, 256, test::output10);
    RenderContext(ColourSpace::sRGB, ColourSpace::sRGB, false)
        .render(image, banded.view(), {0, 0, 256, 256}, ColourSpace::sRGB);
    kernel::renderWith(kernel::kernel(kernel::Kind::scalar), image, reference.view(),
                       {0, 0, 256, 256}, 1);
    EXPECT_LE(banded.maxDifference(reference), 1);
}

} // namespace
} // namespace vantrel::imaging
