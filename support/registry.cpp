// The plug-in registry: one record per factory the plug-in code appends, and the two entry
// points a host calls first.
#include "image_effect.h"

#include <map>
#include <memory>

namespace OFX {

namespace {

struct Registry {
    PluginFactoryArray factories;
    /// One slot per factory; null: not built yet, or dropped at unload.
    std::vector<std::unique_ptr<OfxPlugin>> pluginRecords;
    /// Records dropped at unload stay alive until the module goes away: a host may still
    /// hold one, and records are small.
    std::vector<std::unique_ptr<OfxPlugin>> droppedRecords;
    std::map<std::string, std::pair<PluginFactory*, OfxPlugin*>> pluginsByUid;
    bool registryReady = false;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void setHostEntry(OfxHost* host) { setHost(host); }

std::unique_ptr<OfxPlugin> buildPluginRecord(const PluginFactory& factory) {
    auto record = std::make_unique<OfxPlugin>();
    record->pluginApi = kOfxImageEffectPluginApi;
    record->apiVersion = kOfxImageEffectPluginApiVersion;
    record->pluginIdentifier = factory.getId().c_str();
    record->pluginVersionMajor = factory.getMajorVersion();
    record->pluginVersionMinor = factory.getMinorVersion();
    record->setHost = &setHostEntry;
    record->mainEntry = factory.getMainEntry();
    return record;
}

void installRecord(Registry& reg, size_t slot) {
    PluginFactory* factory = reg.factories[slot];
    std::unique_ptr<OfxPlugin> record = buildPluginRecord(*factory);
    reg.pluginsByUid[factory->getUid()] = {factory, record.get()};
    reg.pluginRecords[slot] = std::move(record);
}

void initRegistry() {
    Registry& reg = registry();
    if (reg.registryReady)
        return;
    // Start clean, so that a first attempt cut short by a lack of memory is simply redone.
    reg.factories.clear();
    reg.pluginsByUid.clear();
    appendPluginFactories(reg.factories);
    reg.pluginRecords.resize(reg.factories.size());
    for (size_t i = 0; i < reg.factories.size(); ++i)
        installRecord(reg, i);
    reg.registryReady = true;
}

} // namespace

namespace Private {

PluginFactory* findFactory(const std::string& uniqueId) {
    const Registry& reg = registry();
    auto found = reg.pluginsByUid.find(uniqueId);
    return found == reg.pluginsByUid.end() ? nullptr : found->second.first;
}

void dropPluginRecord(const std::string& uniqueId) {
    Registry& reg = registry();
    auto found = reg.pluginsByUid.find(uniqueId);
    if (found == reg.pluginsByUid.end())
        return;
    for (size_t i = 0; i < reg.pluginRecords.size(); ++i) {
        if (reg.pluginRecords[i] && reg.pluginRecords[i].get() == found->second.second) {
            reg.droppedRecords.push_back(std::move(reg.pluginRecords[i]));
            return;
        }
    }
}

} // namespace Private
} // namespace OFX

extern "C" {

OfxExport int OfxGetNumberOfPlugins(void) {
    try {
        OFX::initRegistry();
        return static_cast<int>(OFX::registry().factories.size());
    } catch (...) {
        return 0;
    }
}

OfxExport OfxPlugin* OfxGetPlugin(int nth) {
    try {
        OFX::initRegistry();
        OFX::Registry& reg = OFX::registry();
        const int count = static_cast<int>(reg.pluginsByUid.size());
        const bool outOfRange = nth < 0 || nth >= count;
        OFX::logError(outOfRange,
                      "Host attempted to get plugin %d, when there is only %d plugin(s), so it "
                      "should have asked for 0.",
                      nth, count);
        if (outOfRange || static_cast<size_t>(nth) >= reg.pluginRecords.size())
            return nullptr;
        const size_t slot = static_cast<size_t>(nth);
        if (!reg.pluginRecords[slot])
            OFX::installRecord(reg, slot);
        return reg.pluginRecords[slot].get();
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"
