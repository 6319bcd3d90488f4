#include "image_effect.h"

#include <cstddef>
#include <new>
#include <stdexcept>

namespace OFX {

// ---- Enumerations -------------------------------------------------------------------------------

EffectContext decodeContext(const std::string& name) {
    if (name == kOfxImageEffectContextGenerator)
        return EffectContext::Generator;
    if (name == kOfxImageEffectContextFilter)
        return EffectContext::Filter;
    if (name == kOfxImageEffectContextTransition)
        return EffectContext::Transition;
    if (name == kOfxImageEffectContextPaint)
        return EffectContext::Paint;
    if (name == kOfxImageEffectContextGeneral)
        return EffectContext::General;
    if (name == kOfxImageEffectContextRetimer)
        return EffectContext::Retimer;
    logError(true, "Unknown image effect context '%s'", name.c_str());
    throw std::invalid_argument(name);
}

BitDepth decodeBitDepth(const std::string& name) {
    if (name == kOfxBitDepthNone)
        return BitDepth::None;
    if (name == kOfxBitDepthByte)
        return BitDepth::Byte;
    if (name == kOfxBitDepthShort)
        return BitDepth::Short;
    if (name == kOfxBitDepthFloat)
        return BitDepth::Float;
    if (name == kOfxBitDepthByteBGR)
        return BitDepth::ByteBGR;
    if (name == kOfxBitDepthShortBGR)
        return BitDepth::ShortBGR;
    if (name == kOfxBitDepthFloatBGR)
        return BitDepth::FloatBGR;
    return BitDepth::Custom;
}

PixelComponents decodePixelComponents(const std::string& name) {
    if (name == kOfxImageComponentNone)
        return PixelComponents::None;
    if (name == kOfxImageComponentRGBA)
        return PixelComponents::RGBA;
    if (name == kOfxImageComponentAlpha)
        return PixelComponents::Alpha;
    return PixelComponents::Custom;
}

AlphaPremultiplication decodePremultiplication(const std::string& name) {
    if (name == kOfxImageOpaque)
        return AlphaPremultiplication::Opaque;
    if (name == kOfxImagePreMultiplied)
        return AlphaPremultiplication::Premultiplied;
    if (name == kOfxImageUnPreMultiplied)
        return AlphaPremultiplication::UnPremultiplied;
    throw std::invalid_argument("");
}

VideoField decodeField(const std::string& name) {
    if (name == kOfxImageFieldNone)
        return VideoField::None;
    if (name == kOfxImageFieldBoth)
        return VideoField::Both;
    if (name == kOfxImageFieldLower)
        return VideoField::Lower;
    if (name == kOfxImageFieldUpper)
        return VideoField::Upper;
    throw std::invalid_argument("");
}

RenderQuality decodeRenderQuality(const std::string& name) {
    if (name == kOfxRenderQualityDraft)
        return RenderQuality::Draft;
    if (name == kOfxRenderQualityPreview)
        return RenderQuality::Preview;
    if (name == kOfxRenderQualityGood)
        return RenderQuality::Good;
    if (name == kOfxRenderQualityBest)
        return RenderQuality::Best;
    logError(true, "Unknown Vegas RenderQuality '%s'", name.c_str());
    throw std::invalid_argument(name);
}

ChangeReason decodeChangeReason(const std::string& name) {
    if (name == kOfxChangeUserEdited)
        return ChangeReason::UserEdited;
    if (name == kOfxChangePluginEdited)
        return ChangeReason::PluginEdited;
    if (name == kOfxChangeTime)
        return ChangeReason::Time;
    logError(true, "Unknown instance changed reason '%s'", name.c_str());
    throw std::invalid_argument(name);
}

const char* encodeContext(EffectContext context) {
    switch (context) {
    case EffectContext::Generator:
        return kOfxImageEffectContextGenerator;
    case EffectContext::Filter:
        return kOfxImageEffectContextFilter;
    case EffectContext::Transition:
        return kOfxImageEffectContextTransition;
    case EffectContext::Paint:
        return kOfxImageEffectContextPaint;
    case EffectContext::General:
        return kOfxImageEffectContextGeneral;
    case EffectContext::Retimer:
        return kOfxImageEffectContextRetimer;
    default:
        return nullptr;
    }
}

const char* encodeBitDepth(BitDepth depth) {
    switch (depth) {
    case BitDepth::Byte:
        return kOfxBitDepthByte;
    case BitDepth::Short:
        return kOfxBitDepthShort;
    case BitDepth::Float:
        return kOfxBitDepthFloat;
    case BitDepth::ByteBGR:
        return kOfxBitDepthByteBGR;
    case BitDepth::ShortBGR:
        return kOfxBitDepthShortBGR;
    case BitDepth::FloatBGR:
        return kOfxBitDepthFloatBGR;
    default:
        return nullptr;
    }
}

const char* encodePixelComponents(PixelComponents components) {
    switch (components) {
    case PixelComponents::RGBA:
        return kOfxImageComponentRGBA;
    case PixelComponents::Alpha:
        return kOfxImageComponentAlpha;
    default:
        return nullptr;
    }
}

// ---- Descriptors --------------------------------------------------------------------------------

InteractDescriptor::~InteractDescriptor() = default;

namespace {

// Appends after whatever the property holds already, host defaults included.
void appendString(PropertySet& props, const char* name, const char* value) {
    const int n = props.getDimension(name, true);
    if (value)
        props.setString(name, value, n, true);
}

} // namespace

void ClipDescriptor::addSupportedComponent(PixelComponents components) {
    appendString(properties_, kOfxImageEffectPropSupportedComponents,
                 encodePixelComponents(components));
}
void ClipDescriptor::setTemporalClipAccess(bool enabled) {
    properties_.setInt(kOfxImageEffectPropTemporalClipAccess, enabled ? 1 : 0, 0, true);
}
void ClipDescriptor::setSupportsTiles(bool enabled) {
    properties_.setInt(kOfxImageEffectPropSupportsTiles, enabled ? 1 : 0, 0, true);
}
void ClipDescriptor::setIsMask(bool enabled) {
    properties_.setInt(kOfxImageClipPropIsMask, enabled ? 1 : 0, 0, true);
}
void ClipDescriptor::setOptional(bool enabled) {
    properties_.setInt(kOfxImageClipPropOptional, enabled ? 1 : 0, 0, true);
}

ImageEffectDescriptor::ImageEffectDescriptor(OfxImageEffectHandle handle) : effectHandle_(handle) {
    const OfxImageEffectSuiteV1& suite = Private::imageEffectSuite();
    OfxPropertySetHandle props = nullptr;
    raiseSuiteStatus(suite.getPropertySet(handle, &props));
    properties_.propSetHandle(props);
    OfxParamSetHandle paramSet = nullptr;
    raiseSuiteStatus(suite.getParamSet(handle, &paramSet));
    setParamSetHandle(paramSet);
}

ImageEffectDescriptor::~ImageEffectDescriptor() {
    clipDescriptors_.clear();
    hwndInteract_.reset();
    overlayInteract_.reset();
}

void ImageEffectDescriptor::setLabels(const std::string& label, const std::string& shortLabel,
                                      const std::string& longLabel) {
    properties_.setString(kOfxPropLabel, label, 0, true);
    properties_.setString(kOfxPropShortLabel, shortLabel, 0, false);
    properties_.setString(kOfxPropLongLabel, longLabel, 0, false);
}
void ImageEffectDescriptor::setGrouping(const std::string& grouping) {
    properties_.setString(kOfxImageEffectPluginPropGrouping, grouping, 0, true);
}
void ImageEffectDescriptor::setPluginDescription(const std::string& description) {
    properties_.setString(kOfxPropPluginDescription, description, 0, true);
}
void ImageEffectDescriptor::addSupportedContext(EffectContext context) {
    appendString(properties_, kOfxImageEffectPropSupportedContexts, encodeContext(context));
}
void ImageEffectDescriptor::addSupportedPixelDepth(BitDepth depth) {
    // The custom value stands for strings we do not know: there is nothing to declare.
    appendString(properties_, kOfxImageEffectPropSupportedPixelDepths,
                 depth == BitDepth::Custom ? nullptr : encodeBitDepth(depth));
}
void ImageEffectDescriptor::setSingleInstance(bool enabled) {
    properties_.setInt(kOfxImageEffectPluginPropSingleInstance, enabled ? 1 : 0, 0, true);
}
void ImageEffectDescriptor::setHostFrameThreading(bool enabled) {
    properties_.setInt(kOfxImageEffectPluginPropHostFrameThreading, enabled ? 1 : 0, 0, true);
}
void ImageEffectDescriptor::setSupportsMultiResolution(bool enabled) {
    properties_.setInt(kOfxImageEffectPropSupportsMultiResolution, enabled ? 1 : 0, 0, true);
}
void ImageEffectDescriptor::setSupportsTiles(bool enabled) {
    properties_.setInt(kOfxImageEffectPropSupportsTiles, enabled ? 1 : 0, 0, true);
}
void ImageEffectDescriptor::setTemporalClipAccess(bool enabled) {
    properties_.setInt(kOfxImageEffectPropTemporalClipAccess, enabled ? 1 : 0, 0, true);
}
void ImageEffectDescriptor::setFieldRenderTwiceAlways(bool enabled) {
    properties_.setInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways, enabled ? 1 : 0, 0, true);
}
void ImageEffectDescriptor::setSupportsMultipleClipPARs(bool enabled) {
    properties_.setInt(kOfxImageEffectPropSupportsMultipleClipPARs, enabled ? 1 : 0, 0, true);
}

