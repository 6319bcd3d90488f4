// The image-effect model: enumerations, effect and clip descriptors, action arguments, the
// effect instance with its clips and images, what the host said of itself, and the plug-in
// factories with their registry and the action dispatcher.
#pragma once

#include "parameters.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace OFX {

// ---- Enumerations and their OFX strings ---------------------------------------------------------

enum class EffectContext : int {
    None = 0,
    Generator = 1,
    Filter = 2,
    Transition = 3,
    Paint = 4,
    General = 5,
    Retimer = 6,
};

enum class BitDepth : int {
    None = 0,
    Byte = 1,
    Short = 2,
    Float = 3,
    Custom = 4, ///< any string we do not know
    ByteBGR = 5,
    ShortBGR = 6,
    FloatBGR = 7,
};

enum class PixelComponents : int {
    None = 0,
    RGBA = 1,
    Alpha = 2,
    Custom = 3, ///< any string we do not know
};

enum class AlphaPremultiplication : int { Opaque = 0, Premultiplied = 1, UnPremultiplied = 2 };

enum class VideoField : int { None = 0, Both = 1, Lower = 2, Upper = 3 };

/// Values of the string property some hosts send with render; absent elsewhere.
enum class RenderQuality : int { Draft = 1, Preview = 2, Good = 3, Best = 4 };

enum class ChangeReason : int { UserEdited = 0, PluginEdited = 1, Time = 2 };

/// Unknown: logs "Unknown image effect context" and throws std::invalid_argument.
EffectContext decodeContext(const std::string& name);
/// Unknown: Custom, silently.
BitDepth decodeBitDepth(const std::string& name);
/// Unknown: Custom, silently.
PixelComponents decodePixelComponents(const std::string& name);
/// Unknown: std::invalid_argument with an empty message.
AlphaPremultiplication decodePremultiplication(const std::string& name);
/// Unknown: std::invalid_argument with an empty message.
VideoField decodeField(const std::string& name);
/// Unknown: logs and throws std::invalid_argument.
RenderQuality decodeRenderQuality(const std::string& name);
/// Unknown: logs and throws std::invalid_argument.
ChangeReason decodeChangeReason(const std::string& name);

/// The OFX string, or null for a value that has none (None, Custom).
const char* encodeContext(EffectContext context);
const char* encodeBitDepth(BitDepth depth);
const char* encodePixelComponents(PixelComponents components);

// ---- Descriptors --------------------------------------------------------------------------------

/// The least an interact needs to be declared on an effect.
class InteractDescriptor {
public:
    virtual ~InteractDescriptor();
    /// The interact's entry point, or null when it has none.
    virtual OfxPluginEntryPoint* getMainEntry() const = 0;
};

/// One clip defined on an effect descriptor; owned by it.
class ClipDescriptor {
public:
    ClipDescriptor(std::string name, OfxPropertySetHandle props)
        : name_(std::move(name)), properties_(props) {}
    ClipDescriptor(const ClipDescriptor&) = delete;
    ClipDescriptor& operator=(const ClipDescriptor&) = delete;

    const std::string& getName() const { return name_; }
    const PropertySet& getProps() const { return properties_; }

    void addSupportedComponent(PixelComponents components);
    void setTemporalClipAccess(bool enabled);
    void setSupportsTiles(bool enabled);
    void setIsMask(bool enabled);
    void setOptional(bool enabled);

private:
    std::string name_;
    PropertySet properties_;
};

using ClipPropNameMap = std::map<std::string, std::string>;

/// The effect's description, written onto a descriptor handle during describe actions. Also
/// remembers, per clip, the property names the instance actions answer with.
class ImageEffectDescriptor : public ParamSetDescriptor {
public:
    /// Fetches the handle's property and parameter sets; throws on a failing status.
    explicit ImageEffectDescriptor(OfxImageEffectHandle handle);
    ~ImageEffectDescriptor() override;

    OfxImageEffectHandle getHandle() const { return effectHandle_; }
    const PropertySet& getProps() const { return properties_; }

