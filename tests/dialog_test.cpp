// The dialogs against the stand-in window system: the dialog procedure's
// message table, the About box's close and link rules, the About selector end
// to end through our host, and where dialogs are placed.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <string>
#include <vector>

#include "entry/about.h"
#include "entry/dialog.h"
#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "host/host.h"
#include "platform/window_standin.h"

namespace {

using quillmesh::PIAboutBox;
using quillmesh::PIDialog;
namespace ui = quillmesh::ui;
using ui::standin::DialogTemplate;
using ui::standin::Message;
using ui::standin::WindowSystem;

constexpr uint32_t kKeyDown = 0x0100;
constexpr uint32_t kRightButtonDown = 0x0204;
constexpr uint32_t kSetFont = 0x0030;
constexpr uint16_t kAboutId = 16000;

uintptr_t command(int item, int notification) {
    return static_cast<uintptr_t>((notification & 0xFFFF) << 16 | (item & 0xFFFF));
}

// Records every operation the dialog procedure routes to it.
class RecordingDialog : public PIDialog {
  public:
    void onInit() override { ++inits; }
    void onCommand(int item) override { commands.push_back(item); }
    void onMessage(uint32_t message, uintptr_t, intptr_t) override { messages.push_back(message); }

    int inits = 0;
    std::vector<int> commands;
    std::vector<uint32_t> messages;
};

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        system().reset();
        quillmesh::gGlobals.basicSuite = &host.basicSuite();
        quillmesh::gGlobals.pluginRef = host.aboutRecord().pluginRef;
        host.setPluginModules(&module, nullptr);
    }
    void TearDown() override {
        quillmesh::releaseAllSuites();
        quillmesh::setModuleInstance(nullptr);
        system().reset();
    }

    static WindowSystem& system() { return WindowSystem::instance(); }

    // The About template as the module's resources describe it.
    void addAboutTemplate(void* inModule) {
        DialogTemplate about;
        about.width = 366;
        about.height = 163;
        about.items = {{-1, u"Quillmesh Importer"}, {5, u"www.quillmesh.example"}};
        system().addDialogTemplate(inModule, kAboutId, about);
    }

    // Runs `dialog` on a plain template through the shared dialog procedure.
    intptr_t runWith(PIDialog* dialog, std::vector<Message> script) {
        DialogTemplate plain;
        plain.width = 200;
        plain.height = 100;
        plain.items = {{5, u"link"}};
        system().addDialogTemplate(&module, 7, plain);
        system().scriptMessages(std::move(script));
        return ui::runDialog(&module, 7, nullptr, GenericProc, reinterpret_cast<intptr_t>(dialog));
    }

    const ui::standin::DialogRun& lastRun() { return system().runs().back(); }

    qmhost::Host host;
    int module = 0;  // its address is the module handle
};

TEST_F(DialogTest, InitDialogCentresStoresTheWindowAndCallsOnInit) {
    RecordingDialog dialog;
    PIDialog* seenDuringRun = nullptr;
    struct Probe : RecordingDialog {
        PIDialog** seen;
        void onInit() override { *seen = quillmesh::currentDialog; }
    } probe;
    probe.seen = &seenDuringRun;
    runWith(&probe, {});
    EXPECT_EQ(seenDuringRun, &probe);
    EXPECT_EQ(lastRun().initResult, 1);
    EXPECT_EQ(probe.windowHandle(), lastRun().window);
    const ui::standin::Window* window = system().find(lastRun().window);
    ASSERT_NE(window, nullptr);
    // Centred on the 1024 x 768 desktop, no system menu: allowance 18 - 6.
    EXPECT_EQ(window->rect.left, (1024 - 200) / 2 - 12);
    EXPECT_EQ(window->rect.top, (768 - 100) / 3);
    EXPECT_EQ(quillmesh::currentDialog, nullptr) << "cleared when the window is destroyed";
}

TEST_F(DialogTest, InitDialogWithoutAnObjectAnswersFalseAndStillCentres) {
    system().scriptMessages({{kSetFont, 0, 0}});
    DialogTemplate plain;
    plain.width = 100;
    plain.height = 60;
    system().addDialogTemplate(&module, 9, plain);
    EXPECT_EQ(ui::runDialog(&module, 9, nullptr, GenericProc, 0), -1);
    EXPECT_EQ(lastRun().initResult, 0);
    EXPECT_EQ(quillmesh::currentDialog, nullptr);
    EXPECT_EQ(system().find(lastRun().window)->rect.left, (1024 - 100) / 2 - 12);
    // Without a dialog object other messages go to the default procedure.
    ASSERT_EQ(system().defaultProcedureCalls().size(), 1u);
    EXPECT_EQ(system().defaultProcedureCalls()[0].message, kSetFont);
}