void ImageEffectDescriptor::setOverlayInteract(InteractDescriptor* interact) {
    if (overlayInteract_.get() != interact)
        overlayInteract_.reset(interact);
    if (!interact)
        return;
    if (OfxPluginEntryPoint* entry = interact->getMainEntry()) {
        if (getHostDescription().supportsOverlays)
            properties_.setPointer(kOfxImageEffectPluginPropOverlayInteractV1,
                                   reinterpret_cast<void*>(entry), 0, true);
    }
}

void ImageEffectDescriptor::setHWndInteract(InteractDescriptor* interact) {
    if (hwndInteract_.get() != interact)
        hwndInteract_.reset(interact);
    if (!interact)
        return;
    if (OfxPluginEntryPoint* entry = interact->getMainEntry())
        properties_.setPointer(kOfxImageEffectPluginPropHWndInteractV1,
                               reinterpret_cast<void*>(entry), 0, true);
}

ClipDescriptor* ImageEffectDescriptor::defineClip(const std::string& name) {
    auto found = clipDescriptors_.find(name);
    if (found != clipDescriptors_.end())
        return found->second.get();
    OfxPropertySetHandle props = nullptr;
    // A failed definition leaves a clip without properties: its setters then fail
    // through the property checks, which name the property the host refused.
    (void)Private::imageEffectSuite().clipDefine(effectHandle_, name.c_str(), &props);
    auto clip = std::make_unique<ClipDescriptor>(name, props);
    ClipDescriptor* result = clip.get();
    clipDescriptors_[name] = std::move(clip);
    componentsPropNames_[name] = kOfxImageClipPropComponentsPrefix + name;
    depthPropNames_[name] = kOfxImageClipPropDepthPrefix + name;
    parPropNames_[name] = kOfxImageClipPropPARPrefix + name;
    roiPropNames_[name] = kOfxImageClipPropRoIPrefix + name;
    frameRangePropNames_[name] = kOfxImageClipPropFrameRangePrefix + name;
    return result;
}

