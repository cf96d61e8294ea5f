// Captures and the eye: CSV files with the columns and rows they promise, raw fast packets, and
// an eye picture that decodes (PNG) or parses (SVG) at the size asked for, with the eye open.
#include <expat.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/tool_runner.h"

namespace tarvex::cli::test {
namespace {

using ::testing::IsEmpty;

std::vector<std::vector<long>> csvRows(const std::string& text, std::string* header) {
    std::istringstream lines(text);
    std::getline(lines, *header);
    std::vector<std::vector<long>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<long> row;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) row.push_back(std::stol(cell));
        rows.push_back(row);
    }
    return rows;
}

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, rows top down

    const std::uint8_t* at(unsigned x, unsigned y) const { return &rgb[(y * width + x) * 3]; }
};

// Decodes a PNG completely with libpng (transparent pixels come out black).
bool decodePng(const std::string& bytes, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) return false;
    image.format = PNG_FORMAT_RGB;
    picture->width = image.width;
    picture->height = image.height;
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
}

struct SvgSummary {
    std::string root;
    std::string width;
    std::string height;
    std::string viewBox;
    int images = 0;
    std::string firstImage;  // its x, y, width and height
    std::string firstImageData;  // its href, a data: URI
};

std::string fromBase64(std::string_view text) {
    std::string bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = std::strchr(digits, c);
        if (c == '=' || c == '\0' || at == nullptr) continue;
        bits = bits << 6 | static_cast<std::uint32_t>(at - digits);
        if ((count += 6) >= 8) bytes += static_cast<char>(bits >> (count -= 8) & 0xFF);
    }
    return bytes;
}

// The eye drawn into `plot` of `picture` (the picture's own frame): open in the middle of the
// bit at the middle level, with the crossings there at 0 and 1 UI.  The plot spans -0.5 to 1.5
// unit intervals; the levels sit at its top and bottom, so its middle row is the middle level.
void expectOpenEye(const Picture& picture, unsigned left, unsigned top, unsigned width,
                   unsigned height) {
    const unsigned middle = top + height / 2;
    const auto xAt = [&](double ui) { return static_cast<unsigned>(left + (ui + 0.5) / 2 * width); };
    // Hits are bright colours; the background and the graticule under them are dark.
    const auto isHit = [](const std::uint8_t* p) { return std::max({p[0], p[1], p[2]}) > 100; };
    for (unsigned x = xAt(0.4); x <= xAt(0.6); ++x)
        for (unsigned y = middle - 20; y <= middle + 20; ++y)
            ASSERT_FALSE(isHit(picture.at(x, y))) << "hit inside the eye at " << x << "," << y;
    for (double ui : {0.0, 1.0}) {
        bool hit = false;
        for (unsigned x = xAt(ui) - 4; x <= xAt(ui) + 4; ++x)
            for (unsigned y = middle - 30; y <= middle + 30; ++y) hit = hit || isHit(picture.at(x, y));
        EXPECT_TRUE(hit) << "no crossing at " << ui << " UI";
    }
}

// Parses an SVG file with expat: it must be well-formed XML throughout.
bool parseSvg(const std::string& text, SvgSummary* summary) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, summary);
    XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char** attrs) {
        auto* s = static_cast<SvgSummary*>(data);
        const std::string element = name;
        if (s->root.empty()) {
            s->root = element;
            for (int i = 0; attrs[i] != nullptr; i += 2) {
                const std::string key = attrs[i];
                if (key == "width") s->width = attrs[i + 1];
                if (key == "height") s->height = attrs[i + 1];
                if (key == "viewBox") s->viewBox = attrs[i + 1];
            }
        }
        if (element == "image" && s->images++ == 0) {
            std::string x, y, width, height;
            for (int i = 0; attrs[i] != nullptr; i += 2) {
                const std::string key = attrs[i];
                if (key == "x") x = attrs[i + 1];
                if (key == "y") y = attrs[i + 1];
                if (key == "width") width = attrs[i + 1];
                if (key == "height") height = attrs[i + 1];
                if (key == "xlink:href" || key == "href") s->firstImageData = attrs[i + 1];
            }
            s->firstImage = x + " " + y + " " + width + " " + height;
        }
    });
    const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

TEST(CaptureCommand, WritesOneCsvRowPerSampleUnderASampleValueHeader) {
    ScratchDir dir;
    const auto run = runDemo({"--json", "capture", "-n", "5", "-o", "samples.csv"}, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.err, IsEmpty()) << "no progress when standard error is not a terminal";
    const auto json = run.json();
    EXPECT_EQ(json["packets"], 5);
    EXPECT_EQ(json["sampleCount"], 160);
    EXPECT_EQ(json["okCount"], 5);
    EXPECT_EQ(json["failCount"], 0);
    EXPECT_EQ(json["shortCount"], 0);

    std::string header;
    const auto rows = csvRows(readFile(dir / "samples.csv"), &header);
    EXPECT_EQ(header, "sample,value");
    ASSERT_EQ(rows.size(), 160u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 2u);
        EXPECT_EQ(rows[i][0], static_cast<long>(i));
        EXPECT_GE(rows[i][1], 1);
        EXPECT_LE(rows[i][1], 4095);
    }
}

TEST(CaptureCommand, WithoutAFileTheCsvGoesToStandardOutput) {
    const auto run = runDemo({"capture", "-n", "2"});
    EXPECT_EQ(run.status, 0);
    const auto lines = run.outLines();
    ASSERT_EQ(lines.size(), 65u);
    EXPECT_EQ(lines[0], "sample,value");
    EXPECT_THAT(lines[64], ::testing::MatchesRegex("63,[0-9]+"));
}

