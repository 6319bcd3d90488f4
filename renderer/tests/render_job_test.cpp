// Rendering through the built module: key frames, alpha conventions, failing actions.
#include "image_io.h"
#include "options.h"
#include "render_job.h"

#include "effect.h"
#include "host.h"
#include "module.h"
#include "session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using nimbra_render::Alpha;
using nimbra_render::Raster;
using nimbra_render::SampleFormat;

fs::path testDir(const std::string& name) {
    const fs::path dir = fs::path(NIMBRA_TEST_SCRATCH) / name; // this build tree's own
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Transparent 64x32 frame with an opaque block (the "text") at x 24..40, rows 12..20.
Raster textFrame() {
    Raster image;
    image.width = 64;
    image.height = 32;
    image.rgba.assign(64 * 32 * 4, 0.0f);
    for (int row = 12; row < 20; ++row)
        for (int x = 24; x < 40; ++x) {
            float* p = image.pixel(x, row);
            p[0] = p[1] = p[2] = p[3] = 1.0f;
        }
    // A half-transparent edge, where the alpha conventions differ.
    for (int x = 24; x < 40; ++x) {
        float* p = image.pixel(x, 11);
        p[0] = 1.0f;
        p[1] = 0.5f;
        p[2] = 0.0f;
        p[3] = 0.5f;
    }
    return image;
}

// Leftmost column of row `row` whose alpha is above zero, or -1.
int firstOpaqueColumn(const Raster& image, int row) {
    for (int x = 0; x < image.width; ++x)
        if (image.pixel(x, row)[3] > 0.0f)
            return x;
    return -1;
}

nimbra_render::Options renderOptions(const fs::path& in, const fs::path& out) {
    nimbra_render::Options o;
    o.plugin = NIMBRA_BUNDLE;
    o.input = in.string();
    o.output = out.string();
    o.threads = 2;
    return o;
}

TEST(KeyFrames, ValuesAreLinearBetweenKeysAndHeldOutside) {
    ofxhost::Module module(NIMBRA_BUNDLE, /*keepLoaded=*/true);
    ASSERT_TRUE(module.ok()) << module.error();
    ofxhost::Host host;
    module.setHost(host.ofxHost());
    ofxhost::PluginSession session(host, module.plugin(0));
    ASSERT_EQ(session.load(), kOfxStatOK);
    ASSERT_EQ(session.describe(), kOfxStatOK);
    ASSERT_EQ(session.describeInContext(kOfxImageEffectContextFilter), kOfxStatOK);
    ofxhost::Effect& fx = *session.createInstance(kOfxImageEffectContextFilter).instance;

    nimbra_render::applyAssignment(fx.param("marginX"), {"marginX", "10", 1.0});
    nimbra_render::applyAssignment(fx.param("marginX"), {"marginX", "40", 48.0});
    nimbra_render::applyAssignment(fx.param("fillColor"), {"fillColor", "0,0,0,0", 0.0});
    nimbra_render::applyAssignment(fx.param("fillColor"), {"fillColor", "1,0.5,0,1", 10.0});
    nimbra_render::applyAssignment(fx.param("strokeEnabled"), {"strokeEnabled", "false", {}});

    ofxhost::Param& margin = fx.param("marginX");
    EXPECT_DOUBLE_EQ(margin.valueAt(1)[0], 10.0);
    EXPECT_DOUBLE_EQ(margin.valueAt(48)[0], 40.0);
    EXPECT_DOUBLE_EQ(margin.valueAt(24.5)[0], 25.0);
    EXPECT_DOUBLE_EQ(margin.valueAt(-5)[0], 10.0);
    EXPECT_DOUBLE_EQ(margin.valueAt(100)[0], 40.0);
    EXPECT_EQ(fx.param("fillColor").valueAt(5), (std::vector<double>{0.5, 0.25, 0, 0.5}));
    EXPECT_EQ(fx.param("strokeEnabled").valueAt(0), std::vector<double>{0});

    EXPECT_THROW(nimbra_render::applyAssignment(margin, {"marginX", "abc", 2.0}),
                 nimbra_render::UsageError);
    EXPECT_EQ(margin.keyTimes(), (std::vector<double>{1, 48})); // the bad key left no trace
    EXPECT_EQ(session.destroyInstance(fx), kOfxStatOK);
    EXPECT_EQ(session.unload(), kOfxStatOK);
}

TEST(KeyFrames, KeyedMarginWidensThePlateFrameByFrame) {
    const fs::path dir = testDir("keyed");
    for (int f = 1; f <= 3; ++f)
        nimbra_render::writePng((dir / ("in." + std::to_string(f) + ".png")).string(), textFrame(),
                                8);
    nimbra_render::Options o = renderOptions(dir / "in.%d.png", dir / "out.%d.png");
    o.frames = nimbra_render::FrameRange{1, 3};
    o.assignments = {{"marginX", "0", 1.0}, {"marginX", "10", 3.0}, {"strokeEnabled", "0", {}}};
    nimbra_render::render(o);
    // Row 15 crosses the plate. The effect grows the plate by twice marginX on each side, so
    // it starts 2 * marginX left of the text at x = 24: margins 0, 5 and 10.
    const int expected[] = {24, 14, 4};
    for (int f = 1; f <= 3; ++f) {
        const Raster out =
            nimbra_render::readImage((dir / ("out." + std::to_string(f) + ".png")).string());
        EXPECT_EQ(firstOpaqueColumn(out, 15), expected[f - 1]) << "frame " << f;
    }
}

// The same straight PNG rendered straight at 8 bits and premultiplied in float must agree
// once both are written back as straight PNGs.
TEST(AlphaConventions, StraightAndPremultipliedProcessingAgree) {
    const fs::path dir = testDir("premult");
    nimbra_render::writePng((dir / "in.png").string(), textFrame(), 8);
    nimbra_render::Options straight = renderOptions(dir / "in.png", dir / "straight.png");
    straight.assignments = {{"fillColor", "0.2,0.4,0.8,0.5", {}}, {"strokeWidth", "2", {}}};
    nimbra_render::Options premult = straight;
    premult.output = (dir / "premult.png").string();
    premult.premult = nimbra_render::PremultChoice::Premultiplied;
    premult.depth = nimbra_render::DepthChoice::Float;
    nimbra_render::render(straight);
    nimbra_render::render(premult);

    const Raster a = nimbra_render::readImage(straight.output);
    const Raster b = nimbra_render::readImage(premult.output);
    ASSERT_EQ(a.rgba.size(), b.rgba.size());
    double worst = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i)
        worst = std::max(worst, std::abs(static_cast<double>(a.rgba[i] - b.rgba[i])));
    EXPECT_LE(worst, 2.0 / 255.0);
    // The plate is there: semi-transparent fill below the text.
    EXPECT_NEAR(a.pixel(20, 15)[3], 0.5, 1.0 / 255.0);
}

