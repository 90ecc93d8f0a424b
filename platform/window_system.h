// The few window-system services the module's dialogs use. On Windows they are
// the system's own (window_system_win32.cpp); elsewhere a small in-process
// stand-in (window_system_posix.cpp, controlled through window_standin.h) lets
// the same dialog code run and be tested.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hostapi/host_api.h"

namespace quillmesh::ui {

// A window handle as the system gives it.
using WindowRef = void*;

// A dialog procedure: window, message, the message's two parameters.
using DialogProcedure = intptr_t(HOSTAPI_CALL*)(WindowRef window, uint32_t message,
                                                uintptr_t wParam, intptr_t lParam);

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Message numbers and style bits, as the system defines them.
inline constexpr uint32_t kMessageDestroy = 0x0002;
inline constexpr uint32_t kMessageChar = 0x0102;
inline constexpr uint32_t kMessageInitDialog = 0x0110;
inline constexpr uint32_t kMessageCommand = 0x0111;
inline constexpr uint32_t kMessageLeftButtonDown = 0x0201;
inline constexpr uint32_t kStyleSystemMenu = 0x00080000;

// Runs dialog template `dialogId` of `module` modally, owned by `owner`, with
// `procedure` and creation parameter `parameter`. The dialog's result, or -1
// when it cannot be created.
intptr_t runDialog(void* module, uint16_t dialogId, WindowRef owner, DialogProcedure procedure,
                   intptr_t parameter);
// Ends the modal dialog `window` with `result`.
bool endDialog(WindowRef window, intptr_t result);

// The window active in this thread, or null.
WindowRef activeWindow();
// The window's parent (or owner), or null.
WindowRef parentWindow(WindowRef window);
WindowRef desktopWindow();

// The window's client area in screen coordinates.
bool clientRectOnScreen(WindowRef window, Rect& rect);
// The window's outer rectangle in screen coordinates.
bool windowRect(WindowRef window, Rect& rect);
uint32_t windowStyle(WindowRef window);
// Moves the window to (x, y) in screen coordinates, keeping its size and its
// place in the window order.
bool moveWindow(WindowRef window, int32_t x, int32_t y);

// System metrics: the width of a caption button and the screen size.
int32_t captionButtonWidth();
int32_t screenWidth();
int32_t screenHeight();

// String `id` of `module`'s string table, at most `capacity` - 1 units.
std::u16string loadString(void* module, uint16_t id, std::size_t capacity);
bool setItemText(WindowRef dialog, int item, const std::u16string& text);
// The text of a dialog item, at most `capacity` - 1 units; empty when there
// is no such item.
std::u16string itemText(WindowRef dialog, int item, std::size_t capacity);

// The system's default handling of a message.
intptr_t defaultWindowProcedure(WindowRef window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);

}  // namespace quillmesh::ui
