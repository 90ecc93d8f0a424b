#include "entry/about.h"

#include <string>

#include "entry/suites.h"
#include "platform/platform.h"

namespace quillmesh {

namespace {

// Dialog item that would take the string of the dialog's own identifier. The
// About template has none, so the box shows the text of its template.
constexpr int kAboutTextItem = 3;
constexpr int kLinkItem = 4;
constexpr std::size_t kTextCapacity = 255;
constexpr std::size_t kLinkCapacity = 256;

constexpr uintptr_t kEscape = 27;
constexpr uintptr_t kEnter = 13;

}  // namespace

PIAboutBox::~PIAboutBox() = default;

void PIAboutBox::onInit() {
    const std::u16string text =
        ui::loadString(moduleInstance(nullptr), static_cast<uint16_t>(dialogId_), kTextCapacity);
    ui::setItemText(windowHandle_, kAboutTextItem, text);
}

void PIAboutBox::onCommand(int item) {
    if (item != kLinkItem && item != kAboutWebAddressItem) {
        return;
    }
    const std::u16string address = ui::itemText(windowHandle_, item, kLinkCapacity);
    const std::string url = "http://" + platform::toUtf8(address);
    const auto* files = getFileListSuiteHolder().as<GetFileListSuite>();
    if (files->browseUrl != nullptr) {
        files->browseUrl(url.c_str());
    }
}

void PIAboutBox::onMessage(uint32_t message, uintptr_t wParam, intptr_t) {
    const bool closingKey = message == ui::kMessageChar && (wParam == kEscape || wParam == kEnter);
    if (closingKey || message == ui::kMessageLeftButtonDown) {
        ui::endDialog(windowHandle_, 0);
    }
}

void showAbout(PluginRef pluginRef, int16_t dialogId) {
    PIAboutBox box;
    box.runModal(pluginRef, "Generic About Box", dialogId);
}

}  // namespace quillmesh
