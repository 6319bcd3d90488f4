// What the effect writes into the host's descriptors: labels, capabilities, clips and params.
#include "diag_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nimbra_test::countOf;
using nimbra_test::kFilter;
using nimbra_test::kGeneral;
using Strings = std::vector<std::string>;

const Strings kTenParams = {"marginX",     "marginY",           "yOffset",       "cornerSize",
                            "fillEnabled", "fillColor",         "strokeEnabled", "strokeColor",
                            "strokeWidth", "detectionThreshold"};
// The compositing mode and the layout came later: after the ten, so saved projects keep
// their order.
const Strings kParamOrder = [] {
    Strings all = kTenParams;
    all.insert(all.end(), {"compositing", "plateLayout", "lineGap", "innerCornerSize",
                           "shadowEnabled", "shadowColor", "shadowOffsetX", "shadowOffsetY",
                           "shadowSoftness", "minPlateWidth", "minPlateHeight"});
    return all;
}();

struct DoubleParam {
    const char* name;
    const char* label;
    double defaultValue, min, max, displayMin, displayMax;
};

const DoubleParam kDoubles[] = {
    {"marginX", "横マージン", 20, 0, 200, 0, 100},
    {"marginY", "縦マージン", 20, 0, 200, 0, 100},
    {"yOffset", "Y オフセット", 0, -100, 100, -50, 50},
    {"cornerSize", "角丸サイズ", 0, 0, 100, 0, 100},
    {"strokeWidth", "枠線の幅", 0, 0, 100, 0, 20},
    {"detectionThreshold", "検出しきい値", 0.1, 0, 1, 0, 1},
    {"lineGap", "行の間隔", 16, 1, 500, 1, 100},
    {"innerCornerSize", "内側の角丸", 0, 0, 1000, 0, 100},
    {"shadowOffsetX", "影の横ずれ", 6, -1000, 1000, -50, 50},
    {"shadowOffsetY", "影の縦ずれ", 6, -1000, 1000, -50, 50},
    {"shadowSoftness", "影のぼかし", 8, 0, 1000, 0, 100},
    {"minPlateWidth", "最小の幅", 0, 0, 100000, 0, 1920},
    {"minPlateHeight", "最小の高さ", 0, 0, 100000, 0, 1080},
};

void expectLabels(ofxhost::PropertySet& props, const std::string& label) {
    for (const char* name : {kOfxPropLabel, kOfxPropShortLabel, kOfxPropLongLabel})
        EXPECT_EQ(props.getString(name), label) << name;
}

