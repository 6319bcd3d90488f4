#include "text_auto_frame.h"

#ifdef NIMBRA_REFERENCE_PROCESSOR
#include "reference_processor.h"
#else
#include "text_auto_frame_processor.h"
#endif

namespace {

constexpr const char* kPluginIdentifier = "com.example.nimbra.jp";
constexpr unsigned int kPluginVersionMajor = 2;
constexpr unsigned int kPluginVersionMinor = 0;

TextAutoFramePluginFactory gFactory(kPluginIdentifier, kPluginVersionMajor, kPluginVersionMinor);

struct DoubleParamDefinition {
    const char* name;
    const char* label;
    double defaultValue, min, max, displayMin, displayMax;
};

void defineDouble(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                  const DoubleParamDefinition& definition) {
    OFX::DoubleParamDescriptor* param = desc.defineDoubleParam(definition.name);
    param->setLabels(definition.label, definition.label, definition.label);
    param->setDefault(definition.defaultValue);
    param->setRange(definition.min, definition.max);
    param->setDisplayRange(definition.displayMin, definition.displayMax);
    param->setAnimates(true);
    page.addChild(*param);
}

void defineBoolean(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                   const char* name, const char* label, bool defaultValue) {
    OFX::BooleanParamDescriptor* param = desc.defineBooleanParam(name);
    param->setLabels(label, label, label);
    param->setDefault(defaultValue);
    param->setAnimates(true);
    page.addChild(*param);
}

void defineColour(OFX::ImageEffectDescriptor& desc, OFX::PageParamDescriptor& page,
                  const char* name, const char* label, double r, double g, double b, double a) {
    OFX::RGBAParamDescriptor* param = desc.defineRGBAParam(name);
    param->setLabels(label, label, label);
    param->setDefault(r, g, b, a);
    param->setAnimates(true);
    page.addChild(*param);
}

void defineClip(OFX::ImageEffectDescriptor& desc, const char* name) {
    OFX::ClipDescriptor* clip = desc.defineClip(name);
    clip->addSupportedComponent(OFX::PixelComponents::RGBA);
    clip->addSupportedComponent(OFX::PixelComponents::Alpha);
    if (std::string(name) == kOfxImageEffectSimpleSourceClipName) {
        clip->setTemporalClipAccess(false);
        clip->setSupportsTiles(true);
        clip->setIsMask(false);
        clip->setOptional(false);
    } else {
        clip->setSupportsTiles(true);
    }
}

} // namespace

namespace OFX {
void appendPluginFactories(PluginFactoryArray& factories) { factories.push_back(&gFactory); }
} // namespace OFX

void TextAutoFramePluginFactory::describe(OFX::ImageEffectDescriptor& desc) {
    const char* label = "ニンブラ";
    desc.setLabels(label, label, label);
    desc.setGrouping("Draw");
    desc.setPluginDescription("テキスト範囲を検出して背景枠を生成");
    desc.addSupportedContext(OFX::EffectContext::Filter);
    desc.addSupportedContext(OFX::EffectContext::General);
    desc.addSupportedPixelDepth(OFX::BitDepth::Byte);
    desc.addSupportedPixelDepth(OFX::BitDepth::Short);
    desc.addSupportedPixelDepth(OFX::BitDepth::Float);
    desc.setSingleInstance(false);
    desc.setHostFrameThreading(false); // the effect spreads its own work over threads
    desc.setSupportsMultiResolution(true);
    desc.setSupportsTiles(true);
    desc.setTemporalClipAccess(false);
    desc.setFieldRenderTwiceAlways(false);
    desc.setSupportsMultipleClipPARs(false);
}

void TextAutoFramePluginFactory::describeInContext(OFX::ImageEffectDescriptor& desc,
                                                   OFX::EffectContext /*context*/) {
    defineClip(desc, kOfxImageEffectSimpleSourceClipName);
    defineClip(desc, kOfxImageEffectOutputClipName);

    OFX::PageParamDescriptor& page = *desc.definePageParam("Controls");
    defineDouble(desc, page, {"marginX", "横マージン", 20.0, 0.0, 200.0, 0.0, 100.0});
    defineDouble(desc, page, {"marginY", "縦マージン", 20.0, 0.0, 200.0, 0.0, 100.0});
    defineDouble(desc, page, {"yOffset", "Y オフセット", 0.0, -100.0, 100.0, -50.0, 50.0});
    defineDouble(desc, page, {"cornerSize", "角丸サイズ", 0.0, 0.0, 100.0, 0.0, 100.0});
    defineBoolean(desc, page, "fillEnabled", "塗り有効", true);
    defineColour(desc, page, "fillColor", "塗りの色", 0.0, 0.0, 0.0, 1.0);
    defineBoolean(desc, page, "strokeEnabled", "枠線有効", true);
    defineColour(desc, page, "strokeColor", "枠線の色", 1.0, 1.0, 1.0, 1.0);
    defineDouble(desc, page, {"strokeWidth", "枠線の幅", 0.0, 0.0, 100.0, 0.0, 20.0});
    defineDouble(desc, page, {"detectionThreshold", "検出しきい値", 0.1, 0.0, 1.0, 0.0, 1.0});
}

OFX::ImageEffect* TextAutoFramePluginFactory::createInstance(OfxImageEffectHandle handle,
                                                             OFX::EffectContext /*context*/) {
    return new TextAutoFramePlugin(handle);
}

// ---- Instance -----------------------------------------------------------------------------------

