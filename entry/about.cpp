#include "entry/about.h"

namespace quillmesh {

// The module carries no dialog resources yet, so there is nothing to show.
void showAbout(PluginRef, int16_t) {}

}  // namespace quillmesh
