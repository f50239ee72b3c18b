// The options dialog and the main window's "Settings..." command on the
// headless window system: what the dialog shows, the Browse buttons with
// their filters and folders, Play and Example, the writes of OK in their
// order, the autostart entry and the check timer, and Cancel; then the
// table of editable values that the Linux front end shares.
#include "config/OptionsDialog.h"

#include "config/Settings.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/Autostart.h"
#include "platform/Paths.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/CyclesDlg.h"
#include "support/MemoryProfileStore.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using tavlo::test::MemoryProfileStore;
using Lines = std::vector<std::string>;

constexpr unsigned kMinute = 60000;

using tavlo::test::CyclesDlg;

// What the dialog showed when it opened.
struct Shown {
    std::string caption, interval, mailClient, sound, animation;
    int intervalCount = 0;
    bool autostart = false;
};

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_appName = port::ApplicationName();
        port::SetAutostartEntry(m_appName, "", false);
    }
    void TearDown() override { port::SetAutostartEntry(m_appName, "", false); }

    void Start() {
        m_dlg.emplace(m_app, m_ui);
        m_hWnd = m_ui.OpenDialog(IDD_VESK_DIALOG, &*m_dlg, nullptr);
    }

    // Runs "Settings..." while the user does `act` in the open dialog and
    // then presses `button`.
    void RunSettings(const std::function<void(port::WindowHandle)>& act, int button = port::kIdOk) {
        bool done = false;
        m_ui.SetIdleHandler([&] {
            const port::WindowHandle dialog = m_ui.FindDialogOfTemplate(IDD_ADVANCED);
            if (done || dialog == nullptr)
                return;
            done = true;
            m_shown = Shown{m_ui.GetWindowText(dialog),
                            m_ui.GetItemText(dialog, IDC_ADV_INTERVAL),
                            m_ui.GetItemText(dialog, IDC_ADV_MAIL_CLIENT),
                            m_ui.GetItemText(dialog, IDC_ADV_SOUND_FILE),
                            m_ui.GetItemText(dialog, IDC_ADV_ANIMATION_FILE),
                            m_ui.ListGetCount(dialog, IDC_ADV_INTERVAL),
                            m_ui.IsItemChecked(dialog, IDC_ADV_AUTOSTART)};
            if (act)
                act(dialog);
            m_ui.PressButton(dialog, button);
        });
        m_ui.SendMessage(m_hWnd, port::kWmCommand, port::MakeCommandParam(ID_SETTINGS), 0);
        m_ui.SetIdleHandler(nullptr);
        ASSERT_TRUE(done) << "the options dialog did not open";
    }

    std::string SoundDefault() const {
        return GetSoundFolder(port::ExecutablePath()) + kDefaultSoundFile;
    }
    std::string AnimationDefault() const {
        return GetAnimationFolder(port::ExecutablePath()) + kDefaultAnimationFile;
    }

    tavlo::test::TempDir m_config;
    tavlo::test::ScopedEnvironmentVariable m_xdg{"XDG_CONFIG_HOME", m_config.path()};
    std::string m_appName;
    MemoryProfileStore m_store;
    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    CVeskApp m_app{m_store, m_ui, "tavlo"};
    std::optional<CyclesDlg> m_dlg;
    port::WindowHandle m_hWnd = nullptr;
    std::optional<Shown> m_shown;
};

TEST_F(OptionsDialogTest, OpensWithTheEnglishTextsTheThirtyChoicesAndThePicturePlaying) {
    CAdvanced dialog(m_ui);
    dialog.m_strCaption = "Settings";
    bool playing = false;
    std::vector<std::pair<int, std::string>> texts;
    std::string first, last;
    m_ui.SetIdleHandler([&] {
        const port::WindowHandle hwnd = m_ui.FindDialogOfTemplate(IDD_ADVANCED);
        if (hwnd == nullptr || !texts.empty())
            return;
        for (const int id : {IDC_ADV_STARTUP_GROUP, IDC_ADV_INTERVAL_LABEL, IDC_ADV_PLAY,
                             IDC_ADV_EXAMPLE, static_cast<int>(port::kIdCancel)})
            texts.emplace_back(id, m_ui.GetItemText(hwnd, id));
        texts.emplace_back(0, m_ui.GetWindowText(hwnd));
        first = m_ui.ListGetText(hwnd, IDC_ADV_INTERVAL, 0);
        last = m_ui.ListGetText(hwnd, IDC_ADV_INTERVAL, 29);
        playing = dialog.m_picture.IsAnimationRunning();
        m_ui.PressButton(hwnd, port::kIdCancel);
    });
    EXPECT_EQ(dialog.DoModal(), port::kIdCancel);
    m_ui.SetIdleHandler(nullptr);
    const std::vector<std::pair<int, std::string>> expected{
        {IDC_ADV_STARTUP_GROUP, "Startup"},
        {IDC_ADV_INTERVAL_LABEL, "Check for new mail every"},
        {IDC_ADV_PLAY, "Play"},
        {IDC_ADV_EXAMPLE, "Example"},
        {port::kIdCancel, "Cancel"},
        {0, "Settings"}};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(first, "1");
    EXPECT_EQ(last, "30");
    EXPECT_TRUE(playing) << "the picture does not play while the dialog is open";
    EXPECT_FALSE(dialog.m_picture.IsAnimationRunning()) << "the picture outlived the dialog";
    // An interval outside the choices became ten minutes.
    EXPECT_EQ(dialog.m_nInterval, 9);
}