    void setLabels(const std::string& label, const std::string& shortLabel,
                   const std::string& longLabel);
    void setGrouping(const std::string& grouping);
    void setPluginDescription(const std::string& description);
    void addSupportedContext(EffectContext context);
    void addSupportedPixelDepth(BitDepth depth);
    void setSingleInstance(bool enabled);
    void setHostFrameThreading(bool enabled);
    void setSupportsMultiResolution(bool enabled);
    void setSupportsTiles(bool enabled);
    void setTemporalClipAccess(bool enabled);
    void setFieldRenderTwiceAlways(bool enabled);
    void setSupportsMultipleClipPARs(bool enabled);
    /// Takes ownership; declares the entry point when the host supports overlays.
    virtual void setOverlayInteract(InteractDescriptor* interact);
    /// Takes ownership.
    virtual void setHWndInteract(InteractDescriptor* interact);

    /// Defines the clip once; later calls with the name return the same descriptor.
    ClipDescriptor* defineClip(const std::string& name);

    const ClipPropNameMap& componentsPropNames() const { return componentsPropNames_; }
    const ClipPropNameMap& depthPropNames() const { return depthPropNames_; }
    const ClipPropNameMap& parPropNames() const { return parPropNames_; }
    const ClipPropNameMap& roiPropNames() const { return roiPropNames_; }
    const ClipPropNameMap& frameRangePropNames() const { return frameRangePropNames_; }

private:
    OfxImageEffectHandle effectHandle_;
    PropertySet properties_;
    std::map<std::string, std::unique_ptr<ClipDescriptor>> clipDescriptors_;
    ClipPropNameMap componentsPropNames_;
    ClipPropNameMap depthPropNames_;
    ClipPropNameMap parPropNames_;
    ClipPropNameMap roiPropNames_;
    ClipPropNameMap frameRangePropNames_;
    std::unique_ptr<InteractDescriptor> overlayInteract_;
    std::unique_ptr<InteractDescriptor> hwndInteract_;
};

// ---- Action arguments ---------------------------------------------------------------------------

class Clip;

/// Render and is-identity arguments.
struct RenderArgs {
    double time = 0;
    OfxPointD renderScale{1, 1};
    OfxRectI renderWindow{0, 0, 0, 0};
    VideoField fieldToRender = VideoField::None; ///< kept when the host's string is unknown
    int viewsToRender = 0;
    int renderView = 0;
    RenderQuality renderQuality = RenderQuality::Best; ///< kept when absent or unknown
};

struct BeginSequenceArgs {
    OfxRangeD frameRange{0, 0};
    double frameStep = 0;
    bool isInteractive = false;
    OfxPointD renderScale{1, 1};
};

struct EndSequenceArgs {
    bool isInteractive = false;
    OfxPointD renderScale{1, 1};
};

struct RegionOfDefinitionArgs {
    double time = 0;
    OfxPointD renderScale{1, 1};
};

struct RegionsOfInterestArgs {
    double time = 0;
    OfxPointD renderScale{1, 1};
    OfxRectD regionOfInterest{0, 0, 0, 0};
};

struct FramesNeededArgs {
    double time = 0;
};

struct InstanceChangedArgs {
    ChangeReason reason = ChangeReason::UserEdited;
    double time = 0;
    OfxPointD renderScale{1, 1};
};

struct KeyframeUpliftArgs {
    PropertySet args;
    std::string guid;
    int keyframeCount = 0;
    void* upliftData = nullptr;
    int upliftDataLength = 0;
};

/// Builders: read the arguments from an action's inArgs; a failing read throws.
/// The render builder alone absorbs an undecodable field or quality (logged, value kept).
RenderArgs buildRenderArgs(const PropertySet& inArgs);
BeginSequenceArgs buildBeginSequenceArgs(const PropertySet& inArgs);
EndSequenceArgs buildEndSequenceArgs(const PropertySet& inArgs);
RegionOfDefinitionArgs buildRegionOfDefinitionArgs(const PropertySet& inArgs);
RegionsOfInterestArgs buildRegionsOfInterestArgs(const PropertySet& inArgs);
FramesNeededArgs buildFramesNeededArgs(const PropertySet& inArgs);
InstanceChangedArgs buildInstanceChangedArgs(const PropertySet& inArgs);
KeyframeUpliftArgs buildKeyframeUpliftArgs(const PropertySet& inArgs);

