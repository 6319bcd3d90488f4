// The command line, parameter values and frame patterns.
#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nimbra_render::Options;
using nimbra_render::ParamShape;
using nimbra_render::UsageError;

Options parse(const std::vector<std::string>& args) { return nimbra_render::parseArguments(args); }

TEST(ParseArguments, ReadsEveryOption) {
    const Options o = parse({"in.%04d.png",
                             "--set",
                             "marginX=30",
                             "--key",
                             "marginY@1.5=10",
                             "--set",
                             "fillColor=0,0,0,0.6",
                             "--depth",
                             "short",
                             "--threads",
                             "3",
                             "--tiles",
                             "4",
                             "--frames",
                             "1-48",
                             "--premult",
                             "premultiplied",
                             "--plugin",
                             "x.ofx.bundle",
                             "--id",
                             "a.b",
                             "out.%04d.exr"});
    EXPECT_EQ(o.input, "in.%04d.png");
    EXPECT_EQ(o.output, "out.%04d.exr");
    ASSERT_EQ(o.assignments.size(), 3u);
    EXPECT_EQ(o.assignments[0].name, "marginX");
    EXPECT_EQ(o.assignments[0].value, "30");
    EXPECT_FALSE(o.assignments[0].time);
    EXPECT_EQ(o.assignments[1].name, "marginY");
    ASSERT_TRUE(o.assignments[1].time);
    EXPECT_DOUBLE_EQ(*o.assignments[1].time, 1.5);
    EXPECT_EQ(o.assignments[2].value, "0,0,0,0.6");
    EXPECT_EQ(o.depth, nimbra_render::DepthChoice::Short);
    EXPECT_EQ(o.threads, 3u);
    EXPECT_EQ(o.tiles, 4);
    ASSERT_TRUE(o.frames);
    EXPECT_EQ(o.frames->first, 1);
    EXPECT_EQ(o.frames->last, 48);
    EXPECT_EQ(o.premult, nimbra_render::PremultChoice::Premultiplied);
    EXPECT_EQ(o.plugin, "x.ofx.bundle");
    EXPECT_EQ(o.id, "a.b");
}

TEST(ParseArguments, DefaultsAndNegativeFrames) {
    const Options o = parse({"a.png", "b.png"});
    EXPECT_EQ(o.depth, nimbra_render::DepthChoice::FromInput);
    EXPECT_EQ(o.premult, nimbra_render::PremultChoice::FromInput);
    EXPECT_EQ(o.tiles, 1);
    EXPECT_EQ(o.threads, 0u);
    EXPECT_FALSE(o.frames);
    const Options n = parse({"a%d.png", "b%d.png", "--frames", "-3--1"});
    EXPECT_EQ(n.frames->first, -3);
    EXPECT_EQ(n.frames->last, -1);
    for (const char* single : {"7", "7-7"}) { // one frame of a sequence
        const Options one = parse({"a%d.png", "b%d.png", "--frames", single});
        EXPECT_EQ(one.frames->first, 7) << single;
        EXPECT_EQ(one.frames->last, 7) << single;
    }
    EXPECT_TRUE(parse({"--list"}).list);
}

TEST(ParseArguments, RejectsMalformedCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"a.png"},
        {"a.png", "b.png", "c.png"},
        {"a.png", "b.png", "--bogus"},
        {"a.png", "b.png", "--set"},
        {"a.png", "b.png", "--set", "marginX"},
        {"a.png", "b.png", "--set", "=3"},
        {"a.png", "b.png", "--set", "marginX@1=3"},
        {"a.png", "b.png", "--key", "marginX=3"},
        {"a.png", "b.png", "--key", "marginX@x=3"},
        {"a.png", "b.png", "--depth", "half"},
        {"a.png", "b.png", "--premult", "yes"},
        {"a.png", "b.png", "--threads", "0"},
        {"a.png", "b.png", "--tiles", "two"},
        {"a.png", "b.png", "--frames", "1-48"}, // no patterns
        {"a%04d.png", "b%04d.png"},             // patterns without --frames
        {"a%04d.png", "b%04d.png", "--frames", "5-1"},
        {"a%04d.png", "b%04d.png", "--frames", "1-x"},
        {"a%s.png", "b%04d.png", "--frames", "1-2"}, // not a frame number
        {"--list", "a.png"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_THROW(parse(args), UsageError) << joined;
    }
}

