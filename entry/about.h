// The About box.
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"

namespace quillmesh {

// Shows the About box built from dialog resource `dialogId`.
void showAbout(PluginRef pluginRef, int16_t dialogId);

}  // namespace quillmesh
