// Message, progress, time-line and interact suites.
#include "host.h"
#include "suites.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ofxhost {

namespace {

// These suites take an effect cast to void*; a null or foreign handle falls back to current().
Host* hostOf(void* handle) {
    Effect* effect = Effect::fromHandle(handle);
    return effect ? &effect->host() : Host::current();
}

#define OFXHOST_INJECT_ON(host, member)                                                            \
    if ((host) != nullptr)                                                                         \
        if (auto injected = (host)->injected(member))                                              \
            return *injected;

OfxStatus record(void* handle, const char* member, const char* messageType, const char* messageId,
                 const char* format, va_list ap, bool persistent) {
    Host* host = hostOf(handle);
    OFXHOST_INJECT_ON(host, member);
    if (host == nullptr)
        return kOfxStatFailed;
    // Bounded formatting: the text may come from anywhere in the plug-in.
    char text[4096] = "";
    if (format != nullptr)
        std::vsnprintf(text, sizeof text, format, ap);
    host->recordMessage(Message{handle, messageType ? messageType : "", messageId ? messageId : "",
                                text, persistent});
    if (messageType != nullptr && std::strcmp(messageType, "OfxMessageQuestion") == 0)
        return kOfxStatReplyYes;
    return kOfxStatOK;
}

OfxStatus message(void* handle, const char* messageType, const char* messageId, const char* format,
                  ...) {
    va_list ap;
    va_start(ap, format);
    OfxStatus st = record(handle, "message", messageType, messageId, format, ap, false);
    va_end(ap);
    return st;
}

OfxStatus setPersistentMessage(void* handle, const char* messageType, const char* messageId,
                               const char* format, ...) {
    if (Effect::fromHandle(handle) == nullptr) {
        if (Host* host = Host::current())
            host->noteMisuse("setPersistentMessage without an effect instance");
        return kOfxStatErrBadHandle;
    }
    va_list ap;
    va_start(ap, format);
    OfxStatus st = record(handle, "setPersistentMessage", messageType, messageId, format, ap, true);
    va_end(ap);
    return st;
}

OfxStatus clearPersistentMessage(void* handle) {
    Host* host = hostOf(handle);
    OFXHOST_INJECT_ON(host, "clearPersistentMessage");
    if (host == nullptr || Effect::fromHandle(handle) == nullptr)
        return kOfxStatErrBadHandle;
    host->recordMessage(Message{handle, "clear", "", "", true});
    return kOfxStatOK;
}

OfxStatus progressStart(void* effectInstance, const char* label) {
    Host* host = hostOf(effectInstance);
    OFXHOST_INJECT_ON(host, "progressStart");
    if (host == nullptr)
        return kOfxStatErrBadHandle;
    host->recordProgress(std::string("start ") + (label ? label : ""));
    return kOfxStatOK;
}

// Inject kOfxStatReplyNo on "progressUpdate" to play a user who cancels.
OfxStatus progressUpdate(void* effectInstance, double progress) {
    Host* host = hostOf(effectInstance);
    OFXHOST_INJECT_ON(host, "progressUpdate");
    if (host == nullptr)
        return kOfxStatErrBadHandle;
    host->recordProgress("update " + std::to_string(progress));
    return kOfxStatOK;
}

OfxStatus progressEnd(void* effectInstance) {
    Host* host = hostOf(effectInstance);
    OFXHOST_INJECT_ON(host, "progressEnd");
    if (host == nullptr)
        return kOfxStatErrBadHandle;
    host->recordProgress("end");
    return kOfxStatOK;
}

OfxStatus getTime(void* instance, double* time) {
    Host* host = hostOf(instance);
    OFXHOST_INJECT_ON(host, "getTime");
    if (host == nullptr || time == nullptr)
        return kOfxStatErrBadHandle;
    *time = host->time();
    return kOfxStatOK;
}

OfxStatus gotoTime(void* instance, double time) {
    Host* host = hostOf(instance);
    OFXHOST_INJECT_ON(host, "gotoTime");
    if (host == nullptr)
        return kOfxStatErrBadHandle;
    host->setTime(time);
    return kOfxStatOK;
}

OfxStatus getTimeBounds(void* instance, double* firstTime, double* lastTime) {
    Host* host = hostOf(instance);
    OFXHOST_INJECT_ON(host, "getTimeBounds");
    if (host == nullptr || firstTime == nullptr || lastTime == nullptr)
        return kOfxStatErrBadHandle;
    OfxRangeD bounds = host->timeBounds();
    *firstTime = bounds.min;
    *lastTime = bounds.max;
    return kOfxStatOK;
}

// The host draws no overlays, so no interact handle can be valid.
OfxStatus interactSwapBuffers(OfxInteractHandle) {
    Host* host = Host::current();
    OFXHOST_INJECT_ON(host, "interactSwapBuffers");
    return kOfxStatOK;
}

OfxStatus interactRedraw(OfxInteractHandle) {
    Host* host = Host::current();
    OFXHOST_INJECT_ON(host, "interactRedraw");
    return kOfxStatOK;
}

OfxStatus interactGetPropertySet(OfxInteractHandle, OfxPropertySetHandle*) {
    Host* host = Host::current();
    OFXHOST_INJECT_ON(host, "interactGetPropertySet");
    return kOfxStatErrBadHandle;
}

const OfxMessageSuiteV1 kMessageSuiteV1 = {message};
const OfxMessageSuiteV2 kMessageSuiteV2 = {message, setPersistentMessage, clearPersistentMessage};
const OfxProgressSuiteV1 kProgressSuite = {progressStart, progressUpdate, progressEnd};
const OfxTimeLineSuiteV1 kTimeLineSuite = {getTime, gotoTime, getTimeBounds};
const OfxInteractSuiteV1 kInteractSuite = {interactSwapBuffers, interactRedraw,
                                           interactGetPropertySet};

} // namespace

const OfxMessageSuiteV1* messageSuiteV1() { return &kMessageSuiteV1; }
const OfxMessageSuiteV2* messageSuiteV2() { return &kMessageSuiteV2; }
const OfxProgressSuiteV1* progressSuite() { return &kProgressSuite; }
const OfxTimeLineSuiteV1* timeLineSuite() { return &kTimeLineSuite; }
const OfxInteractSuiteV1* interactSuite() { return &kInteractSuite; }

} // namespace ofxhost
