// The options dialog CAdvanced (template 242): the check interval, what
// happens on new mail (sound, animation, the mail program), the start-up
// choices and the paths of the user's own mail program, sound and
// animation. The dialog stores nothing; its caller fills the members before
// the run and stores them after OK (StoreOptions).
//
// The deciding parts (the Browse buttons' filter and initial folder, the
// writes of OK, the table of the values the dialog edits) are free
// functions, so that the Linux front end runs the very same code.
#pragma once

#include "controls/DialogLook.h"
#include "controls/PictureEx.h"
#include "platform/ProfileStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

// The interval box offers 1 ... 30 minutes as the indexes 0 ... 29; any
// other index opens as this one (ten minutes).
inline constexpr int kIntervalChoices = 30;
inline constexpr int kFallbackInterval = 9;

// The Browse buttons' filters, descriptions and patterns separated by '|'.
inline constexpr const char* kMailClientFilter = "Program (*.exe)|*.exe|Alla filer (*.*)|*.*||";
inline constexpr const char* kSoundFilter = "Sound (*.wav)|*.wav|";
inline constexpr const char* kAnimationFilter = "Animation (*.scr)|*.scr|";

// A '|'-separated filter as the file-open dialog takes it: every '|' a NUL,
// the whole ended by two NULs (a trailing "||" or "|" adds none beyond).
std::string TranslateFileFilter(const std::string& barSeparated);

// The folder a Browse button opens in: for a field holding a backslash
// after its first character, the text before its last backslash; for an
// empty field, fallback; otherwise none ("").
std::string BrowseInitialFolder(const std::string& field, const std::string& fallback);

// The values the dialog edits, as OK leaves them.
struct OptionsValues {
    int m_nInterval = -1;
    std::string m_strMailClient;
    std::string m_strSound;
    std::string m_strAnimation;
    int m_bSound = 0;
    int m_bAnimate = 0;
    int m_bAutostart = 1;
    int m_bCheckForUpdates = 1;
    int m_bAutostartEmailProgram = 0;
};

// The registry writes of OK, in their order: "SearchForMail",
// "MyMailClient", "Sound", "Autostart", "AutostartEmailProgram", then the
// autostart entry (writeAutostart), "CheckForUpdates", "Animate", "MySound",
// "MyAnimation". An empty sound or animation path stores the default file.
// Write failures are ignored.
void StoreOptions(port::ProfileStore& store, const OptionsValues& values,
                  const std::string& exePath, const std::function<void(bool)>& writeAutostart);

// The values of section "App" that the dialog edits, one table for every
// front end; last the update check's host and the proxy, which no dialog
// edits.
struct EditableSetting {
    enum class Kind {
        Interval, // integer index 0 ... 29
        Flag,     // integer 0 or 1
        Text,     // any text
        Media,    // a path whose empty text stores the default file
        Host,     // HOST or HOST:PORT, the empty text meaning the maker's host
        Proxy,    // a proxy URL (config/ProxySetting.h), empty for direct
    };
    const char* name;
    Kind kind;
    std::uint32_t defaultNumber; // Interval, Flag
    // Writing it also writes or removes the autostart entry.
    bool autostartEntry;
};

std::span<const EditableSetting> EditableSettings();
const EditableSetting* FindEditableSetting(const std::string& name);

// The value in effect, as text: the stored one or the default (the
// interval as its stored index).
std::string SettingValueInEffect(port::ProfileStore& store, const EditableSetting& setting,
                                 const std::string& exePath);

// What storing text as the value would be refused for ("" when it is
// fine): the interval takes 0 ... 29, flags 0 or 1, the host HOST or
// HOST:PORT (port 1 ... 65535).
std::string SettingValueProblem(const EditableSetting& setting, const std::string& text);

// Stores a value that SettingValueProblem accepts, as OK does for it
// (defaults for empty media paths, the autostart entry for "Autostart").
// False when the store refused the write.
bool StoreSetting(port::ProfileStore& store, const EditableSetting& setting,
                  const std::string& text, const std::string& exePath,
                  const std::function<void(bool)>& writeAutostart);

class CAdvanced : public CLookDialog, public OptionsValues {
public:
    explicit CAdvanced(port::Ui& ui, port::WindowHandle owner = nullptr);
    ~CAdvanced() override;

    // The folders the sound and animation Browse buttons fall back on.
    std::string m_strSoundFolder;
    std::string m_strAnimationFolder;

    std::string m_strCaption;
    CPictureEx m_picture{m_ui}; // static 1133, GIF 301

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    void OnBrowseMailClient();
    void OnBrowseSound();
    void OnBrowseAnimation();
    void OnPlaySound();
    void OnShowExample();
    // Runs the file-open dialog for a field and its edit control.
    void Browse(std::string& field, int editId, const char* filter, const std::string& fallback);
    // true: controls into members; false: members into controls.
    void UpdateData(bool saveAndValidate);
};