ParamShape shape(const std::string& type, int dimension, bool integral = false) {
    ParamShape s;
    s.type = type;
    s.dimension = dimension;
    s.integral = integral;
    return s;
}

TEST(ParamValues, NumbersColoursBooleansChoicesAndStrings) {
    ParamShape margin = shape("OfxParamTypeDouble", 1);
    margin.min = {0};
    margin.max = {200};
    EXPECT_EQ(nimbra_render::parseParamValue("m", margin, "30.5").numbers,
              std::vector<double>{30.5});
    EXPECT_EQ(nimbra_render::parseParamValue("m", margin, "200").numbers, std::vector<double>{200});
    EXPECT_EQ(
        nimbra_render::parseParamValue("c", shape("OfxParamTypeRGBA", 4), "0, 0,0 ,0.6").numbers,
        (std::vector<double>{0, 0, 0, 0.6}));
    const ParamShape boolean = shape("OfxParamTypeBoolean", 1, true);
    for (const char* yes : {"true", "yes", "on", "1"})
        EXPECT_EQ(nimbra_render::parseParamValue("b", boolean, yes).numbers,
                  std::vector<double>{1});
    for (const char* no : {"false", "no", "off", "0"})
        EXPECT_EQ(nimbra_render::parseParamValue("b", boolean, no).numbers, std::vector<double>{0});
    ParamShape choice = shape("OfxParamTypeChoice", 1, true);
    choice.choices = {"左", "中央", "右"};
    EXPECT_EQ(nimbra_render::parseParamValue("c", choice, "右").numbers, std::vector<double>{2});
    EXPECT_EQ(nimbra_render::parseParamValue("c", choice, "1").numbers, std::vector<double>{1});
    ParamShape text = shape("OfxParamTypeString", 1);
    text.isString = true;
    EXPECT_EQ(nimbra_render::parseParamValue("t", text, "a,b=c").text, "a,b=c");
}

TEST(ParamValues, WrongTypeCountOrRangeNamesTheParameter) {
    ParamShape margin = shape("OfxParamTypeDouble", 1);
    margin.min = {0};
    margin.max = {200};
    ParamShape choice = shape("OfxParamTypeChoice", 1, true);
    choice.choices = {"a", "b"};
    const struct {
        ParamShape shape;
        const char* text;
    } bad[] = {
        {margin, "abc"},
        {margin, ""},
        {margin, "1,2"},
        {margin, "200.5"},
        {margin, "-1"},
        {margin, "nan"},
        {shape("OfxParamTypeRGBA", 4), "1,2"},
        {shape("OfxParamTypeRGBA", 4), "1,2,3,4,"},
        {shape("OfxParamTypeRGBA", 4), "1,2,x,4"},
        {shape("OfxParamTypeInteger", 1, true), "1.5"},
        {shape("OfxParamTypeBoolean", 1, true), "maybe"},
        {choice, "c"},
        {choice, "2"},
    };
    for (const auto& b : bad) {
        try {
            nimbra_render::parseParamValue("marginX", b.shape, b.text);
            ADD_FAILURE() << b.shape.type << " accepted '" << b.text << "'";
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("marginX", 0), 0u) << e.what();
        }
    }
}

TEST(FramePatterns, FillTheNumberAndKeepLiteralPercents) {
    EXPECT_EQ(nimbra_render::framePath("in.%04d.png", 7), "in.0007.png");
    EXPECT_EQ(nimbra_render::framePath("in.%d.png", 123), "in.123.png");
    EXPECT_EQ(nimbra_render::framePath("dir/%3d.exr", -5), "dir/ -5.exr");
    EXPECT_EQ(nimbra_render::framePath("100%%/f%02d.png", 3), "100%/f03.png");
    EXPECT_TRUE(nimbra_render::isFramePattern("a%4d.png"));
    EXPECT_FALSE(nimbra_render::isFramePattern("a.png"));
    EXPECT_FALSE(nimbra_render::isFramePattern("100%%.png"));
    EXPECT_THROW(nimbra_render::framePath("a%d%d.png", 1), UsageError);
    EXPECT_THROW(nimbra_render::framePath("a%x.png", 1), UsageError);
}

} // namespace
