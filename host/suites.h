// The suite tables the host serves (internal to the library).
#pragma once

#include "ofx_api.h"

namespace ofxhost {

const OfxImageEffectSuiteV1* imageEffectSuite();
const OfxParameterSuiteV1* parameterSuite();
const OfxMultiThreadSuiteV1* multiThreadSuite();
const OfxMemorySuiteV1* memorySuite();
const OfxMessageSuiteV1* messageSuiteV1();
const OfxMessageSuiteV2* messageSuiteV2();
const OfxProgressSuiteV1* progressSuite();
const OfxTimeLineSuiteV1* timeLineSuite();
const OfxInteractSuiteV1* interactSuite();

} // namespace ofxhost