/// Handed to getRegionsOfInterest: one region per input clip.
class RegionOfInterestSetter {
public:
    virtual void setRegionOfInterest(const Clip& clip, const OfxRectD& region) = 0;

protected:
    ~RegionOfInterestSetter() = default;
};

/// Handed to getFramesNeeded: any number of ranges per input clip.
class FramesNeededSetter {
public:
    virtual void setFramesNeeded(const Clip& clip, const OfxRangeD& range) = 0;

protected:
    ~FramesNeededSetter() = default;
};

/// Handed to getClipPreferences; the action answers OK when anything was set.
class ClipPreferencesWriter {
public:
    ClipPreferencesWriter(OfxPropertySetHandle outArgs, const ClipPropNameMap& depthPropNames,
                          const ClipPropNameMap& componentsPropNames,
                          const ClipPropNameMap& parPropNames)
        : outArgs_(outArgs), depthPropNames_(depthPropNames),
          componentsPropNames_(componentsPropNames), parPropNames_(parPropNames) {}

    void setClipComponents(const Clip& clip, PixelComponents components);
    void setClipBitDepth(const Clip& clip, BitDepth depth);
    void setPixelAspectRatio(const Clip& clip, double par);
    bool changed() const { return changed_; }

private:
    const std::string& propName(const ClipPropNameMap& names, const Clip& clip) const;

    PropertySet outArgs_;
    bool changed_ = false;
    const ClipPropNameMap& depthPropNames_;
    const ClipPropNameMap& componentsPropNames_;
    const ClipPropNameMap& parPropNames_;
};

// ---- Images, clips, effect instances ------------------------------------------------------------

/// One image lent by the host for one action: its description is read once, and the
/// destructor gives it back. Owners hold it in a unique_ptr.
class Image {
public:
    /// Takes ownership of the host image: released even when reading it throws.
    explicit Image(OfxPropertySetHandle handle);
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    /// Address of pixel (x, y) in absolute pixel coordinates; null outside the bounds or
    /// when the pixel has no size. [any thread]
    void* pixelAddress(int x, int y) const;

    const PropertySet& getProps() const { return properties_; }
    void* getPixelData() const { return pixelData_; }
    PixelComponents getPixelComponents() const { return pixelComponents_; }
    int getRowBytes() const { return rowBytes_; }
    int getPixelBytes() const { return pixelBytes_; }
    BitDepth getPixelDepth() const { return pixelDepth_; }
    AlphaPremultiplication getPremultiplication() const { return premultiplication_; }
    const OfxRectI& getRegionOfDefinition() const { return regionOfDefinition_; }
    /// The pixels actually held; x2 and y2 exclusive.
    const OfxRectI& getBounds() const { return bounds_; }
    double getPixelAspectRatio() const { return pixelAspectRatio_; }
    VideoField getField() const { return field_; }
    const std::string& getUniqueIdentifier() const { return uniqueIdentifier_; }
    const OfxPointD& getRenderScale() const { return renderScale_; }

private:
    void readDescription();

    PropertySet properties_;
    void* pixelData_ = nullptr;
    PixelComponents pixelComponents_ = PixelComponents::None;
    int rowBytes_ = 0;
    int pixelBytes_ = 0;
    BitDepth pixelDepth_ = BitDepth::None;
    AlphaPremultiplication premultiplication_ = AlphaPremultiplication::Opaque;
    OfxRectI regionOfDefinition_{0, 0, 0, 0};
    OfxRectI bounds_{0, 0, 0, 0};
    double pixelAspectRatio_ = 1;
    VideoField field_ = VideoField::None;
    std::string uniqueIdentifier_;
    OfxPointD renderScale_{1, 1};
};

class ImageEffect;