TEST_F(DialogTest, CommandsReachTheDialogAndOnlyOkOrCancelClicksEndIt) {
    struct Case {
        const char* what;
        uintptr_t wParam;
        bool ends;
    };
    const Case cases[] = {
        {"OK clicked", command(1, 0), true},
        {"Cancel clicked", command(2, 0), true},
        {"OK with another notification", command(1, 1), false},
        {"Cancel with another notification", command(2, 5), false},
        {"link button", command(5, 0), false},
        {"item 0", command(0, 0), false},
        {"item 0xFFFF", command(0xFFFF, 0), false},
    };
    for (const Case& c : cases) {
        RecordingDialog dialog;
        const intptr_t result = runWith(&dialog, {{ui::kMessageCommand, c.wParam, 0}});
        ASSERT_EQ(dialog.commands.size(), 1u) << c.what;
        EXPECT_EQ(dialog.commands[0], static_cast<int>(c.wParam & 0xFFFF)) << c.what;
        EXPECT_EQ(lastRun().ended, c.ends) << c.what;
        EXPECT_EQ(result, c.ends ? static_cast<intptr_t>(c.wParam & 0xFFFF) : -1) << c.what;
        EXPECT_TRUE(dialog.messages.empty()) << c.what;
    }
}

TEST_F(DialogTest, OtherMessagesGoToOnMessageNotToTheDefaultProcedure) {
    RecordingDialog dialog;
    runWith(&dialog, {{kSetFont, 0, 0}, {ui::kMessageChar, 'x', 0}, {kRightButtonDown, 0, 0}});
    EXPECT_EQ(dialog.messages,
              (std::vector<uint32_t>{kSetFont, ui::kMessageChar, kRightButtonDown}));
    EXPECT_TRUE(system().defaultProcedureCalls().empty());
    EXPECT_EQ(dialog.inits, 1);
}

TEST_F(DialogTest, AboutBoxClosesOnEscapeEnterOrLeftClickOnly) {
    struct Case {
        const char* what;
        Message message;
        bool closes;
    };
    const Case cases[] = {
        {"Escape", {ui::kMessageChar, 27, 0}, true},
        {"Enter", {ui::kMessageChar, 13, 0}, true},
        {"left click", {ui::kMessageLeftButtonDown, 0, 0x00100010}, true},
        {"letter", {ui::kMessageChar, 'q', 0}, false},
        {"space", {ui::kMessageChar, ' ', 0}, false},
        {"Escape as a key-down", {kKeyDown, 27, 0}, false},
        {"right click", {kRightButtonDown, 0, 0}, false},
        {"character 27 + 256", {ui::kMessageChar, 27 + 256, 0}, false},
    };
    for (const Case& c : cases) {
        PIAboutBox box;
        const intptr_t result = runWith(&box, {c.message});
        EXPECT_EQ(lastRun().ended, c.closes) << c.what;
        EXPECT_EQ(result, c.closes ? 0 : -1) << c.what;
    }
}

TEST_F(DialogTest, AboutSelectorShowsDialog16000AndItsLinkKeepsItOpen) {
    addAboutTemplate(&module);
    system().activeWindow = system().createWindow(nullptr, ui::Rect{0, 0, 800, 600}, 0);
    system().scriptMessages({{ui::kMessageCommand, command(5, 0), 0}, {ui::kMessageChar, 27, 0}});

    EXPECT_EQ(host.call(PluginMain, 0), 0);

    ASSERT_EQ(system().runs().size(), 1u);
    const auto& run = lastRun();
    EXPECT_EQ(run.module, &module) << "the template comes from the host's module handle";
    EXPECT_EQ(run.dialogId, kAboutId);
    EXPECT_EQ(run.owner, system().activeWindow);
    EXPECT_EQ(run.messagesHandled, 2u) << "the link click left the box open; Escape closed it";
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(host.browsedUrls(), std::vector<std::string>{"http://www.quillmesh.example"});
    EXPECT_EQ(quillmesh::currentDialog, nullptr);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
    // Centred over its owner: (800 - 366) / 2 - 12 and (600 - 163) / 3.
    EXPECT_EQ(system().find(run.window)->rect.left, 205);
    EXPECT_EQ(system().find(run.window)->rect.top, 145);
}

TEST_F(DialogTest, AboutPrefersTheResourceModuleTheHostNames) {
    int resources = 0;
    host.setPluginModules(&module, &resources);
    addAboutTemplate(&resources);
    system().scriptMessages({{ui::kMessageChar, 13, 0}});
    EXPECT_EQ(host.call(PluginMain, 0), 0);
    ASSERT_EQ(system().runs().size(), 1u);
    EXPECT_EQ(lastRun().module, &resources);
    EXPECT_EQ(lastRun().result, 0);
}