// Where nothing is text the frame passes through unchanged, and the output file keeps the
// input's precision: 8-bit PNG to 8 bits, 16-bit PNG to 16 bits, float processing to a 16-bit
// PNG, float EXR to float and half EXR to half.
TEST(OutputFiles, FrameWithoutTextPassesThroughAtTheInputsPrecision) {
    const fs::path dir = testDir("passthrough");
    Raster faint;
    faint.width = 5;
    faint.height = 4;
    faint.rgba.resize(5 * 4 * 4);
    for (std::size_t i = 0; i < faint.rgba.size(); ++i) // alpha 0.05: below the threshold
        faint.rgba[i] = i % 4 == 3 ? 0.05f : static_cast<float>(i * 977 % 65536) / 65535.0f;
    const struct {
        const char* in;
        const char* out;
        nimbra_render::DepthChoice depth;
        SampleFormat written;
    } cases[] = {
        {"in8.png", "out8.png", nimbra_render::DepthChoice::FromInput, SampleFormat::U8},
        {"in16.png", "out16.png", nimbra_render::DepthChoice::FromInput, SampleFormat::U16},
        {"in8.png", "float8.png", nimbra_render::DepthChoice::Float, SampleFormat::U16},
        {"float.exr", "float.exr.exr", nimbra_render::DepthChoice::FromInput, SampleFormat::Float},
        {"half.exr", "half.exr.exr", nimbra_render::DepthChoice::FromInput, SampleFormat::Half},
    };
    nimbra_render::writePng((dir / "in8.png").string(), faint, 8);
    nimbra_render::writePng((dir / "in16.png").string(), faint, 16);
    nimbra_render::writeExr((dir / "float.exr").string(), faint, false);
    nimbra_render::writeExr((dir / "half.exr").string(), faint, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        nimbra_render::Options o = renderOptions(dir / c.in, dir / c.out);
        o.depth = c.depth;
        o.assignments = {{"strokeWidth", "3", {}}};
        nimbra_render::render(o);
        const Raster in = nimbra_render::readImage((dir / c.in).string());
        const Raster out = nimbra_render::readImage((dir / c.out).string());
        EXPECT_EQ(out.format, c.written);
        EXPECT_EQ(out.rgba, in.rgba);
    }
}

