// The About box.
#pragma once

#include <cstdint>

#include "entry/dialog.h"
#include "hostapi/host_api.h"

namespace quillmesh {

// Dialog item that shows the product's web address; clicking it opens the
// site in the user's browser.
inline constexpr int kAboutWebAddressItem = 5;

// The About dialog: shows the text of its template, opens the product's web
// site from its link button, and closes on Escape, Enter or a click.
class PIAboutBox : public PIDialog {
  public:
    ~PIAboutBox() override;
    void onInit() override;
    void onCommand(int item) override;
    void onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
};

// Shows the About box built from dialog resource `dialogId`.
void showAbout(PluginRef pluginRef, int16_t dialogId);

}  // namespace quillmesh
