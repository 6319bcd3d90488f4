// The text plate effect: its factory (identity and description) and its instance.
#pragma once

#include "image_effect.h"
#include "plate_params.h"

class TextAutoFrameProcessorBase;
class TextAutoFramePlugin;

/// Renders with the processor of one pixel format, built on the stack. Defined for the six
/// formats by the source of the processors the module is built with: the fast ones, or the
/// straightforward reference ones.
template <class PIX, int nComponents, int maxValue>
void renderWithProcessor(TextAutoFramePlugin& effect, const OFX::RenderArgs& args);

class TextAutoFramePluginFactory : public OFX::PluginFactoryHelper<TextAutoFramePluginFactory> {
public:
    TextAutoFramePluginFactory(const std::string& id, unsigned int major, unsigned int minor)
        : OFX::PluginFactoryHelper<TextAutoFramePluginFactory>(id, major, minor) {}
    void describe(OFX::ImageEffectDescriptor& desc) override;
    void describeInContext(OFX::ImageEffectDescriptor& desc, OFX::EffectContext context) override;
    OFX::ImageEffect* createInstance(OfxImageEffectHandle handle,
                                     OFX::EffectContext context) override;
};

/// One instance of the effect. Its clips and parameters are fetched once at construction;
/// nothing else is kept between renders.
class TextAutoFramePlugin : public OFX::ImageEffect {
public:
    explicit TextAutoFramePlugin(OfxImageEffectHandle handle);

    void render(const OFX::RenderArgs& args) override;
    bool getRegionOfDefinition(const OFX::RegionOfDefinitionArgs& args, OfxRectD& rod) override;
    void getRegionsOfInterest(const OFX::RegionsOfInterestArgs& args,
                              OFX::RegionOfInterestSetter& rois) override;

    /// Fetches the images, checks their formats, fills the processor and runs it.
    void setupAndProcess(TextAutoFrameProcessorBase& processor, const OFX::RenderArgs& args);

    struct Values;

private:
    /// The parameter values at the render's time, distances scaled as the compositing mode
    /// asks; the source's premultiplication is the caller's to fill in.
    plate::Params paramsAt(const OFX::RenderArgs& args) const;
    Values valuesAt(double time) const;

    OFX::Clip* outputClip = nullptr;
    OFX::Clip* sourceClip = nullptr;
    OFX::DoubleParam* marginX = nullptr;
    OFX::DoubleParam* marginY = nullptr;
    OFX::DoubleParam* yOffset = nullptr;
    OFX::DoubleParam* cornerSize = nullptr;
    OFX::DoubleParam* strokeWidth = nullptr;
    OFX::DoubleParam* detectionThreshold = nullptr;
    OFX::RGBAParam* fillColor = nullptr;
    OFX::RGBAParam* strokeColor = nullptr;
    OFX::BooleanParam* fillEnabled = nullptr;
    OFX::BooleanParam* strokeEnabled = nullptr;
    OFX::ChoiceParam* compositing = nullptr;
    OFX::ChoiceParam* plateLayout = nullptr;
    OFX::DoubleParam* lineGap = nullptr;
    OFX::DoubleParam* innerCornerSize = nullptr;
    OFX::BooleanParam* shadowEnabled = nullptr;
    OFX::RGBAParam* shadowColor = nullptr;
    OFX::DoubleParam* shadowOffsetX = nullptr;
    OFX::DoubleParam* shadowOffsetY = nullptr;
    OFX::DoubleParam* shadowSoftness = nullptr;
    OFX::DoubleParam* minPlateWidth = nullptr;
    OFX::DoubleParam* minPlateHeight = nullptr;
};