struct IntervalCase {
    std::uint32_t stored;
    std::string shown;
    int choose; // -1: leave the selection; -2: select nothing
    std::uint32_t written;
    unsigned period;
};

TEST_F(OptionsDialogTest, IntervalIsCorrectedStoredAndRestartsTheTimerWithoutACheck) {
    const IntervalCase cases[] = {
        {45, "10", -1, 9, 10 * kMinute},
        {0xFFFFFFFFu, "10", -1, 9, 10 * kMinute},
        {4, "5", 29, 29, 30 * kMinute},
        {9, "10", 0, 0, 1 * kMinute},
        // No selection at all keeps the shown choice rather than a period of 0.
        {6, "7", -2, 6, 7 * kMinute},
    };
    for (const IntervalCase& c : cases) {
        SCOPED_TRACE(c.stored);
        m_store.SetInt("App", "SearchForMail", c.stored);
        Start();
        m_ui.Advance(3 * kMinute); // the first check has run
        const std::size_t cyclesBefore = m_dlg->cycles.size();
        RunSettings([&](port::WindowHandle dialog) {
            if (c.choose != -1)
                m_ui.ListSetCurSel(dialog, IDC_ADV_INTERVAL, c.choose < 0 ? -1 : c.choose);
        });
        EXPECT_EQ(m_shown->interval, c.shown);
        EXPECT_EQ(m_shown->intervalCount, 30);
        EXPECT_EQ(m_store.StoredInt("App", "SearchForMail"), c.written);
        EXPECT_EQ(m_dlg->m_nCheckInterval, static_cast<int>(c.written));
        EXPECT_EQ(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck), c.period);
        EXPECT_EQ(m_ui.TimerDue(m_hWnd, CVeskDlg::kTimerCheck), m_ui.Now() + c.period);
        m_ui.RunPending();
        EXPECT_EQ(m_dlg->cycles.size(), cyclesBefore) << "a check ran at once";
        m_ui.DestroyWindow(m_hWnd);
        m_dlg.reset();
    }
}

TEST_F(OptionsDialogTest, ClearedMediaPathsStoreTheDefaultFiles) {
    m_store.SetString("App", "MySound", "D:\\Own\\ding.wav");
    m_store.SetString("App", "MyAnimation", "D:\\Own\\show.scr");
    Start();
    RunSettings([&](port::WindowHandle dialog) {
        m_ui.SetItemText(dialog, IDC_ADV_SOUND_FILE, "");
        m_ui.SetItemText(dialog, IDC_ADV_ANIMATION_FILE, "");
    });
    EXPECT_EQ(m_shown->sound, "D:\\Own\\ding.wav");
    EXPECT_EQ(m_shown->animation, "D:\\Own\\show.scr");
    EXPECT_EQ(m_store.StoredString("App", "MySound"), SoundDefault());
    EXPECT_EQ(m_store.StoredString("App", "MyAnimation"), AnimationDefault());
}

