#include "faults.h"

#include <cstring>

namespace ofxhost {

void FaultPlan::withholdSuite(const std::string& name, int version) {
    std::lock_guard<std::mutex> lock(mutex_);
    withheld_.emplace_back(name, version);
}

bool FaultPlan::isWithheld(const char* name, int version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& w : withheld_)
        if (w.second == version && w.first == name)
            return true;
    return false;
}

void FaultPlan::failProperty(const std::string& name, OfxStatus status, unsigned ops,
                             const PropertySet* only) {
    std::lock_guard<std::mutex> lock(mutex_);
    properties_.push_back({name, status, ops, only});
    anyProperty_ = true;
}

std::optional<OfxStatus> FaultPlan::propertyFault(const char* name, unsigned op,
                                                  const PropertySet* set) const {
    if (!anyProperty_ || name == nullptr)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& f : properties_) {
        if ((f.ops & op) != 0 && (f.only == nullptr || f.only == set) && f.name == name)
            return f.status;
    }
    return std::nullopt;
}

void FaultPlan::failFunction(const std::string& member, OfxStatus status, unsigned passFirst) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& f : functions_) {
        if (f.member == member) {
            f.status = status;
            f.passes = passFirst;
            return;
        }
    }
    functions_.push_back({member, status, passFirst});
    anyFunction_ = true;
}

std::optional<OfxStatus> FaultPlan::functionFault(const char* member) const {
    if (!anyFunction_)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& f : functions_) {
        if (std::strcmp(f.member.c_str(), member) != 0)
            continue;
        if (f.passes > 0) {
            --f.passes;
            return std::nullopt;
        }
        return f.status;
    }
    return std::nullopt;
}

void FaultPlan::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    withheld_.clear();
    properties_.clear();
    functions_.clear();
    anyProperty_ = false;
    anyFunction_ = false;
}

} // namespace ofxhost