TextAutoFramePlugin::TextAutoFramePlugin(OfxImageEffectHandle handle) : OFX::ImageEffect(handle) {
    // Hosts see the fetches in this order.
    outputClip = fetchClip(kOfxImageEffectOutputClipName);
    sourceClip = fetchClip(kOfxImageEffectSimpleSourceClipName);
    marginX = fetchDoubleParam("marginX");
    marginY = fetchDoubleParam("marginY");
    yOffset = fetchDoubleParam("yOffset");
    cornerSize = fetchDoubleParam("cornerSize");
    fillColor = fetchRGBAParam("fillColor");
    fillEnabled = fetchBooleanParam("fillEnabled");
    strokeColor = fetchRGBAParam("strokeColor");
    strokeWidth = fetchDoubleParam("strokeWidth");
    strokeEnabled = fetchBooleanParam("strokeEnabled");
    detectionThreshold = fetchDoubleParam("detectionThreshold");
}

namespace {

template <class PIX, int nComponents, int maxValue>
void renderAs(TextAutoFramePlugin& effect, const OFX::RenderArgs& args) {
    TextAutoFrameProcessor<PIX, nComponents, maxValue> processor(effect);
    effect.setupAndProcess(processor, args);
}

bool covers(const OfxRectI& bounds, const OfxRectI& window) {
    return bounds.x1 <= window.x1 && bounds.y1 <= window.y1 && window.x2 <= bounds.x2 &&
           window.y2 <= bounds.y2;
}

} // namespace

void TextAutoFramePlugin::render(const OFX::RenderArgs& args) {
    const OFX::BitDepth depth = outputClip->getPixelDepth();
    const bool rgba = outputClip->getPixelComponents() == OFX::PixelComponents::RGBA;
    switch (depth) {
    case OFX::BitDepth::Byte:
        return rgba ? renderAs<unsigned char, 4, 255>(*this, args)
                    : renderAs<unsigned char, 1, 255>(*this, args);
    case OFX::BitDepth::Short:
        return rgba ? renderAs<unsigned short, 4, 65535>(*this, args)
                    : renderAs<unsigned short, 1, 65535>(*this, args);
    case OFX::BitDepth::Float:
        return rgba ? renderAs<float, 4, 1>(*this, args) : renderAs<float, 1, 1>(*this, args);
    default:
        OFX::raiseSuiteStatus(kOfxStatErrUnsupported);
    }
}

void TextAutoFramePlugin::setupAndProcess(TextAutoFrameProcessorBase& processor,
                                          const OFX::RenderArgs& args) {
    // Declared in this order so that the source is released first.
    std::unique_ptr<OFX::Image> destination = outputClip->fetchImage(args.time);
    std::unique_ptr<OFX::Image> source = sourceClip->fetchImage(args.time);

    if (destination && source &&
        (destination->getPixelDepth() != source->getPixelDepth() ||
         destination->getPixelComponents() != source->getPixelComponents()))
        OFX::raiseSuiteStatus(kOfxStatErrFormat);

    const OfxRectI& window = args.renderWindow;
    const bool windowEmpty = window.x2 <= window.x1 || window.y2 <= window.y1;
    // The processors write every pixel of the window through the destination's rows: an
    // image that does not hold them, or holds pixels of another format, is refused before
    // anything is written.
    if (destination && !windowEmpty &&
        (destination->getPixelDepth() != processor.pixelDepth ||
         destination->getPixelComponents() != processor.pixelComponents ||
         !destination->getPixelData() || !covers(destination->getBounds(), window)))
        OFX::raiseSuiteStatus(kOfxStatErrImageFormat);

    double mx = 0, my = 0, offset = 0, corner = 0, stroke = 0, threshold = 0;
    double fill[4] = {0, 0, 0, 0}, line[4] = {0, 0, 0, 0};
    bool fillOn = false, strokeOn = false;
    marginX->getValueAtTime(args.time, mx);
    marginY->getValueAtTime(args.time, my);
    yOffset->getValueAtTime(args.time, offset);
    cornerSize->getValueAtTime(args.time, corner);
    strokeWidth->getValueAtTime(args.time, stroke);
    detectionThreshold->getValueAtTime(args.time, threshold);
    fillColor->getValueAtTime(args.time, fill[0], fill[1], fill[2], fill[3]);
    strokeColor->getValueAtTime(args.time, line[0], line[1], line[2], line[3]);
    fillEnabled->getValueAtTime(args.time, fillOn);
    strokeEnabled->getValueAtTime(args.time, strokeOn);

    processor.destinationImage = destination.get();
    processor.sourceImage = source.get();
    processor.renderWindow = window;
    processor.marginX = static_cast<float>(mx);
    processor.marginY = static_cast<float>(my);
    processor.yOffset = static_cast<float>(offset);
    processor.cornerSize = static_cast<float>(corner);
    for (int c = 0; c < 4; ++c) {
        processor.fillColor[c] = static_cast<float>(fill[c]);
        processor.strokeColor[c] = static_cast<float>(line[c]);
    }
    processor.fillEnabled = fillOn;
    processor.strokeEnabled = strokeOn;
    processor.strokeWidth = static_cast<float>(stroke);
    processor.detectionThreshold = static_cast<float>(threshold);
    if (destination)
        processor.destinationBounds = destination->getBounds();

    processor.process();
}

bool TextAutoFramePlugin::getRegionOfDefinition(const OFX::RegionOfDefinitionArgs& args,
                                                OfxRectD& rod) {
    rod = sourceClip->getRegionOfDefinition(args.time);
    return true;
}

void TextAutoFramePlugin::getRegionsOfInterest(const OFX::RegionsOfInterestArgs& args,
                                               OFX::RegionOfInterestSetter& rois) {
    // The plate depends on the whole source, not on the part being rendered: a host that
    // renders in tiles must hand every tile all of it, or each tile draws its own plate.
    rois.setRegionOfInterest(*sourceClip, sourceClip->getRegionOfDefinition(args.time));
}
