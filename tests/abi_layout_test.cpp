// Member offsets of the C declarations, against the published 64-bit layout. A swapped or
// missing member passes every test that uses our own host and crashes in a real one.
#include "ofx_api.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

#define EXPECT_MEMBER(Struct, member, offset) EXPECT_EQ(offsetof(Struct, member), offset) << #member

TEST(AbiLayout, RecordsAndBootstrap) {
    EXPECT_EQ(sizeof(OfxRectI), 16u);
    EXPECT_EQ(sizeof(OfxRectD), 32u);
    EXPECT_EQ(sizeof(OfxPointD), 16u);
    EXPECT_EQ(sizeof(OfxRangeD), 16u);
    EXPECT_MEMBER(OfxRectI, y1, 4u);
    EXPECT_MEMBER(OfxRectI, x2, 8u);
    EXPECT_MEMBER(OfxRectD, y2, 24u);
    EXPECT_EQ(sizeof(OfxHost), 16u);
    EXPECT_MEMBER(OfxHost, host, 0u);
    EXPECT_MEMBER(OfxHost, fetchSuite, 8u);
    EXPECT_EQ(sizeof(OfxPlugin), 48u);
    EXPECT_MEMBER(OfxPlugin, pluginApi, 0u);
    EXPECT_MEMBER(OfxPlugin, apiVersion, 8u);
    EXPECT_MEMBER(OfxPlugin, pluginIdentifier, 16u);
    EXPECT_MEMBER(OfxPlugin, pluginVersionMajor, 24u);
    EXPECT_MEMBER(OfxPlugin, pluginVersionMinor, 28u);
    EXPECT_MEMBER(OfxPlugin, setHost, 32u);
    EXPECT_MEMBER(OfxPlugin, mainEntry, 40u);
}

TEST(AbiLayout, PropertySuite) {
    EXPECT_EQ(sizeof(OfxPropertySuiteV1), 144u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetPointer, 0u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetString, 8u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetDouble, 16u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetInt, 24u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetPointerN, 32u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetStringN, 40u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetDoubleN, 48u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propSetIntN, 56u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetPointer, 64u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetString, 72u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetDouble, 80u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetInt, 88u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetPointerN, 96u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetStringN, 104u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetDoubleN, 112u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetIntN, 120u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propReset, 128u);
    EXPECT_MEMBER(OfxPropertySuiteV1, propGetDimension, 136u);
}

TEST(AbiLayout, ImageEffectSuite) {
    EXPECT_EQ(sizeof(OfxImageEffectSuiteV1), 104u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, getPropertySet, 0u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, getParamSet, 8u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, clipDefine, 16u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, clipGetHandle, 24u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, clipGetPropertySet, 32u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, clipGetImage, 40u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, clipReleaseImage, 48u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, clipGetRegionOfDefinition, 56u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, abort, 64u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, imageMemoryAlloc, 72u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, imageMemoryFree, 80u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, imageMemoryLock, 88u);
    EXPECT_MEMBER(OfxImageEffectSuiteV1, imageMemoryUnlock, 96u);
}

TEST(AbiLayout, ParameterSuite) {
    EXPECT_EQ(sizeof(OfxParameterSuiteV1), 144u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramDefine, 0u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetHandle, 8u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramSetGetPropertySet, 16u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetPropertySet, 24u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetValue, 32u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetValueAtTime, 40u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetDerivative, 48u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetIntegral, 56u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramSetValue, 64u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramSetValueAtTime, 72u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetNumKeys, 80u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetKeyTime, 88u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramGetKeyIndex, 96u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramDeleteKey, 104u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramDeleteAllKeys, 112u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramCopy, 120u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramEditBegin, 128u);
    EXPECT_MEMBER(OfxParameterSuiteV1, paramEditEnd, 136u);
}

TEST(AbiLayout, SmallerSuites) {
    EXPECT_EQ(sizeof(OfxMultiThreadSuiteV1), 72u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, multiThread, 0u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, multiThreadNumCPUs, 8u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, multiThreadIndex, 16u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, multiThreadIsSpawnedThread, 24u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, mutexCreate, 32u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, mutexDestroy, 40u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, mutexLock, 48u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, mutexUnLock, 56u);
    EXPECT_MEMBER(OfxMultiThreadSuiteV1, mutexTryLock, 64u);
    EXPECT_EQ(sizeof(OfxMemorySuiteV1), 16u);
    EXPECT_MEMBER(OfxMemorySuiteV1, memoryFree, 8u);
    EXPECT_EQ(sizeof(OfxMessageSuiteV1), 8u);
    EXPECT_EQ(sizeof(OfxMessageSuiteV2), 24u);
    EXPECT_MEMBER(OfxMessageSuiteV2, setPersistentMessage, 8u);
    EXPECT_MEMBER(OfxMessageSuiteV2, clearPersistentMessage, 16u);
    EXPECT_EQ(sizeof(OfxProgressSuiteV1), 24u);
    EXPECT_MEMBER(OfxProgressSuiteV1, progressUpdate, 8u);
    EXPECT_MEMBER(OfxProgressSuiteV1, progressEnd, 16u);
    EXPECT_EQ(sizeof(OfxTimeLineSuiteV1), 24u);
    EXPECT_MEMBER(OfxTimeLineSuiteV1, gotoTime, 8u);
    EXPECT_MEMBER(OfxTimeLineSuiteV1, getTimeBounds, 16u);
    EXPECT_EQ(sizeof(OfxInteractSuiteV1), 24u);
    EXPECT_MEMBER(OfxInteractSuiteV1, interactRedraw, 8u);
    EXPECT_MEMBER(OfxInteractSuiteV1, interactGetPropertySet, 16u);
}

} // namespace
