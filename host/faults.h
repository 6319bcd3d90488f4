// Fault injection: which suites the host pretends not to have, and which calls answer an error.
#pragma once

#include "ofx_api.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ofxhost {

class PropertySet;

/// Property-suite operations a property fault can be limited to (combine with |).
enum PropOp : unsigned { kPropGet = 1u, kPropSet = 2u, kPropDimension = 4u, kPropAny = 7u };

/// Thread-safe list of injected faults; consulted by every suite function.
class FaultPlan {
public:
    /// fetchSuite(name, version) answers null from now on.
    void withholdSuite(const std::string& name, int version);
    /// True when (name, version) has been withheld.
    bool isWithheld(const char* name, int version) const;

    /// Calls on property `name` answer `status`; `ops` picks get/set/dimension, `only` one set.
    void failProperty(const std::string& name, OfxStatus status, unsigned ops = kPropAny,
                      const PropertySet* only = nullptr);
    /// Status injected for this property operation on `set`, if any.
    std::optional<OfxStatus> propertyFault(const char* name, unsigned op,
                                           const PropertySet* set) const;

    /// Suite member `member` (e.g. "clipGetImage") answers `status` without doing anything,
    /// after serving its next `passFirst` calls normally.
    void failFunction(const std::string& member, OfxStatus status, unsigned passFirst = 0);
    /// Status injected for suite member `member`, if any.
    std::optional<OfxStatus> functionFault(const char* member) const;

    /// Removes every fault of every kind.
    void clear();

private:
    struct PropertyFault {
        std::string name;
        OfxStatus status;
        unsigned ops;
        const PropertySet* only;
    };
    mutable std::mutex mutex_;
    // Property calls are the hottest path of a render; skip the lock when nothing is injected.
    std::atomic<bool> anyProperty_{false};
    std::atomic<bool> anyFunction_{false};
    std::vector<std::pair<std::string, int>> withheld_;
    std::vector<PropertyFault> properties_;
    struct FunctionFault {
        std::string member;
        OfxStatus status;
        unsigned passes; ///< calls still to serve before failing
    };
    mutable std::vector<FunctionFault> functions_;
};

} // namespace ofxhost
