// The window-system services of the dialogs, on Windows: thin wrappers over
// user32.
#include <windows.h>

#include <algorithm>

#include "platform/win32_text.h"
#include "platform/window_system.h"

namespace quillmesh::ui {

namespace {

HWND asWindow(WindowRef window) {
    return static_cast<HWND>(window);
}

void copyRect(const RECT& from, Rect& to) {
    to.left = from.left;
    to.top = from.top;
    to.right = from.right;
    to.bottom = from.bottom;
}

// The dialog procedure has the system's layout (pointer, 32-bit message,
// pointer-sized parameters and result); only the handle type is spelled
// differently. The cast goes through the generic function type.
DLGPROC asDialogProc(DialogProcedure procedure) {
    return reinterpret_cast<DLGPROC>(reinterpret_cast<void (*)()>(procedure));
}

}  // namespace

intptr_t runDialog(void* module, uint16_t dialogId, WindowRef owner, DialogProcedure procedure,
                   intptr_t parameter) {
    return DialogBoxParamW(static_cast<HINSTANCE>(module), MAKEINTRESOURCEW(dialogId),
                           asWindow(owner), asDialogProc(procedure), parameter);
}

bool endDialog(WindowRef window, intptr_t result) {
    return EndDialog(asWindow(window), result) != FALSE;
}

WindowRef activeWindow() {
    return GetActiveWindow();
}

WindowRef parentWindow(WindowRef window) {
    return GetParent(asWindow(window));
}

WindowRef desktopWindow() {
    return GetDesktopWindow();
}

bool clientRectOnScreen(WindowRef window, Rect& rect) {
    RECT client{};
    if (!GetClientRect(asWindow(window), &client)) {
        return false;
    }
    POINT topLeft{client.left, client.top};
    POINT bottomRight{client.right, client.bottom};
    if (!ClientToScreen(asWindow(window), &topLeft) ||
        !ClientToScreen(asWindow(window), &bottomRight)) {
        return false;
    }
    copyRect(RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y}, rect);
    return true;
}

bool windowRect(WindowRef window, Rect& rect) {
    RECT outer{};
    if (!GetWindowRect(asWindow(window), &outer)) {
        return false;
    }
    copyRect(outer, rect);
    return true;
}

uint32_t windowStyle(WindowRef window) {
    return static_cast<uint32_t>(GetWindowLongPtrW(asWindow(window), GWL_STYLE));
}

bool moveWindow(WindowRef window, int32_t x, int32_t y) {
    return SetWindowPos(asWindow(window), nullptr, x, y, 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

int32_t captionButtonWidth() {
    return GetSystemMetrics(SM_CXSIZE);
}

int32_t screenWidth() {
    return GetSystemMetrics(SM_CXSCREEN);
}

int32_t screenHeight() {
    return GetSystemMetrics(SM_CYSCREEN);
}

std::u16string loadString(void* module, uint16_t id, std::size_t capacity) {
    if (capacity == 0) {
        return {};
    }
    const int size = static_cast<int>(std::min<std::size_t>(capacity, INT32_MAX));
    std::wstring buffer(static_cast<std::size_t>(size), L'\0');
    const int length = LoadStringW(static_cast<HINSTANCE>(module), id, buffer.data(), size);
    if (length <= 0) {
        return {};
    }
    buffer.resize(std::min(static_cast<std::size_t>(length), buffer.size() - 1));
    return platform::fromWide(buffer);
}

bool setItemText(WindowRef dialog, int item, const std::u16string& text) {
    return SetDlgItemTextW(asWindow(dialog), item, platform::toWide(text).c_str()) != FALSE;
}

std::u16string itemText(WindowRef dialog, int item, std::size_t capacity) {
    if (capacity == 0) {
        return {};
    }
    const int size = static_cast<int>(std::min<std::size_t>(capacity, INT32_MAX));
    std::wstring buffer(static_cast<std::size_t>(size), L'\0');
    const UINT length = GetDlgItemTextW(asWindow(dialog), item, buffer.data(), size);
    buffer.resize(std::min(static_cast<std::size_t>(length), buffer.size() - 1));
    return platform::fromWide(buffer);
}

intptr_t defaultWindowProcedure(WindowRef window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
    return DefWindowProcW(asWindow(window), message, wParam, lParam);
}

}  // namespace quillmesh::ui