TEST_F(OptionsDialogTest, OkWritesTheValuesInTheirOrderWithTheAutostartEntryAfterTheFifth) {
    m_store.SetInt("App", "Autostart", 0);
    Start();
    m_store.ClearLog();
    RunSettings([&](port::WindowHandle dialog) {
        m_ui.SetItemText(dialog, IDC_ADV_MAIL_CLIENT, "C:\\Mail\\mail.exe");
        for (const int id : {IDC_ADV_SOUND, IDC_ADV_AUTOSTART, IDC_ADV_START_MAIL_PROGRAM})
            m_ui.PressButton(dialog, id);
    });
    Lines names;
    for (const MemoryProfileStore::Access& write : m_store.Writes())
        names.push_back(write.name);
    EXPECT_EQ(names,
              (Lines{"SearchForMail", "MyMailClient", "Sound", "Autostart", "AutostartEmailProgram",
                     "CheckForUpdates", "Animate", "MySound", "MyAnimation"}));
    EXPECT_EQ(m_store.StoredString("App", "MyMailClient"), "C:\\Mail\\mail.exe");
    EXPECT_EQ(m_store.StoredInt("App", "Sound"), 0u);
    EXPECT_EQ(m_store.StoredInt("App", "Autostart"), 1u);
    EXPECT_EQ(m_store.StoredInt("App", "AutostartEmailProgram"), 1u);
    EXPECT_EQ(m_store.StoredInt("App", "CheckForUpdates"), 1u);
    EXPECT_EQ(m_dlg->m_bSound, 0);
    EXPECT_EQ(m_dlg->m_bAutostart, 1);
    EXPECT_TRUE(m_dlg->m_bAutostartEmailProgram);
    std::string command;
    EXPECT_TRUE(port::GetAutostartEntry(m_appName, command)) << "the entry was not written";

    // The entry comes between the fifth and the sixth write.
    MemoryProfileStore store;
    std::size_t writesAtEntry = 0;
    OptionsValues values;
    values.m_nInterval = 3;
    StoreOptions(store, values, port::ExecutablePath(),
                 [&](bool) { writesAtEntry = store.Writes().size(); });
    EXPECT_EQ(writesAtEntry, 5u);
}

TEST_F(OptionsDialogTest, UntickingAutostartRemovesTheEntryAtOnceAndCancelLeavesEverything) {
    m_store.SetInt("App", "Autostart", 1);
    Start();
    std::string command;
    ASSERT_TRUE(port::GetAutostartEntry(m_appName, command));
    const auto period = m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck);
    const auto due = m_ui.TimerDue(m_hWnd, CVeskDlg::kTimerCheck);

    // Cancel after changing everything: no write, the entry and the timer stay.
    m_store.ClearLog();
    RunSettings(
        [&](port::WindowHandle dialog) {
            m_ui.ListSetCurSel(dialog, IDC_ADV_INTERVAL, 29);
            m_ui.SetItemText(dialog, IDC_ADV_SOUND_FILE, "");
            for (const int id : {IDC_ADV_AUTOSTART, IDC_ADV_SOUND, IDC_ADV_ANIMATE})
                m_ui.PressButton(dialog, id);
        },
        port::kIdCancel);
    EXPECT_TRUE(m_shown->autostart);
    EXPECT_TRUE(m_store.Writes().empty());
    EXPECT_TRUE(port::GetAutostartEntry(m_appName, command));
    EXPECT_EQ(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck), period);
    EXPECT_EQ(m_ui.TimerDue(m_hWnd, CVeskDlg::kTimerCheck), due);
    EXPECT_EQ(m_dlg->m_bAutostart, 1);
    EXPECT_EQ(m_dlg->m_nCheckInterval, 9);

    RunSettings([&](port::WindowHandle dialog) { m_ui.PressButton(dialog, IDC_ADV_AUTOSTART); });
    EXPECT_FALSE(port::GetAutostartEntry(m_appName, command)) << "the entry is still there";
    EXPECT_EQ(m_store.StoredInt("App", "Autostart"), 0u);
    EXPECT_EQ(m_dlg->m_bAutostart, 0);
}

TEST_F(OptionsDialogTest, PlayAndExampleUseThePathsAsLastTransferred) {
    m_store.SetString("App", "MySound", "C:\\Old\\old.wav");
    m_store.SetString("App", "MyAnimation", "C:\\Old\\old.scr");
    m_ui.SetFileOpenAnswer("C:\\Chosen\\chosen.wav");
    Start();
    m_ui.ClearEvents();
    RunSettings(
        [&](port::WindowHandle dialog) {
            m_ui.SetItemText(dialog, IDC_ADV_SOUND_FILE, "C:\\Typed\\typed.wav");
            m_ui.SetItemText(dialog, IDC_ADV_ANIMATION_FILE, "C:\\Typed\\typed.scr");
            m_ui.PressButton(dialog, IDC_ADV_PLAY);
            m_ui.PressButton(dialog, IDC_ADV_EXAMPLE);
            // Browse takes the fields and puts the chosen file in the member.
            m_ui.PressButton(dialog, IDC_ADV_BROWSE_SOUND);
            m_ui.PressButton(dialog, IDC_ADV_PLAY);
            m_ui.PressButton(dialog, IDC_ADV_EXAMPLE);
        },
        port::kIdCancel);
    Lines sounds, opened;
    for (const auto& event : m_ui.EventsOf(EventKind::Sound))
        sounds.push_back(event.text);
    for (const auto& event : m_ui.EventsOf(EventKind::ShellOpen))
        opened.push_back(event.text);
    EXPECT_EQ(sounds, (Lines{"C:\\Old\\old.wav", "C:\\Chosen\\chosen.wav"}));
    EXPECT_EQ(opened, (Lines{"C:\\Old\\old.scr", "C:\\Typed\\typed.scr"}));
}