// Outputs are readable as the user's other files are: the permissions the umask leaves,
// not those of a private temporary file.
TEST(OutputFiles, TakeTheUsersPermissions) {
    const fs::path dir = testDir("permissions");
    nimbra_render::writePng((dir / "in.png").string(), textFrame(), 8);
    const mode_t before = umask(022);
    nimbra_render::render(renderOptions(dir / "in.png", dir / "out.png"));
    umask(before);
    EXPECT_EQ(fs::status(dir / "out.png").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

// --tiles N: strips from the bottom up that cover every row once, in frames of any height.
TEST(Tiles, StripsCoverEveryRowOnce) {
    const struct {
        int height, count;
    } frames[] = {{10, 4}, {7, 7}, {65536, 40000}, {2000000, 1000000}};
    for (const auto& f : frames) {
        SCOPED_TRACE(testing::Message() << f.height << " rows, " << f.count << " strips");
        int next = 0;
        for (int t = 0; t < f.count; ++t) {
            const OfxRectI strip = nimbra_render::stripOf(3, f.height, t, f.count);
            ASSERT_EQ(strip.y1, next) << t;
            ASSERT_GE(strip.y2, strip.y1) << t;
            ASSERT_LE(strip.y2 - strip.y1, f.height / f.count + 1) << t;
            EXPECT_EQ(strip.x1, 0);
            EXPECT_EQ(strip.x2, 3);
            next = strip.y2;
        }
        EXPECT_EQ(next, f.height);
    }
}

TEST(FailingActions, NameTheStatusAndLeaveNoOutput) {
    EXPECT_EQ(nimbra_render::statusName(kOfxStatErrImageFormat), "kOfxStatErrImageFormat");
    EXPECT_EQ(nimbra_render::statusName(kOfxStatErrMemory), "kOfxStatErrMemory");
    EXPECT_EQ(nimbra_render::statusName(4242), "status 4242");

    const fs::path dir = testDir("failing");
    nimbra_render::writePng((dir / "in.png").string(), textFrame(), 8);
    nimbra_render::Options o = renderOptions(dir / "in.png", dir / "out.png");
    try {
        nimbra_render::render(o, [](ofxhost::Host& host) {
            host.faults().failFunction("clipGetImage", kOfxStatErrMemory);
        });
        ADD_FAILURE() << "the render succeeded";
    } catch (const nimbra_render::RenderError& e) {
        EXPECT_NE(std::string(e.what()).find("kOfxImageEffectActionRender"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("kOfxStat"), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "only in.png may be left";
}

// This test program is not the build tree's nimbra-render, so it stands for an installed copy:
// with nothing in the standard places it says so, and never picks the build tree's bundle.
TEST(PluginSearch, AnInstalledCopyNeverFallsBackToTheBuildTree) {
    const fs::path standard = "/usr/OFX/Plugins/Nimbra_JP.ofx.bundle";
    if (fs::exists(standard))
        GTEST_SKIP() << standard << " is installed on this machine";
    const fs::path empty = testDir("plugin-search");
    const char* saved = std::getenv("OFX_PLUGIN_PATH");
    const std::string previous = saved ? saved : "";
    ::setenv("OFX_PLUGIN_PATH", empty.c_str(), 1);
    std::string found, message;
    try {
        found = nimbra_render::locatePlugin("");
    } catch (const nimbra_render::RenderError& e) {
        message = e.what();
    }
    if (saved)
        ::setenv("OFX_PLUGIN_PATH", previous.c_str(), 1);
    else
        ::unsetenv("OFX_PLUGIN_PATH");
    EXPECT_EQ(found, "") << "picked a bundle";
    EXPECT_NE(message.find("cannot find Nimbra_JP.ofx.bundle"), std::string::npos) << message;
    EXPECT_NE(message.find(empty.string()), std::string::npos) << message;
    EXPECT_EQ(message.find(NIMBRA_BUNDLE), std::string::npos) << message;
}

} // namespace
