#include "app/busy_picture.h"
#include "app/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestrane;

namespace {

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(const JpegImage& image, int x, int y) {
    const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 3;
    return {image.rgb[at], image.rgb[at + 1], image.rgb[at + 2]};
}

} // namespace

TEST(JpegDecoder, busyPictureIsBaselineRgbAt96DpiOnDarkBlueGround) {
    const auto bytes = busyPictureJpeg();
    ASSERT_GT(bytes.size(), 8000u);
    EXPECT_LT(bytes.size(), 20000u);
    // Start of image, then a baseline frame header (SOF0) somewhere before the scan.
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);

    JpegDecoder decoder;
    const auto image = decoder.decode(bytes);
    ASSERT_TRUE(image.has_value()) << decoder.errorMessage();
    EXPECT_EQ(image->width, 260);
    EXPECT_EQ(image->height, 151);
    EXPECT_EQ(image->components, 3);
    EXPECT_EQ(image->densityUnit, 1);
    EXPECT_EQ(image->xDensity, 96);
    EXPECT_EQ(image->yDensity, 96);
    ASSERT_EQ(image->rgb.size(), 260u * 151u * 3u);

    // Dark blue ground in the corners left free by the emblem and the lettering.
    for (auto [x, y] : {std::pair{10, 10}, std::pair{250, 10}, std::pair{10, 100}, std::pair{250, 100}}) {
        const Rgb p = pixelAt(*image, x, y);
        EXPECT_GT(p.b, p.r + 25) << x << "," << y;
        EXPECT_GT(p.b, p.g + 15) << x << "," << y;
        EXPECT_LT(p.r + p.g + p.b, 200) << x << "," << y;
    }
}

TEST(JpegDecoder, refusesDamagedDataWithoutCrashing) {
    const auto bytes = busyPictureJpeg();
    JpegDecoder decoder;

    const std::vector<std::uint8_t> notJpeg = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
    EXPECT_FALSE(decoder.decode(notJpeg).has_value());
    EXPECT_FALSE(decoder.errorMessage().empty());

    // Only the headers: libjpeg runs out of data in the header or the scan.
    const std::vector<std::uint8_t> truncated(bytes.begin(), bytes.begin() + 200);
    const auto partial = decoder.decode(truncated);
    if (partial) { // libjpeg pads a short scan with an end marker and may still finish
        EXPECT_EQ(partial->width, 260);
    }

    EXPECT_FALSE(decoder.decode({}).has_value());

    // The same decoder still decodes a good picture afterwards.
    const auto image = decoder.decode(bytes);
    ASSERT_TRUE(image.has_value()) << decoder.errorMessage();
    EXPECT_EQ(image->height, 151);
}