// ---- Action arguments ---------------------------------------------------------------------------

namespace {

OfxPointD readScale(const PropertySet& args) {
    OfxPointD scale;
    scale.x = args.getDouble(kOfxImageEffectPropRenderScale, 0, true);
    scale.y = args.getDouble(kOfxImageEffectPropRenderScale, 1, true);
    return scale;
}

} // namespace

RenderArgs buildRenderArgs(const PropertySet& inArgs) {
    RenderArgs args;
    args.time = inArgs.getDouble(kOfxPropTime, 0, true);
    args.renderScale = readScale(inArgs);
    args.renderWindow.x1 = inArgs.getInt(kOfxImageEffectPropRenderWindow, 0, true);
    args.renderWindow.y1 = inArgs.getInt(kOfxImageEffectPropRenderWindow, 1, true);
    args.renderWindow.x2 = inArgs.getInt(kOfxImageEffectPropRenderWindow, 2, true);
    args.renderWindow.y2 = inArgs.getInt(kOfxImageEffectPropRenderWindow, 3, true);
    args.viewsToRender = inArgs.getInt(kOfxImageEffectPropViewsToRender, 0, false);
    args.renderView = inArgs.getInt(kOfxImageEffectPropRenderView, 0, false);
    const std::string field = inArgs.getString(kOfxImageEffectPropFieldToRender, 0, true);
    try {
        args.fieldToRender = decodeField(field);
    } catch (const std::invalid_argument&) {
        logError(true, "Unknown field to render '%s'", field.c_str());
    }
    const std::string quality = inArgs.getString(kOfxImageEffectPropRenderQuality, 0, false);
    try {
        args.renderQuality = decodeRenderQuality(quality);
    } catch (const std::invalid_argument&) {
        logError(true, "Unknown render quality '%s'", quality.c_str());
    }
    return args;
}