/// A clip of an effect instance; owned by the instance.
class Clip {
public:
    Clip(ImageEffect* effect, std::string name, OfxImageClipHandle handle,
         OfxPropertySetHandle props)
        : name_(std::move(name)), properties_(props), clipHandle_(handle), effect_(effect) {}
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    const std::string& getName() const { return name_; }
    const PropertySet& getProps() const { return properties_; }
    OfxImageClipHandle getHandle() const { return clipHandle_; }
    ImageEffect* getEffect() const { return effect_; }

    /// The image at that time, or null when the host has none (kOfxStatFailed).
    std::unique_ptr<Image> fetchImage(double time) const;
    PixelComponents getPixelComponents() const;
    BitDepth getPixelDepth() const;
    OfxRectD getRegionOfDefinition(double time) const;

private:
    std::string name_;
    PropertySet properties_;
    OfxImageClipHandle clipHandle_;
    ImageEffect* effect_;
};

/// The module's side of one effect instance. It records itself in the handle's
/// "OfxPropInstanceData" so the dispatcher finds it for every later action. Every action
/// has a neutral default; a concrete effect overrides what it needs.
class ImageEffect : public ParamSet {
public:
    explicit ImageEffect(OfxImageEffectHandle handle);
    ~ImageEffect() override;

    virtual void purgeCaches() {}
    virtual void syncPrivateData() {}
    virtual void render(const RenderArgs& args) = 0;
    virtual void beginSequenceRender(const BeginSequenceArgs&) {}
    virtual void endSequenceRender(const EndSequenceArgs&) {}
    /// True to pass identityClip through at identityTime instead of rendering.
    virtual bool isIdentity(const RenderArgs&, Clip*& /*identityClip*/, double& /*identityTime*/) {
        return false;
    }
    virtual bool getRegionOfDefinition(const RegionOfDefinitionArgs&, OfxRectD& /*rod*/) {
        return false;
    }
    virtual void getRegionsOfInterest(const RegionsOfInterestArgs&, RegionOfInterestSetter&) {}
    virtual void getFramesNeeded(const FramesNeededArgs&, FramesNeededSetter&) {}
    virtual void getClipPreferences(ClipPreferencesWriter&) {}
    virtual void beginEdit() {}
    virtual void endEdit() {}
    virtual void beginChanged(ChangeReason) {}
    virtual void changedParam(const InstanceChangedArgs&, const std::string& /*paramName*/) {}
    virtual void changedClip(const InstanceChangedArgs&, const std::string& /*clipName*/) {}
    virtual void endChanged(ChangeReason) {}
    virtual void upliftVegasKeyframes(const KeyframeUpliftArgs&) {}
    virtual bool invokeAbout() { return false; }
    virtual bool invokeHelp() { return false; }
    virtual std::string paramNameOf(const Param& param) { return param.getName(); }
    virtual bool getTimeDomain(OfxRangeD& /*range*/) { return false; }

    /// Fetched from the host once per name; fetch every clip before rendering starts.
    Clip* fetchClip(const std::string& name);
    /// The host's abort answer for this instance. [any thread]
    bool abortRequested() const;

    OfxImageEffectHandle getHandle() const { return effectHandle_; }
    const PropertySet& getProps() const { return effectProperties_; }
    EffectContext getContext() const { return context_; }

private:
    OfxImageEffectHandle effectHandle_;
    PropertySet effectProperties_;
    EffectContext context_ = EffectContext::None;
    std::map<std::string, std::unique_ptr<Clip>> clips_;
};

// ---- What the host said of itself --------------------------------------------------------------