// The clips and params of one context descriptor.
void expectContextDescriptor(ofxhost::Effect& desc) {
    SCOPED_TRACE(desc.context());
    EXPECT_EQ(desc.clipNames(), (Strings{"Source", "Output"}));
    for (const char* clipName : {"Source", "Output"}) {
        ofxhost::PropertySet& clip = desc.clip(clipName).props();
        EXPECT_EQ(clip.getStrings(kOfxImageEffectPropSupportedComponents),
                  (Strings{kOfxImageComponentRGBA, kOfxImageComponentAlpha}))
            << clipName;
        EXPECT_EQ(clip.getInt(kOfxImageEffectPropSupportsTiles), 1) << clipName;
    }
    ofxhost::PropertySet& source = desc.clip("Source").props();
    EXPECT_EQ(source.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
    EXPECT_EQ(source.getInt(kOfxImageClipPropIsMask), 0);
    EXPECT_EQ(source.getInt(kOfxImageClipPropOptional), 0);

    Strings defined = {"Controls"};
    defined.insert(defined.end(), kParamOrder.begin(), kParamOrder.end());
    EXPECT_EQ(desc.paramNames(), defined);
    EXPECT_EQ(desc.param("Controls").type(), kOfxParamTypePage);
    EXPECT_EQ(desc.param("Controls").props().getStrings(kOfxParamPropPageChild), kParamOrder);

    for (const DoubleParam& d : kDoubles) {
        SCOPED_TRACE(d.name);
        ofxhost::PropertySet& p = desc.param(d.name).props();
        EXPECT_EQ(p.getString(kOfxParamPropType), kOfxParamTypeDouble);
        expectLabels(p, d.label);
        EXPECT_DOUBLE_EQ(p.getDouble(kOfxParamPropDefault), d.defaultValue);
        EXPECT_DOUBLE_EQ(p.getDouble(kOfxParamPropMin), d.min);
        EXPECT_DOUBLE_EQ(p.getDouble(kOfxParamPropMax), d.max);
        EXPECT_DOUBLE_EQ(p.getDouble(kOfxParamPropDisplayMin), d.displayMin);
        EXPECT_DOUBLE_EQ(p.getDouble(kOfxParamPropDisplayMax), d.displayMax);
    }
    const struct {
        const char* name;
        const char* label;
        int defaultValue;
    } booleans[] = {{"fillEnabled", "塗り有効", 1},
                    {"strokeEnabled", "枠線有効", 1},
                    {"shadowEnabled", "影有効", 0}};
    for (const auto& b : booleans) {
        ofxhost::PropertySet& p = desc.param(b.name).props();
        EXPECT_EQ(p.getString(kOfxParamPropType), kOfxParamTypeBoolean) << b.name;
        expectLabels(p, b.label);
        EXPECT_EQ(p.getInt(kOfxParamPropDefault), b.defaultValue) << b.name;
    }
    EXPECT_EQ(desc.param("shadowEnabled").props().getInt(kOfxParamPropAnimates), 0);
    for (const char* name : {"innerCornerSize", "shadowColor", "shadowOffsetX", "shadowOffsetY",
                             "shadowSoftness", "minPlateWidth", "minPlateHeight"})
        EXPECT_EQ(desc.param(name).props().getInt(kOfxParamPropAnimates), 1) << name;
    const struct {
        const char* name;
        const char* label;
        std::vector<double> rgba;
    } colours[] = {{"fillColor", "塗りの色", {0, 0, 0, 1}},
                   {"strokeColor", "枠線の色", {1, 1, 1, 1}},
                   {"shadowColor", "影の色", {0, 0, 0, 0.5}}};
    for (const auto& c : colours) {
        ofxhost::PropertySet& p = desc.param(c.name).props();
        EXPECT_EQ(p.getString(kOfxParamPropType), kOfxParamTypeRGBA) << c.name;
        expectLabels(p, c.label);
        EXPECT_EQ(p.getDoubles(kOfxParamPropDefault), c.rgba) << c.name;
    }
    for (const std::string& name : kTenParams)
        EXPECT_EQ(desc.param(name).props().getInt(kOfxParamPropAnimates), 1) << name;

    ofxhost::PropertySet& mode = desc.param("compositing").props();
    EXPECT_EQ(mode.getString(kOfxParamPropType), kOfxParamTypeChoice);
    expectLabels(mode, "合成方式");
    EXPECT_EQ(mode.getStrings("OfxParamPropChoiceOption"), (Strings{"互換", "正確"}));
    EXPECT_EQ(mode.getInt(kOfxParamPropDefault), 0);
    EXPECT_EQ(mode.getInt(kOfxParamPropAnimates), 0);

    ofxhost::PropertySet& layout = desc.param("plateLayout").props();
    EXPECT_EQ(layout.getString(kOfxParamPropType), kOfxParamTypeChoice);
    expectLabels(layout, "枠の単位");
    EXPECT_EQ(layout.getStrings("OfxParamPropChoiceOption"),
              (Strings{"全体", "ブロック", "行", "列"}));
    EXPECT_EQ(layout.getInt(kOfxParamPropDefault), 0);
    EXPECT_EQ(layout.getInt(kOfxParamPropAnimates), 0);
    EXPECT_EQ(desc.param("lineGap").props().getInt(kOfxParamPropAnimates), 0);

    // Every parameter has a tooltip: lines in Japanese, then lines in English; the ones
    // measured in pixels say so in both.
    const Strings inPixels = {"marginX",         "marginY",       "yOffset",
                              "cornerSize",      "strokeWidth",   "lineGap",
                              "innerCornerSize", "shadowOffsetX", "shadowOffsetY",
                              "shadowSoftness",  "minPlateWidth", "minPlateHeight"};
    auto ascii = [](const std::string& line) {
        return std::all_of(line.begin(), line.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    for (const std::string& name : kParamOrder) {
        SCOPED_TRACE(name);
        std::istringstream lines(desc.param(name).props().getString("OfxParamPropHint"));
        std::string japanese, english;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_FALSE(line.empty());
            if (!ascii(line)) {
                EXPECT_TRUE(english.empty()) << "Japanese after English: " << line;
            }
            (ascii(line) ? english : japanese) += line + "\n";
        }
        EXPECT_GT(japanese.size(), 20u);
        EXPECT_GT(english.size(), 20u);
        const bool pixels = std::find(inPixels.begin(), inPixels.end(), name) != inPixels.end();
        if (pixels) {
            EXPECT_NE(japanese.find("ピクセル"), std::string::npos);
        }
        EXPECT_EQ(english.find("in pixels") != std::string::npos, pixels);
    }
    const std::string marginX = desc.param("marginX").props().getString("OfxParamPropHint");
    EXPECT_NE(marginX.find("2 倍"), std::string::npos);
    EXPECT_NE(marginX.find("twice"), std::string::npos);
    const std::string modeHint = mode.getString("OfxParamPropHint");
    for (const char* word : {"互換", "正確", "Compatible", "Accurate", "Recommended"})
        EXPECT_NE(modeHint.find(word), std::string::npos) << word;
    // The layout's hint names its options and the limit on plates.
    const std::string layoutHint = layout.getString("OfxParamPropHint");
    for (const char* word :
         {"全体", "ブロック", "行", "列", "Whole", "Blocks", "Lines", "Columns", "64"})
        EXPECT_NE(layoutHint.find(word), std::string::npos) << word;
}

TEST(Describe, WritesTheEffectItsClipsAndParams) {
    nimbra_test::LoadedPlugin p;
    ASSERT_EQ(p.session.load(), kOfxStatOK);
    ASSERT_EQ(p.session.describe(), kOfxStatOK);
    ofxhost::PropertySet& fx = p.session.descriptor()->props();
    const std::string label = "ニンブラ";
    ASSERT_EQ(label.size(), 12u); // four three-byte characters: the source stayed UTF-8
    expectLabels(fx, label);
    EXPECT_EQ(fx.getString(kOfxImageEffectPluginPropGrouping), "Draw");
    const std::string description = fx.getString(kOfxPropPluginDescription);
    EXPECT_EQ(description, "テキスト範囲を検出して背景枠を生成");
    EXPECT_EQ(description.size(), 51u);
    EXPECT_EQ(fx.getStrings(kOfxImageEffectPropSupportedContexts), (Strings{kFilter, kGeneral}));
    EXPECT_EQ(fx.getStrings(kOfxImageEffectPropSupportedPixelDepths),
              (Strings{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}));
    // The host's defaults differ from the effect's choice for the last two of these.
    const std::pair<const char*, int> flags[] = {
        {kOfxImageEffectPluginPropSingleInstance, 0},
        {kOfxImageEffectPropSupportsMultiResolution, 1},
        {kOfxImageEffectPropSupportsTiles, 1},
        {kOfxImageEffectPropTemporalClipAccess, 0},
        {kOfxImageEffectPropSupportsMultipleClipPARs, 0},
        {kOfxImageEffectPluginPropHostFrameThreading, 0},
        {kOfxImageEffectPluginPropFieldRenderTwiceAlways, 0},
    };
    for (const auto& [name, value] : flags)
        EXPECT_EQ(fx.getInt(name), value) << name;

    ASSERT_EQ(p.session.describeInContext(kFilter), kOfxStatOK);
    ASSERT_EQ(p.session.describeInContext(kGeneral), kOfxStatOK);
    ofxhost::Effect& filter = *p.session.contextDescriptor(kFilter);
    ofxhost::Effect& general = *p.session.contextDescriptor(kGeneral);
    expectContextDescriptor(filter);
    expectContextDescriptor(general);
    for (const std::string& clip : filter.clipNames())
        EXPECT_EQ(filter.clip(clip).props().dump(), general.clip(clip).props().dump()) << clip;
    for (const std::string& param : filter.paramNames())
        EXPECT_EQ(filter.param(param).props().dump(), general.param(param).props().dump()) << param;
}

// The log shows the order of the writes, and which ones were made at all.
TEST(Describe, WritesRangesBeforeDisplayRangesAndLeavesOutputDefaults) {
    nimbra_test::DiagPlugin p;
    ASSERT_EQ(p.session().load(), kOfxStatOK);
    ASSERT_EQ(p.session().describe(), kOfxStatOK);
    ASSERT_EQ(p.session().describeInContext(kFilter), kOfxStatOK);
    const std::string log = p.log();

    std::string order;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Set double property OfxParamPropMin[0]") != std::string::npos)
            order += 'r';
        else if (line.find("Set double property OfxParamPropDisplayMin[0]") != std::string::npos)
            order += 'd';
    }
    EXPECT_EQ(order, "rdrdrdrdrdrdrdrdrdrdrdrdrd");
    EXPECT_NE(log.find("Set double property OfxParamPropMax[0] to be 200.000000."),
              std::string::npos);
    EXPECT_NE(log.find("Set double property OfxParamPropDisplayMin[0] to be -50.000000."),
              std::string::npos);
    // Source alone declares these; the output clip keeps what the host gave it.
    const std::string inContext =
        log.substr(log.find("START mainEntry (OfxImageEffectActionDescribeInContext)"));
    for (const char* name : {"OfxImageClipPropIsMask", "OfxImageClipPropOptional",
                             "OfxImageEffectPropTemporalClipAccess"})
        EXPECT_EQ(countOf(inContext, std::string("Set int property ") + name + "[0] to be 0."), 1)
            << name;
    EXPECT_EQ(countOf(inContext, "Set int property OfxParamPropAnimates[0] to be 1."), 17);
}

} // namespace