BeginSequenceArgs buildBeginSequenceArgs(const PropertySet& inArgs) {
    BeginSequenceArgs args;
    args.frameRange.min = inArgs.getDouble(kOfxImageEffectPropFrameRange, 0, true);
    args.frameRange.max = inArgs.getDouble(kOfxImageEffectPropFrameRange, 1, true);
    args.frameStep = inArgs.getDouble(kOfxImageEffectPropFrameStep, 0, true);
    args.renderScale = readScale(inArgs);
    args.isInteractive = inArgs.getInt(kOfxPropIsInteractive, 0, true) != 0;
    return args;
}

EndSequenceArgs buildEndSequenceArgs(const PropertySet& inArgs) {
    EndSequenceArgs args;
    args.renderScale = readScale(inArgs);
    args.isInteractive = inArgs.getInt(kOfxPropIsInteractive, 0, true) != 0;
    return args;
}

RegionOfDefinitionArgs buildRegionOfDefinitionArgs(const PropertySet& inArgs) {
    RegionOfDefinitionArgs args;
    args.renderScale = readScale(inArgs);
    args.time = inArgs.getDouble(kOfxPropTime, 0, true);
    return args;
}

RegionsOfInterestArgs buildRegionsOfInterestArgs(const PropertySet& inArgs) {
    RegionsOfInterestArgs args;
    args.renderScale = readScale(inArgs);
    args.regionOfInterest.x1 = inArgs.getDouble(kOfxImageEffectPropRegionOfInterest, 0, true);
    args.regionOfInterest.y1 = inArgs.getDouble(kOfxImageEffectPropRegionOfInterest, 1, true);
    args.regionOfInterest.x2 = inArgs.getDouble(kOfxImageEffectPropRegionOfInterest, 2, true);
    args.regionOfInterest.y2 = inArgs.getDouble(kOfxImageEffectPropRegionOfInterest, 3, true);
    args.time = inArgs.getDouble(kOfxPropTime, 0, true);
    return args;
}

FramesNeededArgs buildFramesNeededArgs(const PropertySet& inArgs) {
    FramesNeededArgs args;
    args.time = inArgs.getDouble(kOfxPropTime, 0, true);
    return args;
}

InstanceChangedArgs buildInstanceChangedArgs(const PropertySet& inArgs) {
    InstanceChangedArgs args;
    args.reason = decodeChangeReason(inArgs.getString(kOfxPropChangeReason, 0, true));
    args.time = inArgs.getDouble(kOfxPropTime, 0, true);
    args.renderScale = readScale(inArgs);
    return args;
}

KeyframeUpliftArgs buildKeyframeUpliftArgs(const PropertySet& inArgs) {
    KeyframeUpliftArgs args;
    args.args = inArgs;
    args.keyframeCount = inArgs.getDimension(kOfxPropVegasUpliftKeyframeData, true);
    args.guid = inArgs.getString(kOfxImageEffectPropVegasUpliftGUID, 0, true);
    args.upliftData = inArgs.getPointer(kOfxPropVegasUpliftData, 0, false);
    args.upliftDataLength = inArgs.getInt(kOfxPropVegasUpliftDataLength, 0, false);
    return args;
}

const std::string& ClipPreferencesWriter::propName(const ClipPropNameMap& names,
                                                   const Clip& clip) const {
    auto found = names.find(clip.getName());
    if (found == names.end())
        throw Exception::PropertyUnknownToHost(clip.getName());
    return found->second;
}

void ClipPreferencesWriter::setClipComponents(const Clip& clip, PixelComponents components) {
    const char* value = encodePixelComponents(components);
    if (!value)
        throw std::invalid_argument("");
    outArgs_.setString(propName(componentsPropNames_, clip).c_str(), value, 0, true);
    changed_ = true;
}

