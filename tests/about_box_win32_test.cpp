// The About box under Windows (Wine in the test run): the built module opens
// dialog 16000 from its own resources, the dialog closes on Escape, Enter or a
// left click with 0, its web-address button asks the host's browser routine
// for the site and leaves it open, and dialogs are placed on the desktop as
// they should be. A driver thread finds the dialog and works it while the test
// thread sits in the modal loop.
#include <gtest/gtest.h>

#if defined(_WIN32)

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "entry/about.h"
#include "entry/dialog.h"
#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "host/host.h"

namespace {

using namespace std::chrono_literals;

constexpr int16_t kAboutSelector = 0;
constexpr int kWebAddressItem = 5;

struct Observed {
    bool opened = false;
    bool forcedClose = false;  // the driver had to close a dialog that stayed open
    std::wstring buttonText;
    std::wstring staticText;
    RECT rect{};
    LONG_PTR style = 0;
    HWND parent = nullptr;
    bool openAfterAction = false;
    std::vector<std::string> urlsAfterAction;
};

struct Search {
    HWND found = nullptr;
};

BOOL CALLBACK findDialogWindow(HWND window, LPARAM parameter) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) == L"#32770" && IsWindowVisible(window)) {
        reinterpret_cast<Search*>(parameter)->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findStaticText(HWND window, LPARAM parameter) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) == L"Static") {
        wchar_t text[512] = {};
        GetWindowTextW(window, text, 512);
        if (text[0] != L'\0') {
            *reinterpret_cast<std::wstring*>(parameter) = text;
            return FALSE;
        }
    }
    return TRUE;
}

std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

class AboutUnderWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryA(QUILLMESH_MODULE_PATH);
        ASSERT_NE(module, nullptr) << "cannot load " << QUILLMESH_MODULE_PATH;
        entry = reinterpret_cast<PluginMainRoutine>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "PluginMain")));
        ASSERT_NE(entry, nullptr);
        host.setPluginModules(module, nullptr);
        // For the dialog classes linked into this program.
        quillmesh::gGlobals.basicSuite = &host.basicSuite();
    }
    void TearDown() override {
        quillmesh::releaseAllSuites();
        quillmesh::setModuleInstance(nullptr);
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }

    // Runs `show` on this thread while a driver thread waits for the dialog,
    // records what it shows, and does `act` to it. A dialog still open 5 s
    // after `act` is closed (WM_CLOSE) and marked as forced.
    Observed drive(const std::function<void()>& show,
                   const std::function<void(HWND, Observed&)>& act) {
        Observed observed;
        std::atomic<bool> shown{false};
        const DWORD thread = GetCurrentThreadId();
        std::thread driver([&] {
            Search search;
            const auto deadline = std::chrono::steady_clock::now() + 15s;
            while (search.found == nullptr && !shown &&
                   std::chrono::steady_clock::now() < deadline) {
                EnumThreadWindows(thread, findDialogWindow, reinterpret_cast<LPARAM>(&search));
                std::this_thread::sleep_for(20ms);
            }
            const HWND dialog = search.found;
            if (dialog == nullptr) {
                return;
            }
            observed.opened = true;
            observed.buttonText = windowText(GetDlgItem(dialog, kWebAddressItem));
            EnumChildWindows(dialog, findStaticText,
                             reinterpret_cast<LPARAM>(&observed.staticText));
            GetWindowRect(dialog, &observed.rect);
            observed.style = GetWindowLongPtrW(dialog, GWL_STYLE);
            observed.parent = GetParent(dialog);
            act(dialog, observed);
            const auto closeBy = std::chrono::steady_clock::now() + 5s;
            while (IsWindow(dialog) && std::chrono::steady_clock::now() < closeBy) {
                std::this_thread::sleep_for(20ms);
            }
            if (IsWindow(dialog)) {
                observed.forcedClose = true;
                PostMessageW(dialog, WM_CLOSE, 0, 0);
            }
        });
        show();
        shown = true;
        driver.join();
        return observed;
    }

    // Waits a moment and notes whether the dialog is still up, then closes it with Escape.
    std::function<void(HWND, Observed&)> checkStillOpenThenEscape() {
        return [this](HWND dialog, Observed& observed) {
            std::this_thread::sleep_for(300ms);
            observed.openAfterAction = IsWindow(dialog) && IsWindowVisible(dialog);
            observed.urlsAfterAction = host.browsedUrls();
            PostMessageW(dialog, WM_CHAR, 27, 0);
        };
    }

    HMODULE module = nullptr;
    PluginMainRoutine entry = nullptr;
    qmhost::Host host;
};

