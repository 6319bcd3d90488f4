// OfxImageEffectSuiteV1.
#include "host.h"
#include "suites.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace ofxhost {

namespace {

// Returns the injected status of `member`, if the test set one.
#define OFXHOST_INJECT(host, member)                                                               \
    if (auto injected = (host).injected(member))                                                   \
        return *injected;

// Memory handed out by imageMemoryAlloc. The block never moves, so a lock after an unlock
// gives the same address; that is allowed, and plug-ins must not rely on it either way.
struct ImageMemory {
    static constexpr std::uint32_t kMagic = 0x494d454d; // "IMEM"
    std::uint32_t magic = kMagic;
    Host* host;
    void* data;
    std::size_t size;
    std::atomic<int> locks{0};
};

ImageMemory* memoryFromHandle(OfxImageMemoryHandle handle) {
    auto* m = reinterpret_cast<ImageMemory*>(handle);
    return m != nullptr && m->magic == ImageMemory::kMagic ? m : nullptr;
}

OfxStatus getPropertySet(OfxImageEffectHandle imageEffect, OfxPropertySetHandle* propHandle) {
    Effect* effect = Effect::fromHandle(imageEffect);
    if (effect == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(effect->host(), "getPropertySet");
    if (propHandle == nullptr)
        return kOfxStatErrBadHandle;
    *propHandle = effect->props().handle();
    return kOfxStatOK;
}

OfxStatus getParamSet(OfxImageEffectHandle imageEffect, OfxParamSetHandle* paramSet) {
    Effect* effect = Effect::fromHandle(imageEffect);
    if (effect == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(effect->host(), "getParamSet");
    if (paramSet == nullptr)
        return kOfxStatErrBadHandle;
    *paramSet = effect->paramSet().handle();
    return kOfxStatOK;
}

OfxStatus clipDefine(OfxImageEffectHandle imageEffect, const char* name,
                     OfxPropertySetHandle* propertySet) {
    Effect* effect = Effect::fromHandle(imageEffect);
    if (effect == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(effect->host(), "clipDefine");
    if (effect->kind() != EffectKind::ContextDescriptor) {
        effect->host().noteMisuse("clipDefine outside describe-in-context");
        return kOfxStatErrBadHandle;
    }
    Clip* clip = nullptr;
    OfxStatus st = effect->defineClip(name, &clip);
    if (st == kOfxStatOK && propertySet != nullptr)
        *propertySet = clip->props().handle();
    return st;
}

OfxStatus clipGetHandle(OfxImageEffectHandle imageEffect, const char* name,
                        OfxImageClipHandle* clipHandle, OfxPropertySetHandle* propertySet) {
    Effect* effect = Effect::fromHandle(imageEffect);
    if (effect == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(effect->host(), "clipGetHandle");
    if (effect->kind() != EffectKind::Instance) {
        effect->host().noteMisuse("clipGetHandle on a descriptor");
        return kOfxStatErrBadHandle;
    }
    if (name == nullptr || clipHandle == nullptr)
        return kOfxStatErrBadHandle;
    Clip* clip = effect->findClip(name);
    if (clip == nullptr)
        return kOfxStatErrUnknown;
    *clipHandle = clip->handle();
    if (propertySet != nullptr)
        *propertySet = clip->props().handle();
    return kOfxStatOK;
}

OfxStatus clipGetPropertySet(OfxImageClipHandle clipHandle, OfxPropertySetHandle* propHandle) {
    Clip* clip = Clip::fromHandle(clipHandle);
    if (clip == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(clip->host(), "clipGetPropertySet");
    if (propHandle == nullptr)
        return kOfxStatErrBadHandle;
    *propHandle = clip->props().handle();
    return kOfxStatOK;
}

OfxStatus clipGetImage(OfxImageClipHandle clipHandle, OfxTime time, const OfxRectD* region,
                       OfxPropertySetHandle* imageHandle) {
    Clip* clip = Clip::fromHandle(clipHandle);
    if (clip == nullptr)
        return kOfxStatErrBadHandle;
    Host& host = clip->host();
    OFXHOST_INJECT(host, "clipGetImage");
    if (!clip->isInstance()) {
        host.noteMisuse("clipGetImage on a clip descriptor");
        return kOfxStatErrBadHandle;
    }
    if (imageHandle == nullptr)
        return kOfxStatErrBadHandle;
    clip->noteRequest(
        ImageRequest{time, region != nullptr, region ? *region : OfxRectD{0, 0, 0, 0}});
    PropertySet& props = clip->props();
    if (props.has(kOfxImageClipPropConnected) && props.getInt(kOfxImageClipPropConnected) == 0)
        return kOfxStatFailed;
    OfxPropertySetHandle image = host.fetchImage(*clip, time, region);
    if (image == nullptr)
        return kOfxStatFailed;
    *imageHandle = image;
    return kOfxStatOK;
}

OfxStatus clipReleaseImage(OfxPropertySetHandle imageHandle) {
    Host* host = Host::imageOwner(imageHandle);
    if (host == nullptr) {
        if (Host* fallback = Host::current()) {
            if (auto injected = fallback->injected("clipReleaseImage"))
                return *injected;
            fallback->noteMisuse("clipReleaseImage of an unknown or already released image");
        }
        return kOfxStatErrBadHandle;
    }
    OFXHOST_INJECT(*host, "clipReleaseImage");
    if (!host->releaseImage(imageHandle)) {
        host->noteMisuse("clipReleaseImage of an unknown or already released image");
        return kOfxStatErrBadHandle;
    }
    return kOfxStatOK;
}

OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle clipHandle, OfxTime time, OfxRectD* bounds) {
    Clip* clip = Clip::fromHandle(clipHandle);
    if (clip == nullptr)
        return kOfxStatErrBadHandle;
    OFXHOST_INJECT(clip->host(), "clipGetRegionOfDefinition");
    if (!clip->isInstance()) {
        clip->host().noteMisuse("clipGetRegionOfDefinition on a clip descriptor");
        return kOfxStatErrBadHandle;
    }
    if (bounds == nullptr)
        return kOfxStatErrBadHandle;
    *bounds = clip->regionOfDefinition(time, Host::threadRenderScale());
    return kOfxStatOK;
}

int abortEffect(OfxImageEffectHandle imageEffect) {
    Effect* effect = Effect::fromHandle(imageEffect);
    Host* host = effect ? &effect->host() : Host::current();
    return host ? host->callAbort(imageEffect) : 0;
}

OfxStatus imageMemoryAlloc(OfxImageEffectHandle instanceHandle, size_t nBytes,
                           OfxImageMemoryHandle* memoryHandle) {
    Effect* effect = Effect::fromHandle(instanceHandle);
    Host* host = effect ? &effect->host() : Host::current();
    if (host != nullptr)
        OFXHOST_INJECT(*host, "imageMemoryAlloc");
    if (memoryHandle == nullptr)
        return kOfxStatErrBadHandle;
    // malloc aligns to 16 bytes on every 64-bit system the host runs on.
    void* data = std::malloc(nBytes == 0 ? 1 : nBytes);
    if (data == nullptr)
        return kOfxStatErrMemory;
    auto* block = new ImageMemory{ImageMemory::kMagic, host, data, nBytes, 0};
    if (host != nullptr)
        host->trackBlock(block);
    *memoryHandle = reinterpret_cast<OfxImageMemoryHandle>(block);
    return kOfxStatOK;
}

OfxStatus imageMemoryFree(OfxImageMemoryHandle memoryHandle) {
    ImageMemory* block = memoryFromHandle(memoryHandle);
    if (block == nullptr) {
        if (Host* host = Host::current())
            host->noteMisuse("imageMemoryFree of an unknown handle");
        return kOfxStatErrBadHandle;
    }
    if (block->host != nullptr) {
        OFXHOST_INJECT(*block->host, "imageMemoryFree");
        block->host->untrackBlock(block);
    }
    block->magic = 0;
    std::free(block->data);
    delete block;
    return kOfxStatOK;
}

OfxStatus imageMemoryLock(OfxImageMemoryHandle memoryHandle, void** returnedPtr) {
    ImageMemory* block = memoryFromHandle(memoryHandle);
    if (block == nullptr)
        return kOfxStatErrBadHandle;
    if (block->host != nullptr)
        OFXHOST_INJECT(*block->host, "imageMemoryLock");
    if (returnedPtr == nullptr)
        return kOfxStatErrBadHandle;
    ++block->locks;
    *returnedPtr = block->data;
    return kOfxStatOK;
}

OfxStatus imageMemoryUnlock(OfxImageMemoryHandle memoryHandle) {
    ImageMemory* block = memoryFromHandle(memoryHandle);
    if (block == nullptr)
        return kOfxStatErrBadHandle;
    if (block->host != nullptr)
        OFXHOST_INJECT(*block->host, "imageMemoryUnlock");
    if (block->locks == 0) {
        if (block->host != nullptr)
            block->host->noteMisuse("imageMemoryUnlock without a lock");
        return kOfxStatErrBadHandle;
    }
    --block->locks;
    return kOfxStatOK;
}

const OfxImageEffectSuiteV1 kImageEffectSuite = {
    getPropertySet,     getParamSet,      clipDefine,       clipGetHandle,
    clipGetPropertySet, clipGetImage,     clipReleaseImage, clipGetRegionOfDefinition,
    abortEffect,        imageMemoryAlloc, imageMemoryFree,  imageMemoryLock,
    imageMemoryUnlock,
};

} // namespace

const OfxImageEffectSuiteV1* imageEffectSuite() { return &kImageEffectSuite; }

} // namespace ofxhost