void ClipPreferencesWriter::setClipBitDepth(const Clip& clip, BitDepth depth) {
    const char* value = encodeBitDepth(depth);
    if (!value)
        throw std::invalid_argument("");
    outArgs_.setString(propName(depthPropNames_, clip).c_str(), value, 0, true);
    changed_ = true;
}

void ClipPreferencesWriter::setPixelAspectRatio(const Clip& clip, double par) {
    outArgs_.setDouble(propName(parPropNames_, clip).c_str(), par, 0, true);
    changed_ = true;
}

// ---- Images -------------------------------------------------------------------------------------

Image::Image(OfxPropertySetHandle handle) : properties_(handle) {
    try {
        readDescription();
    } catch (...) {
        Private::imageEffectSuite().clipReleaseImage(handle);
        throw;
    }
}

Image::~Image() {
    // Nothing can catch here; the host's answer is of no use to us anyway.
    if (const OfxImageEffectSuiteV1* suite = Private::hostSuites().imageEffect)
        suite->clipReleaseImage(properties_.propSetHandle());
}

void Image::readDescription() {
    pixelData_ = properties_.getPointer(kOfxImagePropData, 0, true);
    rowBytes_ = properties_.getInt(kOfxImagePropRowBytes, 0, true);
    pixelAspectRatio_ = properties_.getDouble(kOfxImagePropPixelAspectRatio, 0, true);
    pixelComponents_ =
        decodePixelComponents(properties_.getString(kOfxImageEffectPropComponents, 0, true));
    pixelDepth_ = decodeBitDepth(properties_.getString(kOfxImageEffectPropPixelDepth, 0, true));

    int componentCount = 0;
    if (pixelComponents_ == PixelComponents::RGBA)
        componentCount = 4;
    else if (pixelComponents_ == PixelComponents::Alpha)
        componentCount = 1;
    int componentSize = 1;
    if (pixelDepth_ == BitDepth::Short)
        componentSize = 2;
    else if (pixelDepth_ == BitDepth::Float)
        componentSize = 4;
    pixelBytes_ = componentCount * componentSize;

    premultiplication_ = decodePremultiplication(
        properties_.getString(kOfxImageEffectPropPreMultiplication, 0, true));

    regionOfDefinition_.x1 = properties_.getInt(kOfxImagePropRegionOfDefinition, 0, true);
    regionOfDefinition_.y1 = properties_.getInt(kOfxImagePropRegionOfDefinition, 1, true);
    regionOfDefinition_.x2 = properties_.getInt(kOfxImagePropRegionOfDefinition, 2, true);
    regionOfDefinition_.y2 = properties_.getInt(kOfxImagePropRegionOfDefinition, 3, true);
    bounds_.x1 = properties_.getInt(kOfxImagePropBounds, 0, true);
    bounds_.y1 = properties_.getInt(kOfxImagePropBounds, 1, true);
    bounds_.x2 = properties_.getInt(kOfxImagePropBounds, 2, true);
    bounds_.y2 = properties_.getInt(kOfxImagePropBounds, 3, true);

    const std::string field = properties_.getString(kOfxImagePropField, 0, true);
    try {
        field_ = decodeField(field);
    } catch (const std::invalid_argument&) {
        logError(true, "Unknown field state '%s' reported on an image", field.c_str());
        field_ = VideoField::None;
    }

    uniqueIdentifier_ = properties_.getString(kOfxImagePropUniqueIdentifier, 0, true);
    renderScale_.x = properties_.getDouble(kOfxImageEffectPropRenderScale, 0, true);
    renderScale_.y = properties_.getDouble(kOfxImageEffectPropRenderScale, 1, true);
}

void* Image::pixelAddress(int x, int y) const {
    if (x < bounds_.x1 || x >= bounds_.x2 || y < bounds_.y1 || y >= bounds_.y2 ||
        pixelBytes_ == 0 || !pixelData_)
        return nullptr;
    // 64-bit offsets: an image past 2 GiB must not wrap into a wild address.
    const std::ptrdiff_t rowOffset =
        static_cast<std::ptrdiff_t>(y - bounds_.y1) * static_cast<std::ptrdiff_t>(rowBytes_);
    const std::ptrdiff_t columnOffset =
        static_cast<std::ptrdiff_t>(x - bounds_.x1) * static_cast<std::ptrdiff_t>(pixelBytes_);
    return static_cast<unsigned char*>(pixelData_) + rowOffset + columnOffset;
}