struct BrowseCase {
    const char* what;
    int button;
    int field;
    std::string text;
    std::string answer; // "" cancels
    std::string folder;
    std::string filter;
    const char* value;  // stored by OK
    std::string stored; // "" : the field's text stays
};

TEST_F(OptionsDialogTest, BrowseOpensInTheRightFolderAndOnlyAChosenFileChangesTheField) {
    const std::string nul(1, '\0');
    const std::string exeFilter =
        "Program (*.exe)" + nul + "*.exe" + nul + "Alla filer (*.*)" + nul + "*.*" + nul + nul;
    const std::string wavFilter = "Sound (*.wav)" + nul + "*.wav" + nul + nul;
    const std::string scrFilter = "Animation (*.scr)" + nul + "*.scr" + nul + nul;
    const std::string exe = port::ExecutablePath();
    const BrowseCase cases[] = {
        {"empty mail client: the root", IDC_ADV_BROWSE_MAIL_CLIENT, IDC_ADV_MAIL_CLIENT, "",
         "C:\\Mail\\m.exe", "C:\\", exeFilter, "MyMailClient", "C:\\Mail\\m.exe"},
        {"sound in a folder", IDC_ADV_BROWSE_SOUND, IDC_ADV_SOUND_FILE, "D:\\Media\\Bell\\b.wav",
         "D:\\x.wav", "D:\\Media\\Bell", wavFilter, "MySound", "D:\\x.wav"},
        {"sound without a folder", IDC_ADV_BROWSE_SOUND, IDC_ADV_SOUND_FILE, "b.wav", "", "",
         wavFilter, "MySound", "b.wav"},
        {"only a leading backslash", IDC_ADV_BROWSE_SOUND, IDC_ADV_SOUND_FILE, "\\b.wav", "", "",
         wavFilter, "MySound", "\\b.wav"},
        {"empty sound: the sound folder", IDC_ADV_BROWSE_SOUND, IDC_ADV_SOUND_FILE, "", "",
         GetSoundFolder(exe), wavFilter, "MySound", SoundDefault()},
        {"empty animation: the animation folder", IDC_ADV_BROWSE_ANIMATION, IDC_ADV_ANIMATION_FILE,
         "", "E:\\a.scr", GetAnimationFolder(exe), scrFilter, "MyAnimation", "E:\\a.scr"},
        {"cancelled animation", IDC_ADV_BROWSE_ANIMATION, IDC_ADV_ANIMATION_FILE, "E:\\Old\\o.scr",
         "", "E:\\Old", scrFilter, "MyAnimation", "E:\\Old\\o.scr"},
    };
    Start();
    for (const BrowseCase& c : cases) {
        SCOPED_TRACE(c.what);
        m_ui.SetFileOpenAnswer(c.answer);
        const std::size_t calls = m_ui.FileOpenCalls().size();
        std::string shownAfter;
        RunSettings([&](port::WindowHandle dialog) {
            m_ui.SetItemText(dialog, c.field, c.text);
            m_ui.PressButton(dialog, c.button);
            shownAfter = m_ui.GetItemText(dialog, c.field);
        });
        ASSERT_EQ(m_ui.FileOpenCalls().size(), calls + 1);
        const port::headless::FileOpenCall& call = m_ui.FileOpenCalls().back();
        EXPECT_EQ(call.initialFolder, c.folder);
        EXPECT_EQ(call.filter, c.filter);
        EXPECT_EQ(shownAfter, c.answer.empty() ? c.text : c.answer);
        EXPECT_EQ(m_store.StoredString("App", c.value), c.stored);
    }
}

TEST(OptionsHelpers, FilterTranslationEndsWithTwoNuls) {
    const std::string nul(1, '\0');
    const std::pair<std::string, std::string> cases[] = {
        {"A|*.a||", "A" + nul + "*.a" + nul + nul},
        {"A|*.a|", "A" + nul + "*.a" + nul + nul},
        {"A|*.a", "A" + nul + "*.a" + nul + nul},
        {"", nul + nul},
    };
    for (const auto& [bars, expected] : cases)
        EXPECT_EQ(TranslateFileFilter(bars), expected) << bars;
}

