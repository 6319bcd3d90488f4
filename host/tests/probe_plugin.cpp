// A minimal filter used to drive the host across the dlopen boundary exactly as the real
// module will: out = (invert ? 1 - src : src) * gain * tint, rows split over multiThread.
#include "ofx_api.h"

#include <cstring>
#include <initializer_list>

namespace {

OfxHost* gHost = nullptr;
const OfxPropertySuiteV1* gProps = nullptr;
const OfxImageEffectSuiteV1* gEffects = nullptr;
const OfxParameterSuiteV1* gParams = nullptr;
const OfxMultiThreadSuiteV1* gThreads = nullptr;

struct View {
    char* data = nullptr;
    int rowBytes = 0;
    OfxRectI bounds{};
    int depthBytes = 4;
};

bool viewOf(OfxPropertySetHandle image, View& v) {
    void* data = nullptr;
    char* depth = nullptr;
    if (gProps->propGetPointer(image, kOfxImagePropData, 0, &data) != kOfxStatOK ||
        gProps->propGetInt(image, kOfxImagePropRowBytes, 0, &v.rowBytes) != kOfxStatOK ||
        gProps->propGetIntN(image, kOfxImagePropBounds, 4, &v.bounds.x1) != kOfxStatOK ||
        gProps->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth) != kOfxStatOK)
        return false;
    v.data = static_cast<char*>(data);
    v.depthBytes = std::strcmp(depth, kOfxBitDepthFloat) == 0   ? 4
                   : std::strcmp(depth, kOfxBitDepthShort) == 0 ? 2
                                                                : 1;
    return true;
}

char* at(const View& v, int x, int y) {
    return v.data + static_cast<long>(y - v.bounds.y1) * v.rowBytes +
           static_cast<long>(x - v.bounds.x1) * 4 * v.depthBytes;
}

float load(const View& v, const char* p, int c) {
    if (v.depthBytes == 4) {
        float f;
        std::memcpy(&f, p + 4 * c, 4);
        return f;
    }
    if (v.depthBytes == 2) {
        unsigned short s;
        std::memcpy(&s, p + 2 * c, 2);
        return s / 65535.0f;
    }
    return static_cast<unsigned char>(p[c]) / 255.0f;
}

void store(const View& v, char* p, int c, float f) {
    if (v.depthBytes == 4) {
        std::memcpy(p + 4 * c, &f, 4);
        return;
    }
    f = f < 0 ? 0 : f > 1 ? 1 : f;
    if (v.depthBytes == 2) {
        auto s = static_cast<unsigned short>(f * 65535.0f + 0.5f);
        std::memcpy(p + 2 * c, &s, 2);
        return;
    }
    p[c] = static_cast<char>(static_cast<unsigned char>(f * 255.0f + 0.5f));
}

struct Job {
    View src, dst;
    OfxRectI window;
    double gain;
    double tint[4];
    int invert;
};

void renderRows(unsigned int index, unsigned int count, void* arg) {
    auto* job = static_cast<Job*>(arg);
    int h = job->window.y2 - job->window.y1;
    int y0 = job->window.y1 + static_cast<int>(h * static_cast<long>(index) / count);
    int y1 = job->window.y1 + static_cast<int>(h * static_cast<long>(index + 1) / count);
    for (int y = y0; y < y1; ++y)
        for (int x = job->window.x1; x < job->window.x2; ++x)
            for (int c = 0; c < 4; ++c) {
                float s = load(job->src, at(job->src, x, y), c);
                if (job->invert)
                    s = 1.0f - s;
                store(job->dst, at(job->dst, x, y), c,
                      static_cast<float>(s * job->gain * job->tint[c]));
            }
}

OfxParamHandle param(OfxImageEffectHandle effect, const char* name) {
    OfxParamSetHandle set = nullptr;
    OfxParamHandle p = nullptr;
    gEffects->getParamSet(effect, &set);
    gParams->paramGetHandle(set, name, &p, nullptr);
    return p;
}

OfxStatus render(OfxImageEffectHandle effect, OfxPropertySetHandle in) {
    double time = 0;
    Job job{};
    gProps->propGetDouble(in, kOfxPropTime, 0, &time);
    gProps->propGetIntN(in, kOfxImageEffectPropRenderWindow, 4, &job.window.x1);
    gParams->paramGetValueAtTime(param(effect, "gain"), time, &job.gain);
    gParams->paramGetValueAtTime(param(effect, "tint"), time, &job.tint[0], &job.tint[1],
                                 &job.tint[2], &job.tint[3]);
    gParams->paramGetValueAtTime(param(effect, "invert"), time, &job.invert);

    OfxImageClipHandle source = nullptr, output = nullptr;
    gEffects->clipGetHandle(effect, "Source", &source, nullptr);
    gEffects->clipGetHandle(effect, "Output", &output, nullptr);
    OfxPropertySetHandle srcImg = nullptr, dstImg = nullptr;
    OfxStatus st = gEffects->clipGetImage(output, time, nullptr, &dstImg);
    if (st != kOfxStatOK)
        return kOfxStatFailed;
    st = gEffects->clipGetImage(source, time, nullptr, &srcImg);
    if (st != kOfxStatOK) {
        gEffects->clipReleaseImage(dstImg);
        return kOfxStatFailed;
    }
    if (viewOf(srcImg, job.src) && viewOf(dstImg, job.dst)) {
        unsigned int cpus = 1;
        gThreads->multiThreadNumCPUs(&cpus);
        st = gThreads->multiThread(renderRows, cpus, &job);
    } else {
        st = kOfxStatErrImageFormat;
    }
    gEffects->clipReleaseImage(srcImg);
    gEffects->clipReleaseImage(dstImg);
    return st;
}

