// The stand-in window system used where there is no Windows (see
// window_system.h). It keeps windows, dialog templates and string tables in
// memory; a modal dialog runs through a scripted list of messages instead of
// waiting for a user. Tests set it up and read back what the dialogs did.
#pragma once

#if !defined(_WIN32)

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_system.h"

namespace quillmesh::ui::standin {

struct Window {
    WindowRef parent = nullptr;
    Rect rect;    // outer rectangle, screen coordinates
    Rect client;  // client area, screen coordinates
    uint32_t style = 0;
    std::map<int, std::u16string> items;  // dialog items by identifier, with their texts
    bool destroyed = false;
};

struct DialogTemplate {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t style = 0;
    std::map<int, std::u16string> items;
};

struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// One modal dialog run, as the stand-in saw it.
struct DialogRun {
    void* module = nullptr;
    uint16_t dialogId = 0;
    WindowRef owner = nullptr;
    intptr_t parameter = 0;
    WindowRef window = nullptr;
    intptr_t initResult = 0;          // what the procedure answered to WM_INITDIALOG
    std::size_t messagesHandled = 0;  // scripted messages delivered before the dialog ended
    bool ended = false;               // ended by the dialog itself (endDialog)
    intptr_t result = 0;
};

struct DefaultProcedureCall {
    WindowRef window;
    uint32_t message;
};

class WindowSystem {
  public:
    static WindowSystem& instance();

    // Forgets every window, template, string and record; the desktop and the
    // metrics return to their defaults (1024 x 768, caption buttons 18 wide).
    void reset();

    int32_t screenWidth = 1024;
    int32_t screenHeight = 768;
    int32_t captionButtonWidth = 18;
    WindowRef activeWindow = nullptr;

    WindowRef desktop();
    // A window at `rect` (screen coordinates) whose client area is the whole rectangle.
    WindowRef createWindow(WindowRef parent, Rect rect, uint32_t style);
    // Null for a handle the stand-in did not make.
    Window* find(WindowRef window);

    void addDialogTemplate(void* module, uint16_t dialogId, DialogTemplate dialog);
    void addString(void* module, uint16_t id, std::u16string text);
    const std::u16string* string(void* module, uint16_t id) const;

    // Messages every later modal dialog receives after WM_INITDIALOG, in order,
    // until it ends. A dialog still open when they run out is destroyed and
    // its run returns -1 with `ended` false.
    void scriptMessages(std::vector<Message> messages) { script_ = std::move(messages); }

    const std::vector<DialogRun>& runs() const { return runs_; }
    const std::vector<DefaultProcedureCall>& defaultProcedureCalls() const { return defaultCalls_; }

    // Used by the window-system services.
    intptr_t runDialog(void* module, uint16_t dialogId, WindowRef owner, DialogProcedure procedure,
                       intptr_t parameter);
    bool endDialog(WindowRef window, intptr_t result);
    void recordDefaultProcedure(WindowRef window, uint32_t message) {
        defaultCalls_.push_back({window, message});
    }

  private:
    WindowSystem();

    std::vector<std::unique_ptr<Window>> windows_;
    std::map<std::pair<void*, uint16_t>, DialogTemplate> templates_;
    std::map<std::pair<void*, uint16_t>, std::u16string> strings_;
    std::vector<Message> script_;
    std::vector<DialogRun> runs_;
    std::vector<DefaultProcedureCall> defaultCalls_;
    std::vector<std::size_t> openRuns_;  // indices into runs_ of the dialogs now running
};

}  // namespace quillmesh::ui::standin

#endif