/// What the host said of itself at the first load.
struct HostDescription {
    std::string hostName;
    bool hostIsBackground = false;
    bool supportsOverlays = false;
    bool supportsMultiResolution = false;
    bool supportsTiles = false;
    bool temporalClipAccess = false;
    bool supportsMultipleClipDepths = false;
    bool supportsMultipleClipPARs = false;
    bool supportsSetableFrameRate = false;
    bool supportsSetableFielding = false;
    bool supportsStringAnimation = false;
    bool supportsCustomInteract = false;
    bool supportsChoiceAnimation = false;
    bool supportsBooleanAnimation = false;
    bool supportsCustomAnimation = false;
    int maxParameters = 0;
    int maxPages = 0;
    int pageRowCount = 0;
    int pageColumnCount = 0;
    std::vector<PixelComponents> supportedComponents;
    std::vector<EffectContext> supportedContexts;
    std::vector<BitDepth> supportedPixelDepths;
    bool supportsProgressSuite = false;
    bool supportsTimeLineSuite = false;
    bool supportsMessageSuiteV2 = false;
};

/// The description read at the first load (all false and empty before).
const HostDescription& getHostDescription();

// ---- Plug-in factories and registry -------------------------------------------------------------

/// What the registry and the dispatcher know of one plug-in. Factories are module-wide
/// objects that are never deleted through this interface.
class PluginFactory {
public:
    virtual void load() {}
    virtual void unload() {}
    virtual void describe(ImageEffectDescriptor& desc) = 0;
    virtual void describeInContext(ImageEffectDescriptor& desc, EffectContext context) = 0;
    /// The instance attaches itself to the handle; the dispatcher deletes it on destroy.
    virtual ImageEffect* createInstance(OfxImageEffectHandle handle, EffectContext context) = 0;
    virtual const std::string& getId() const = 0;
    virtual const std::string& getUid() const = 0;
    virtual unsigned int getMajorVersion() const = 0;
    virtual unsigned int getMinorVersion() const = 0;
    virtual OfxPluginEntryPoint* getMainEntry() const = 0;

protected:
    ~PluginFactory() = default;
};

/// The dispatcher: every action of every plug-in ends here. Never throws.
OfxStatus dispatchAction(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                         OfxPropertySetHandle outArgs, const char* uniqueId) noexcept;

/// Gives factory class T its unique id and its entry function.
template <class T> class FactoryMainEntryHelper {
public:
    /// Identifier followed by the major and minor version; empty until T is constructed.
    static const std::string& uniqueId() { return uniqueIdStorage(); }

protected:
    // A function-local static, so that it is built before any factory writes it, whatever
    // order the module's static objects are initialised in.
    static std::string& uniqueIdStorage() {
        static std::string id;
        return id;
    }
    static OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                               OfxPropertySetHandle outArgs) {
        return dispatchAction(action, handle, inArgs, outArgs, uniqueIdStorage().c_str());
    }
};

template <class T>
class PluginFactoryHelper : public PluginFactory, public FactoryMainEntryHelper<T> {
public:
    PluginFactoryHelper(std::string identifier, unsigned int majorVersion,
                        unsigned int minorVersion)
        : identifier_(std::move(identifier)), majorVersion_(majorVersion),
          minorVersion_(minorVersion) {
        FactoryMainEntryHelper<T>::uniqueIdStorage() =
            identifier_ + std::to_string(majorVersion_) + std::to_string(minorVersion_);
    }
    const std::string& getId() const override { return identifier_; }
    const std::string& getUid() const override { return FactoryMainEntryHelper<T>::uniqueId(); }
    unsigned int getMajorVersion() const override { return majorVersion_; }
    unsigned int getMinorVersion() const override { return minorVersion_; }
    OfxPluginEntryPoint* getMainEntry() const override {
        return &FactoryMainEntryHelper<T>::mainEntry;
    }

protected:
    ~PluginFactoryHelper() = default;

private:
    std::string identifier_;
    unsigned int majorVersion_;
    unsigned int minorVersion_;
};

using PluginFactoryArray = std::vector<PluginFactory*>;

/// Supplied by the plug-in code: appends the address of each of its factories.
void appendPluginFactories(PluginFactoryArray& factories);

namespace Private {
/// The factory registered under a unique id, or null.
PluginFactory* findFactory(const std::string& uniqueId);
/// Empties the record slot of that plug-in so that OfxGetPlugin builds a fresh one.
void dropPluginRecord(const std::string& uniqueId);
} // namespace Private

} // namespace OFX