TEST(CaptureCommand, FastPacketsGoRawIntoOneSlotOf512BytesEach) {
    ScratchDir dir;
    const auto run = runDemo({"--json", "capture", "--fast", "-n", "3", "-o", "fast.bin"}, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.json()["sampleCount"], 3 * 256);
    const auto bytes = readFile(dir / "fast.bin");
    ASSERT_EQ(bytes.size(), 3u * 512u);
    // Each packet fills the start of its slot; the rest of the slot stays as it was (zero).
    for (int slot = 0; slot < 3; ++slot) {
        const auto start = bytes.begin() + slot * 512;
        EXPECT_TRUE(std::any_of(start, start + 64, [](char c) { return c != 0; })) << slot;
        EXPECT_TRUE(std::all_of(start + 64, start + 512, [](char c) { return c == 0; })) << slot;
    }
}

TEST(EyeCommand, DrawsAPngOfTheAskedSizeWithTheEyeOpenAndTheCrossingsAtZeroAndOne) {
    ScratchDir dir;
    const auto run =
        runDemo({"--json", "eye", "-n", "400", "-o", "eye.png", "--width", "900", "--height", "600"},
                dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, IsEmpty());
    const auto json = run.json();
    EXPECT_EQ(json["format"], "png");
    EXPECT_EQ(json["sampleCount"], 400 * 32);
    EXPECT_EQ(json["okCount"], 400);

    Picture picture;
    ASSERT_TRUE(decodePng(readFile(dir / "eye.png"), &picture));
    EXPECT_EQ(picture.width, 900u);
    EXPECT_EQ(picture.height, 600u);
    // The plot area lies between fixed margins.
    expectOpenEye(picture, 84, 72, 900 - 84 - 118, 600 - 72 - 66);
}

TEST(EyeCommand, WritesAnSvgThatParsesWithTheEyeOpenInItsPicture) {
    ScratchDir dir;
    const auto run = runDemo({"eye", "-n", "400", "-o", "Eye.SVG"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, IsEmpty()) << "quiet on success";
    SvgSummary svg;
    ASSERT_TRUE(parseSvg(readFile(dir / "Eye.SVG"), &svg));
    EXPECT_EQ(svg.root, "svg");
    EXPECT_EQ(svg.width, "1000pt");
    EXPECT_EQ(svg.height, "640pt");
    EXPECT_EQ(svg.viewBox, "0 0 1000 640");
    ASSERT_EQ(svg.images, 1) << "the density is embedded as an image";
    // The density fills the plot area, one pixel per unit.
    EXPECT_EQ(svg.firstImage, "84 72 798 502");
    const std::string prefix = "data:image/png;base64,";
    ASSERT_EQ(svg.firstImageData.rfind(prefix, 0), 0u);
    Picture density;
    ASSERT_TRUE(decodePng(fromBase64(svg.firstImageData.substr(prefix.size())), &density));
    EXPECT_EQ(density.width, 798u);
    EXPECT_EQ(density.height, 502u);
    expectOpenEye(density, 0, 0, density.width, density.height);
}

TEST(EyeCommand, WritesThePointsAsCsvWithinTheEyesRange) {
    ScratchDir dir;
    const auto run = runDemo({"--json", "eye", "-n", "50", "--csv", "points.csv"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    const auto json = run.json();
    const long width = json["eyeWidth"];
    const long minimum = json["minimum"];
    const long maximum = json["maximum"];
    EXPECT_GT(width, 0);
    EXPECT_EQ(width, maximum - minimum) << "x-scale 0: the width is the sample range";
    EXPECT_FALSE(json.contains("output")) << "no picture was asked for";

    std::string header;
    const auto rows = csvRows(readFile(dir / "points.csv"), &header);
    EXPECT_EQ(header, "sample,x,y");
    ASSERT_EQ(rows.size(), 50u * 32u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 3u);
        EXPECT_EQ(rows[i][0], static_cast<long>(i));
        EXPECT_GE(rows[i][1], 0);
        EXPECT_LT(rows[i][1], width);
        EXPECT_GE(rows[i][2], minimum);
        EXPECT_LE(rows[i][2], maximum);
    }
}

TEST(EyeCommand, FoldsWithTheRatesAndScaleGiven) {
    ScratchDir dir;
    const auto run = runDemo({"--json", "eye", "-n", "20", "--csv", "points.csv", "--data-rate",
                              "1.25Gbps", "--sample-rate", "99MHz", "--x-scale", "1000"},
                             dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    const auto json = run.json();
    EXPECT_EQ(json["dataRate"], 1.25e9);
    EXPECT_EQ(json["sampleRate"], 99e6);
    EXPECT_EQ(json["eyeWidth"], 1000);
    // Sample i lands at trunc(1000 * frac(i * foldStep)).
    const double step = json["foldStep"];
    std::string header;
    const auto rows = csvRows(readFile(dir / "points.csv"), &header);
    ASSERT_EQ(rows.size(), 640u);
    for (std::size_t i = 0; i < rows.size(); i += 37) {
        double p = static_cast<double>(i) * step;
        p -= static_cast<long>(p);
        EXPECT_EQ(rows[i][1], static_cast<long>(1000 * p)) << "sample " << i;
    }
}

TEST(EyeCommand, ASampleRateOnAWholeFractionOfTheDataRateIsWarnedAbout) {
    ScratchDir dir;
    const auto run = runDemo({"eye", "-n", "4", "--csv", "points.csv", "--data-rate", "1G",
                              "--sample-rate", "100M"},
                             dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "tarvex: warning: sampled at 100 MS/s, the 1 Gb/s signal is seen at only 1 point "
              "of the bit; choose a sample rate that walks the samples across the bit\n");
}

}  // namespace
}  // namespace tarvex::cli::test