TEST_F(DialogTest, AboutWithoutItsTemplateOrBrowserEndsQuietly) {
    // No template: nothing opens, the selector still succeeds and leaves nothing behind.
    EXPECT_EQ(host.call(PluginMain, 0), 0);
    EXPECT_TRUE(system().runs().empty());
    EXPECT_EQ(quillmesh::currentDialog, nullptr);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();

    // A host without the GetFileList suite: the link does nothing, the box
    // stays open and still closes on Escape.
    addAboutTemplate(&module);
    host.refuseSuite(SUITE_GET_FILE_LIST_NAME);
    system().scriptMessages({{ui::kMessageCommand, command(5, 0), 0}, {ui::kMessageChar, 27, 0}});
    EXPECT_EQ(host.call(PluginMain, 0), 0);
    ASSERT_EQ(system().runs().size(), 1u);
    EXPECT_EQ(lastRun().messagesHandled, 2u);
    EXPECT_EQ(lastRun().result, 0);
    EXPECT_TRUE(host.browsedUrls().empty());
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(DialogTest, AboutTextAndLinkAreCutToTheirBuffers) {
    // A template with item 3 gets string 16000, at most 254 units; item 4
    // links too, its text cut to 255 units.
    DialogTemplate about;
    about.width = 300;
    about.height = 100;
    const std::u16string longAddress(300, u'a');
    about.items = {{3, u"template text"}, {4, longAddress}};
    system().addDialogTemplate(&module, kAboutId, about);
    system().addString(&module, kAboutId, std::u16string(300, u'q'));
    struct Peek : PIAboutBox {
        std::u16string shown;
        void onInit() override {
            PIAboutBox::onInit();
            shown = ui::itemText(windowHandle(), 3, 1000);
        }
    } box;
    system().scriptMessages({{ui::kMessageCommand, command(4, 0), 0}, {ui::kMessageChar, 13, 0}});
    EXPECT_EQ(box.runModal(host.aboutRecord().pluginRef, "Generic About Box", kAboutId), 0);
    EXPECT_EQ(box.shown, std::u16string(254, u'q'));
    ASSERT_EQ(host.browsedUrls().size(), 1u);
    EXPECT_EQ(host.browsedUrls()[0], "http://" + std::string(255, 'a'));
    EXPECT_EQ(box.dialogId(), kAboutId);
    EXPECT_EQ(box.pluginRef(), host.aboutRecord().pluginRef);
}

TEST(CenterDialogTest, PlacesOverTheParentOneThirdDownAndOnTheScreen) {
    struct Case {
        const char* what;
        bool hasParent;
        ui::Rect parent;
        int32_t width, height;
        uint32_t style;
        int32_t captionWidth;
        int32_t x, y;
    };
    const uint32_t sysMenu = ui::kStyleSystemMenu;
    const Case cases[] = {
        {"desktop, no system menu", false, {}, 400, 200, 0, 18, 300, 189},
        {"desktop, system menu", false, {}, 400, 200, sysMenu, 18, 294, 189},
        {"allowance 20 loses 6", false, {}, 400, 200, 0, 20, 298, 189},
        {"wider than the screen", false, {}, 1200, 200, 0, 18, 0, 189},
        {"taller than the screen", false, {}, 300, 900, 0, 18, 350, 0},
        {"odd free width rounds down", false, {}, 423, 200, 0, 18, 288, 189},
        {"over a parent", true, {100, 50, 700, 450}, 200, 100, 0, 18, 288, 150},
        {"parent near the right edge", true, {900, 0, 1300, 400}, 300, 100, 0, 18, 724, 100},
        {"parent near the bottom", true, {0, 600, 400, 1000}, 200, 300, 0, 18, 88, 468},
        {"parent smaller than the dialog", true, {500, 300, 600, 350}, 200, 100, 0, 18, 488, 300},
        {"parent off the left edge", true, {-400, 0, 0, 300}, 100, 100, 0, 18, -262, 66},
    };
    for (const Case& c : cases) {
        WindowSystem& system = WindowSystem::instance();
        system.reset();
        system.captionButtonWidth = c.captionWidth;
        ui::WindowRef parent = c.hasParent ? system.createWindow(nullptr, c.parent, 0) : nullptr;
        ui::WindowRef dialog =
            system.createWindow(parent, ui::Rect{7, 9, 7 + c.width, 9 + c.height}, c.style);
        quillmesh::centerDialog(dialog);
        const ui::Rect& placed = system.find(dialog)->rect;
        EXPECT_EQ(placed.left, c.x) << c.what;
        EXPECT_EQ(placed.top, c.y) << c.what;
        EXPECT_EQ(placed.right - placed.left, c.width) << c.what << ": size kept";
        EXPECT_EQ(placed.bottom - placed.top, c.height) << c.what << ": size kept";
    }
    WindowSystem::instance().reset();
}

}  // namespace

#endif