TEST(OptionsHelpers, EditableValuesTheirEffectAndTheirChecks) {
    Lines names;
    for (const EditableSetting& s : EditableSettings())
        names.push_back(s.name);
    EXPECT_EQ(names, (Lines{"SearchForMail", "Sound", "Animate", "Autostart", "CheckForUpdates",
                            "AutostartEmailProgram", "MyMailClient", "MySound", "MyAnimation",
                            "UpdateHost", "Proxy"}));
    EXPECT_EQ(FindEditableSetting("Minimized"), nullptr);

    const std::string exe = "C:\\Apps\\Tavlo\\Tavlo.exe";
    MemoryProfileStore store;
    store.SetInt("App", "Sound", 2); // on only at 1
    store.SetInt("App", "Autostart", 2);
    const std::pair<std::string, std::string> effect[] = {
        {"SearchForMail", "9"},
        {"Sound", "0"},
        {"Autostart", "1"},
        {"AutostartEmailProgram", "0"},
        {"MyMailClient", ""},
        {"MySound", GetSoundFolder(exe) + "Pling.wav"},
        {"MyAnimation", GetAnimationFolder(exe) + "Tavlo.scr"},
        {"UpdateHost", "www.tavlo.se"},
    };
    for (const auto& [name, value] : effect)
        EXPECT_EQ(SettingValueInEffect(store, *FindEditableSetting(name), exe), value) << name;

    struct Check {
        const char* name;
        const char* text;
        bool fine;
    };
    const Check checks[] = {
        {"SearchForMail", "0", true},
        {"SearchForMail", "29", true},
        {"SearchForMail", "30", false},
        {"SearchForMail", "-1", false},
        {"SearchForMail", "", false},
        {"SearchForMail", "1x", false},
        {"Sound", "1", true},
        {"Sound", "2", false},
        {"Autostart", "yes", false},
        {"MySound", "", true},
        {"MyMailClient", "a\nb", false},
        {"UpdateHost", "", true},
        {"UpdateHost", "updates.example.org", true},
        {"UpdateHost", "127.0.0.1:8080", true},
        {"UpdateHost", "host:1", true},
        {"UpdateHost", "host:65535", true},
        {"UpdateHost", "host:0", false},
        {"UpdateHost", "host:65536", false},
        {"UpdateHost", "host:", false},
        {"UpdateHost", ":80", false},
        {"UpdateHost", "host:+80", false},
        {"UpdateHost", "host:80:81", false},
        {"UpdateHost", "host/path", false},
        {"UpdateHost", "user@host", false},
        {"UpdateHost", "http://host", false},
        {"UpdateHost", "a b", false},
        {"UpdateHost", "host\n", false},
    };
    for (const Check& c : checks) {
        EXPECT_EQ(SettingValueProblem(*FindEditableSetting(c.name), c.text).empty(), c.fine)
            << c.name << "=" << c.text;
    }

    std::vector<bool> entries;
    const auto entry = [&](bool enable) { entries.push_back(enable); };
    EXPECT_TRUE(StoreSetting(store, *FindEditableSetting("MySound"), "", exe, entry));
    EXPECT_EQ(store.StoredString("App", "MySound"), GetSoundFolder(exe) + "Pling.wav");
    EXPECT_TRUE(StoreSetting(store, *FindEditableSetting("Autostart"), "0", exe, entry));
    EXPECT_TRUE(StoreSetting(store, *FindEditableSetting("Sound"), "1", exe, entry));
    EXPECT_EQ(store.StoredInt("App", "Autostart"), 0u);
    EXPECT_EQ(store.StoredInt("App", "Sound"), 1u);
    EXPECT_EQ(entries, std::vector<bool>{false});
    // The update host is kept as given; empty again means the maker's host.
    EXPECT_TRUE(
        StoreSetting(store, *FindEditableSetting("UpdateHost"), "127.0.0.1:8080", exe, entry));
    EXPECT_EQ(store.StoredString("App", "UpdateHost"), "127.0.0.1:8080");
    EXPECT_EQ(SettingValueInEffect(store, *FindEditableSetting("UpdateHost"), exe),
              "127.0.0.1:8080");
    EXPECT_TRUE(StoreSetting(store, *FindEditableSetting("UpdateHost"), "", exe, entry));
    EXPECT_EQ(SettingValueInEffect(store, *FindEditableSetting("UpdateHost"), exe), "www.tavlo.se");
}

} // namespace