TEST_F(AboutUnderWindows, AboutSelectorOpensDialog16000FromTheModuleCentredOnTheDesktop) {
    int16_t result = -1;
    const Observed observed =
        drive([&] { result = host.call(entry, kAboutSelector); },
              [](HWND dialog, Observed&) { PostMessageW(dialog, WM_CHAR, 27, 0); });
    ASSERT_TRUE(observed.opened) << "no dialog appeared";
    EXPECT_FALSE(observed.forcedClose);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(observed.buttonText, L"www.quillmesh.example");
    EXPECT_EQ(observed.staticText.rfind(L"Quillmesh Importer\r\n\r\nfor Photoshop CC 2015.\r\n", 0),
              0u)
        << "the template's own text is shown";
    EXPECT_NE(observed.style & WS_CAPTION, WS_CAPTION) << "no caption";
    EXPECT_EQ(observed.style & WS_SYSMENU, 0);
    EXPECT_EQ(observed.parent, nullptr);

    // No parent: centred across the desktop, one third of the free height
    // down, less the caption-button allowance of a dialog without system menu.
    const int width = observed.rect.right - observed.rect.left;
    const int height = observed.rect.bottom - observed.rect.top;
    const int allowance = GetSystemMetrics(SM_CXSIZE) - GetSystemMetrics(SM_CXSIZE) / 3;
    EXPECT_EQ(observed.rect.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2 - allowance);
    EXPECT_EQ(observed.rect.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 3);
    EXPECT_EQ(quillmesh::currentDialog, nullptr);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(AboutUnderWindows, EscapeEnterAndALeftClickEachEndTheBoxWithZero) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Case cases[] = {
        {"Escape", WM_CHAR, 27, 0},
        {"Enter", WM_CHAR, 13, 0},
        {"left click", WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 8)},
    };
    for (const Case& c : cases) {
        quillmesh::PIAboutBox box;
        intptr_t result = -7;
        const Observed observed = drive(
            [&] {
                result = box.runModal(host.aboutRecord().pluginRef, "Generic About Box", 16000);
            },
            [&](HWND dialog, Observed&) { PostMessageW(dialog, c.message, c.wParam, c.lParam); });
        ASSERT_TRUE(observed.opened) << c.what;
        EXPECT_FALSE(observed.forcedClose) << c.what;
        EXPECT_EQ(result, 0) << c.what;
    }
}

TEST_F(AboutUnderWindows, OtherKeysLeaveTheBoxOpen) {
    quillmesh::PIAboutBox box;
    intptr_t result = -7;
    const Observed observed = drive(
        [&] { result = box.runModal(host.aboutRecord().pluginRef, "Generic About Box", 16000); },
        [&](HWND dialog, Observed& seen) {
            PostMessageW(dialog, WM_CHAR, 'q', 0);
            PostMessageW(dialog, WM_RBUTTONDOWN, 0, MAKELPARAM(8, 8));
            checkStillOpenThenEscape()(dialog, seen);
        });
    ASSERT_TRUE(observed.opened);
    EXPECT_TRUE(observed.openAfterAction);
    EXPECT_FALSE(observed.forcedClose);
    EXPECT_EQ(result, 0);
}

TEST_F(AboutUnderWindows, WebAddressButtonOpensTheSiteAndLeavesTheBoxOpen) {
    int16_t result = -1;
    const Observed observed =
        drive([&] { result = host.call(entry, kAboutSelector); },
              [&](HWND dialog, Observed& seen) {
                  SendMessageW(GetDlgItem(dialog, kWebAddressItem), BM_CLICK, 0, 0);
                  checkStillOpenThenEscape()(dialog, seen);
              });
    ASSERT_TRUE(observed.opened);
    EXPECT_TRUE(observed.openAfterAction) << "the link click must not close the box";
    EXPECT_EQ(observed.urlsAfterAction, std::vector<std::string>{"http://www.quillmesh.example"});
    EXPECT_EQ(observed.buttonText, L"www.quillmesh.example");
    EXPECT_FALSE(observed.forcedClose);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(host.browsedUrls().size(), 1u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST(CenterDialogUnderWindows, ParentlessWindowsSitOnTheDesktopAndNeverLeftOfIt) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int caption = GetSystemMetrics(SM_CXSIZE);
    struct Case {
        const char* what;
        int width, height;
        DWORD style;
        int x, y;
    };
    const Case cases[] = {
        {"no system menu", 300, 120, WS_POPUP, (screenWidth - 300) / 2 - (caption - caption / 3),
         (screenHeight - 120) / 3},
        {"system menu", 300, 120, WS_POPUP | WS_SYSMENU, (screenWidth - 300) / 2 - caption,
         (screenHeight - 120) / 3},
        {"wider than the screen", screenWidth + 300, 120, WS_POPUP, 0, (screenHeight - 120) / 3},
        {"taller than the screen", 300, screenHeight + 50, WS_POPUP,
         (screenWidth - 300) / 2 - (caption - caption / 3), 0},
    };
    for (const Case& c : cases) {
        HWND window = CreateWindowExW(0, L"STATIC", L"", c.style, 40, 30, c.width, c.height,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr) << c.what;
        quillmesh::centerDialog(window);
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.left, c.x) << c.what;
        EXPECT_EQ(rect.top, c.y) << c.what;
        EXPECT_EQ(rect.right - rect.left, c.width) << c.what;
        DestroyWindow(window);
    }
}

}  // namespace

#endif
