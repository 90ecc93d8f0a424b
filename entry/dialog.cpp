#include "entry/dialog.h"

#include <algorithm>

#include "entry/suites.h"

namespace quillmesh {

PIDialog* currentDialog = nullptr;

PIDialog::~PIDialog() = default;

void PIDialog::onInit() {}

void PIDialog::onCommand(int) {}

void PIDialog::onMessage(uint32_t, uintptr_t, intptr_t) {}

intptr_t PIDialog::runModal(PluginRef pluginRef, const char*, int32_t dialogId) {
    dialogId_ = dialogId;
    pluginRef_ = pluginRef;
    void* module = moduleInstance(pluginRef);
    const intptr_t result =
        ui::runDialog(module, static_cast<uint16_t>(dialogId), ui::activeWindow(), GenericProc,
                      reinterpret_cast<intptr_t>(this));
    // The window normally clears this when it is destroyed; a dialog that
    // failed on the way must not leave a pointer to an object about to go.
    if (currentDialog == this) {
        currentDialog = nullptr;
    }
    return result;
}

void centerDialog(ui::WindowRef dialog) {
    ui::WindowRef parent = ui::parentWindow(dialog);
    if (parent == nullptr) {
        parent = ui::desktopWindow();
    }
    ui::Rect parentRect;
    ui::Rect dialogRect;
    if (!ui::clientRectOnScreen(parent, parentRect) || !ui::windowRect(dialog, dialogRect)) {
        return;
    }
    // 64-bit arithmetic: screen coordinates near the 32-bit limits cannot wrap.
    const int64_t parentWidth = int64_t{parentRect.right} - parentRect.left;
    const int64_t parentHeight = int64_t{parentRect.bottom} - parentRect.top;
    const int64_t width = int64_t{dialogRect.right} - dialogRect.left;
    const int64_t height = int64_t{dialogRect.bottom} - dialogRect.top;
    const int64_t screenWidth = ui::screenWidth();
    const int64_t screenHeight = ui::screenHeight();

    // Caption buttons are narrower on dialogs without a system menu.
    int64_t allowance = ui::captionButtonWidth();
    if ((ui::windowStyle(dialog) & ui::kStyleSystemMenu) == 0) {
        allowance -= allowance / 3;
    }

    int64_t x = parentRect.left + std::max<int64_t>(0, parentWidth - width) / 2 - allowance;
    if (x + width > screenWidth) {
        x = std::max<int64_t>(0, screenWidth - width);
    }
    int64_t y = parentRect.top + std::max<int64_t>(0, parentHeight - height) / 3;
    if (y + height > screenHeight) {
        y = std::max<int64_t>(0, screenHeight - height);
    }
    x = std::clamp<int64_t>(x, INT32_MIN, INT32_MAX);
    y = std::clamp<int64_t>(y, INT32_MIN, INT32_MAX);
    ui::moveWindow(dialog, static_cast<int32_t>(x), static_cast<int32_t>(y));
}

namespace {

constexpr int kItemOk = 1;
constexpr int kItemCancel = 2;

intptr_t handleMessage(ui::WindowRef window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case ui::kMessageInitDialog: {
            centerDialog(window);
            currentDialog = reinterpret_cast<PIDialog*>(lParam);
            if (currentDialog == nullptr) {
                return 0;
            }
            currentDialog->setWindowHandle(window);
            currentDialog->onInit();
            return 1;
        }
        case ui::kMessageDestroy:
            currentDialog = nullptr;
            return 0;
        case ui::kMessageCommand: {
            const int item = static_cast<int>(wParam & 0xFFFF);
            const int notification = static_cast<int>((wParam >> 16) & 0xFFFF);
            if (currentDialog != nullptr) {
                currentDialog->onCommand(item);
            }
            if ((item == kItemOk || item == kItemCancel) && notification == 0) {
                ui::endDialog(window, item);
            }
            return 1;
        }
        default:
            if (currentDialog != nullptr) {
                currentDialog->onMessage(message, wParam, lParam);
            } else {
                ui::defaultWindowProcedure(window, message, wParam, lParam);
            }
            return 0;
    }
}

}  // namespace

}  // namespace quillmesh

extern "C" intptr_t HOSTAPI_CALL GenericProc(quillmesh::ui::WindowRef window, uint32_t message,
                                             uintptr_t wParam, intptr_t lParam) {
    // Called by the system's dialog manager: nothing thrown may unwind into it.
    // A failure inside an operation (a suite the host cannot give, memory)
    // leaves the dialog as it is.
    try {
        return quillmesh::handleMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}