OfxStatus describeInContext(OfxImageEffectHandle effect) {
    OfxPropertySetHandle props = nullptr;
    for (const char* name : {"Source", "Output"}) {
        if (gEffects->clipDefine(effect, name, &props) != kOfxStatOK)
            return kOfxStatFailed;
        gProps->propSetString(props, kOfxImageEffectPropSupportedComponents, 0,
                              kOfxImageComponentRGBA);
    }
    OfxParamSetHandle set = nullptr;
    gEffects->getParamSet(effect, &set);
    gParams->paramDefine(set, kOfxParamTypeDouble, "gain", &props);
    gProps->propSetDouble(props, kOfxParamPropDefault, 0, 1.0);
    gParams->paramDefine(set, kOfxParamTypeRGBA, "tint", &props);
    const double white[4] = {1.0, 1.0, 1.0, 1.0};
    gProps->propSetDoubleN(props, kOfxParamPropDefault, 4, white);
    gParams->paramDefine(set, kOfxParamTypeBoolean, "invert", &props);
    gProps->propSetInt(props, kOfxParamPropDefault, 0, 0);
    return kOfxStatOK;
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle in,
                    OfxPropertySetHandle out) {
    auto effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    if (std::strcmp(action, kOfxActionLoad) == 0) {
        gProps = static_cast<const OfxPropertySuiteV1*>(
            gHost->fetchSuite(gHost->host, kOfxPropertySuite, 1));
        gEffects = static_cast<const OfxImageEffectSuiteV1*>(
            gHost->fetchSuite(gHost->host, kOfxImageEffectSuite, 1));
        gParams = static_cast<const OfxParameterSuiteV1*>(
            gHost->fetchSuite(gHost->host, kOfxParameterSuite, 1));
        gThreads = static_cast<const OfxMultiThreadSuiteV1*>(
            gHost->fetchSuite(gHost->host, kOfxMultiThreadSuite, 1));
        return gProps && gEffects && gParams && gThreads ? kOfxStatOK
                                                         : kOfxStatErrMissingHostFeature;
    }
    if (std::strcmp(action, kOfxActionDescribe) == 0) {
        OfxPropertySetHandle props = nullptr;
        gEffects->getPropertySet(effect, &props);
        const char* contexts[] = {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral};
        gProps->propSetStringN(props, kOfxImageEffectPropSupportedContexts, 2, contexts);
        return kOfxStatOK;
    }
    if (std::strcmp(action, kOfxImageEffectActionDescribeInContext) == 0)
        return describeInContext(effect);
    if (std::strcmp(action, kOfxImageEffectActionRender) == 0)
        return render(effect, in);
    if (std::strcmp(action, kOfxImageEffectActionGetRegionsOfInterest) == 0) {
        double roi[4];
        gProps->propGetDoubleN(in, kOfxImageEffectPropRegionOfInterest, 4, roi);
        roi[0] -= 1;
        roi[1] -= 1;
        roi[2] += 1;
        roi[3] += 1;
        return gProps->propSetDoubleN(out, "OfxImageClipPropRoI_Source", 4, roi);
    }
    if (std::strcmp(action, kOfxImageEffectActionIsIdentity) == 0) {
        double time = 0, gain = 0;
        gProps->propGetDouble(in, kOfxPropTime, 0, &time);
        gParams->paramGetValueAtTime(param(effect, "gain"), time, &gain);
        if (gain != 1.0)
            return kOfxStatReplyDefault;
        gProps->propSetString(out, kOfxPropName, 0, "Source");
        return kOfxStatOK;
    }
    if (std::strcmp(action, kOfxActionInstanceChanged) == 0) {
        // A gain edit resets the colour controls: exercises the set-family varargs.
        char* name = nullptr;
        gProps->propGetString(in, kOfxPropName, 0, &name);
        if (std::strcmp(name, "gain") != 0)
            return kOfxStatReplyDefault;
        gParams->paramSetValue(param(effect, "tint"), 0.5, 0.25, 0.125, 1.0);
        gParams->paramSetValue(param(effect, "invert"), 1);
        return kOfxStatOK;
    }
    return kOfxStatReplyDefault;
}

void setHost(OfxHost* host) { gHost = host; }

OfxPlugin gPlugin = {
    kOfxImageEffectPluginApi, 1, "net.nimbra.ofxhost.probe", 1, 0, setHost, mainEntry};

} // namespace

extern "C" {
OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin* OfxGetPlugin(int nth) { return nth == 0 ? &gPlugin : nullptr; }
}
