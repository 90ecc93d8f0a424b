// The four host suites the descriptor writers work through.
#pragma once

#include "hostapi/host_api.h"

namespace quillmesh {

// A slot is null when its suite was not acquired.
struct DescriptorSuites {
    const ActionDescriptorSuite* descriptor = nullptr;
    const ActionListSuite* list = nullptr;
    const ActionControlSuite* control = nullptr;
    const ZStringSuite* zstring = nullptr;

    bool complete() const {
        return descriptor != nullptr && list != nullptr && control != nullptr && zstring != nullptr;
    }
};

}  // namespace quillmesh
