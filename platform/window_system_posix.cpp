// The window-system services of the dialogs where there is no Windows: an
// in-memory stand-in (window_standin.h).
#include <algorithm>

#include "platform/window_standin.h"
#include "platform/window_system.h"

namespace quillmesh::ui {

namespace standin {

WindowSystem& WindowSystem::instance() {
    static WindowSystem system;
    return system;
}

WindowSystem::WindowSystem() {
    reset();
}

void WindowSystem::reset() {
    screenWidth = 1024;
    screenHeight = 768;
    captionButtonWidth = 18;
    activeWindow = nullptr;
    windows_.clear();
    templates_.clear();
    strings_.clear();
    script_.clear();
    runs_.clear();
    defaultCalls_.clear();
    openRuns_.clear();
    // The desktop is always the first window.
    createWindow(nullptr, Rect{0, 0, screenWidth, screenHeight}, 0);
}

WindowRef WindowSystem::desktop() {
    return windows_.front().get();
}

WindowRef WindowSystem::createWindow(WindowRef parent, Rect rect, uint32_t style) {
    auto window = std::make_unique<Window>();
    window->parent = parent;
    window->rect = rect;
    window->client = rect;
    window->style = style;
    windows_.push_back(std::move(window));
    return windows_.back().get();
}

Window* WindowSystem::find(WindowRef handle) {
    for (const auto& window : windows_) {
        if (window.get() == handle) {
            return window.get();
        }
    }
    return nullptr;
}

void WindowSystem::addDialogTemplate(void* module, uint16_t dialogId, DialogTemplate dialog) {
    templates_[{module, dialogId}] = std::move(dialog);
}

void WindowSystem::addString(void* module, uint16_t id, std::u16string text) {
    strings_[{module, id}] = std::move(text);
}

const std::u16string* WindowSystem::string(void* module, uint16_t id) const {
    auto it = strings_.find({module, id});
    return it == strings_.end() ? nullptr : &it->second;
}

intptr_t WindowSystem::runDialog(void* module, uint16_t dialogId, WindowRef owner,
                                 DialogProcedure procedure, intptr_t parameter) {
    auto found = templates_.find({module, dialogId});
    if (found == templates_.end() || procedure == nullptr) {
        return -1;
    }
    const DialogTemplate& dialog = found->second;
    WindowRef handle = createWindow(owner, Rect{0, 0, dialog.width, dialog.height}, dialog.style);
    find(handle)->items = dialog.items;

    const std::size_t index = runs_.size();
    runs_.push_back(DialogRun{module, dialogId, owner, parameter, handle});
    openRuns_.push_back(index);

    runs_[index].initResult = procedure(handle, kMessageInitDialog, 0, parameter);
    const std::vector<Message> script = script_;
    for (const Message& message : script) {
        if (runs_[index].ended) {
            break;
        }
        procedure(handle, message.message, message.wParam, message.lParam);
        ++runs_[index].messagesHandled;
    }
    if (!runs_[index].ended) {
        runs_[index].result = -1;
    }
    procedure(handle, kMessageDestroy, 0, 0);
    find(handle)->destroyed = true;
    openRuns_.pop_back();
    return runs_[index].result;
}

bool WindowSystem::endDialog(WindowRef window, intptr_t result) {
    for (std::size_t index : openRuns_) {
        DialogRun& run = runs_[index];
        if (run.window == window && !run.ended) {
            run.ended = true;
            run.result = result;
            return true;
        }
    }
    return false;
}

}  // namespace standin

namespace {

standin::WindowSystem& system() {
    return standin::WindowSystem::instance();
}

standin::Window* liveWindow(WindowRef handle) {
    standin::Window* window = system().find(handle);
    return window != nullptr && !window->destroyed ? window : nullptr;
}

}  // namespace

intptr_t runDialog(void* module, uint16_t dialogId, WindowRef owner, DialogProcedure procedure,
                   intptr_t parameter) {
    return system().runDialog(module, dialogId, owner, procedure, parameter);
}

bool endDialog(WindowRef window, intptr_t result) {
    return system().endDialog(window, result);
}

WindowRef activeWindow() {
    return system().activeWindow;
}

WindowRef parentWindow(WindowRef handle) {
    const standin::Window* window = liveWindow(handle);
    return window != nullptr ? window->parent : nullptr;
}

WindowRef desktopWindow() {
    return system().desktop();
}

bool clientRectOnScreen(WindowRef handle, Rect& rect) {
    const standin::Window* window = liveWindow(handle);
    if (window == nullptr) {
        return false;
    }
    rect = window->client;
    return true;
}

bool windowRect(WindowRef handle, Rect& rect) {
    const standin::Window* window = liveWindow(handle);
    if (window == nullptr) {
        return false;
    }
    rect = window->rect;
    return true;
}

uint32_t windowStyle(WindowRef handle) {
    const standin::Window* window = liveWindow(handle);
    return window != nullptr ? window->style : 0;
}

bool moveWindow(WindowRef handle, int32_t x, int32_t y) {
    standin::Window* window = liveWindow(handle);
    if (window == nullptr) {
        return false;
    }
    const int64_t dx = int64_t{x} - window->rect.left;
    const int64_t dy = int64_t{y} - window->rect.top;
    auto shift = [](int32_t value, int64_t by) { return static_cast<int32_t>(value + by); };
    window->rect = Rect{x, y, shift(window->rect.right, dx), shift(window->rect.bottom, dy)};
    window->client = Rect{shift(window->client.left, dx), shift(window->client.top, dy),
                          shift(window->client.right, dx), shift(window->client.bottom, dy)};
    return true;
}

int32_t captionButtonWidth() {
    return system().captionButtonWidth;
}

int32_t screenWidth() {
    return system().screenWidth;
}

int32_t screenHeight() {
    return system().screenHeight;
}

std::u16string loadString(void* module, uint16_t id, std::size_t capacity) {
    const std::u16string* text = system().string(module, id);
    if (text == nullptr || capacity == 0) {
        return {};
    }
    return text->substr(0, capacity - 1);
}

bool setItemText(WindowRef dialog, int item, const std::u16string& text) {
    standin::Window* window = liveWindow(dialog);
    if (window == nullptr) {
        return false;
    }
    auto it = window->items.find(item);
    if (it == window->items.end()) {
        return false;
    }
    it->second = text;
    return true;
}

std::u16string itemText(WindowRef dialog, int item, std::size_t capacity) {
    const standin::Window* window = liveWindow(dialog);
    if (window == nullptr || capacity == 0) {
        return {};
    }
    auto it = window->items.find(item);
    return it == window->items.end() ? std::u16string{} : it->second.substr(0, capacity - 1);
}

intptr_t defaultWindowProcedure(WindowRef window, uint32_t message, uintptr_t, intptr_t) {
    system().recordDefaultProcedure(window, message);
    return 0;
}

}  // namespace quillmesh::ui
