// The plug-in's dialogs: a base class that runs a dialog template modally and
// routes its window messages to virtual operations, the one dialog procedure
// all of them share, and the placement every dialog gets when it opens.
#pragma once

#include <cstdint>

#include "entry/plugin_main.h"
#include "hostapi/host_api.h"
#include "platform/window_system.h"

namespace quillmesh {

class PIDialog {
  public:
    PIDialog() = default;
    virtual ~PIDialog();
    PIDialog(const PIDialog&) = delete;
    PIDialog& operator=(const PIDialog&) = delete;

    // Called once the dialog window exists, before it is shown.
    virtual void onInit();
    // A command from dialog item `item` (a button click, a menu choice).
    virtual void onCommand(int item);
    // Any message the dialog procedure does not handle itself.
    virtual void onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // Runs dialog template `dialogId` of the plug-in's module modally and
    // returns the dialog's result, or -1 when it cannot be created. `title`
    // is not used.
    virtual intptr_t runModal(PluginRef pluginRef, const char* title, int32_t dialogId);

    int32_t dialogId() const { return dialogId_; }
    ui::WindowRef windowHandle() const { return windowHandle_; }
    void setWindowHandle(ui::WindowRef window) { windowHandle_ = window; }
    PluginRef pluginRef() const { return pluginRef_; }

  protected:
    int32_t dialogId_ = 0;
    ui::WindowRef windowHandle_ = nullptr;
    PluginRef pluginRef_ = nullptr;
};

// The dialog that is open, or null.
extern PIDialog* currentDialog;

// Places a dialog centred across its parent (the desktop when it has none),
// one third of the free height from the top, and on the screen.
void centerDialog(ui::WindowRef dialog);

}  // namespace quillmesh

extern "C" {
// The dialog procedure of every plug-in dialog (exported so that the system
// can find it by name too).
QUILLMESH_EXPORT intptr_t HOSTAPI_CALL GenericProc(quillmesh::ui::WindowRef window,
                                                   uint32_t message, uintptr_t wParam,
                                                   intptr_t lParam);
}