// ---- Clips --------------------------------------------------------------------------------------

std::unique_ptr<Image> Clip::fetchImage(double time) const {
    OfxPropertySetHandle image = nullptr;
    const OfxStatus status =
        Private::imageEffectSuite().clipGetImage(clipHandle_, time, nullptr, &image);
    if (status == kOfxStatFailed)
        return nullptr;
    raiseSuiteStatus(status);
    // Without memory for the object the image must still go back; a constructor that
    // throws gives it back itself.
    Image* object = new (std::nothrow) Image(image);
    if (!object) {
        Private::imageEffectSuite().clipReleaseImage(image);
        throw std::bad_alloc();
    }
    return std::unique_ptr<Image>(object);
}

PixelComponents Clip::getPixelComponents() const {
    const PixelComponents components =
        decodePixelComponents(properties_.getString(kOfxImageEffectPropComponents, 0, true));
    if (components == PixelComponents::None)
        logError(properties_.getInt(kOfxImageClipPropConnected, 0, true) != 0,
                 "Clip %s is connected and has no pixel component type!", name_.c_str());
    return components;
}

BitDepth Clip::getPixelDepth() const {
    const BitDepth depth =
        decodeBitDepth(properties_.getString(kOfxImageEffectPropPixelDepth, 0, true));
    if (depth == BitDepth::None)
        logError(properties_.getInt(kOfxImageClipPropConnected, 0, true) != 0,
                 "Clip %s is connected and has no pixel depth.", name_.c_str());
    return depth;
}

OfxRectD Clip::getRegionOfDefinition(double time) const {
    OfxRectD rod{0, 0, 0, 0};
    raiseSuiteStatus(
        Private::imageEffectSuite().clipGetRegionOfDefinition(clipHandle_, time, &rod));
    return rod;
}

// ---- Effect instances ---------------------------------------------------------------------------

ImageEffect::ImageEffect(OfxImageEffectHandle handle) : effectHandle_(handle) {
    const OfxImageEffectSuiteV1& suite = Private::imageEffectSuite();
    OfxPropertySetHandle props = nullptr;
    raiseSuiteStatus(suite.getPropertySet(handle, &props));
    effectProperties_.propSetHandle(props);
    effectProperties_.setPointer(kOfxPropInstanceData, this, 0, true);
    try {
        // Every later action, destroy included, finds us only through the host's copy: a host
        // that answered the set with a success it did not carry out would leak this instance.
        if (effectProperties_.getPointer(kOfxPropInstanceData, 0, true) != this)
            raiseSuiteStatus(kOfxStatErrBadHandle);
        context_ = decodeContext(effectProperties_.getString(kOfxImageEffectPropContext, 0, true));
        OfxParamSetHandle paramSet = nullptr;
        raiseSuiteStatus(suite.getParamSet(handle, &paramSet));
        setParamSetHandle(paramSet);
    } catch (...) {
        // The host must never find the address of an object that is being abandoned.
        try {
            effectProperties_.setPointer(kOfxPropInstanceData, nullptr, 0, false);
        } catch (...) {
        }
        throw;
    }
}

ImageEffect::~ImageEffect() {
    try {
        effectProperties_.setPointer(kOfxPropInstanceData, nullptr, 0, false);
    } catch (...) { // a destructor has no one to report to
    }
    clips_.clear();
}

Clip* ImageEffect::fetchClip(const std::string& name) {
    auto found = clips_.find(name);
    if (found != clips_.end())
        return found->second.get();
    OfxImageClipHandle clip = nullptr;
    OfxPropertySetHandle props = nullptr;
    raiseSuiteStatus(
        Private::imageEffectSuite().clipGetHandle(effectHandle_, name.c_str(), &clip, &props));
    auto created = std::make_unique<Clip>(this, name, clip, props);
    Clip* result = created.get();
    clips_[name] = std::move(created);
    return result;
}

bool ImageEffect::abortRequested() const {
    const OfxImageEffectSuiteV1* suite = Private::hostSuites().imageEffect;
    return suite && suite->abort(effectHandle_) != 0;
}

} // namespace OFX
