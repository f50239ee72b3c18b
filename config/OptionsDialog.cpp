#include "config/OptionsDialog.h"

#include "config/ProxySetting.h"
#include "config/Settings.h"
#include "controls/DialogLook.h"
#include "res/resource.h"

#include <utility>

namespace {

// The English texts that replace the template's placeholders.
constexpr ControlText kControlTexts[] = {
    {IDC_ADV_STARTUP_GROUP, "Startup"},
    {IDC_ADV_AUTOSTART, "Start Tavlo when I start Windows"},
    {IDC_ADV_CHECK_UPDATES, "Check for updates automatically"},
    {IDC_ADV_MAIL_GROUP, "E-mail"},
    {IDC_ADV_INTERVAL_LABEL, "Check for new mail every"},
    {IDC_ADV_MINUTES_LABEL, "minutes"},
    {IDC_ADV_START_MAIL_PROGRAM, "Start mail program when new messages arrive"},
    {IDC_ADV_MAIL_CLIENT_LABEL, "Use a specific e-mail client:"},
    {IDC_ADV_BROWSE_MAIL_CLIENT, "Browse"},
    {IDC_ADV_NOTIFY_GROUP, "Notification"},
    {IDC_ADV_SOUND, "Play sound when new messages arrive"},
    {IDC_ADV_BROWSE_SOUND, "Browse"},
    {IDC_ADV_PLAY, "Play"},
    {IDC_ADV_ANIMATE, "Show animation when new messages arrive"},
    {IDC_ADV_BROWSE_ANIMATION, "Browse"},
    {IDC_ADV_EXAMPLE, "Example"},
    {port::kIdCancel, "Cancel"},
};

// The root folder offered for the mail program when its field is empty.
constexpr const char* kRootFolder = "C:\\";

constexpr EditableSetting kEditableSettings[] = {
    {kValueSearchForMail, EditableSetting::Kind::Interval, kDefaultSearchForMail, false},
    {kValueSound, EditableSetting::Kind::Flag, kDefaultSound, false},
    {kValueAnimate, EditableSetting::Kind::Flag, kDefaultAnimate, false},
    {kValueAutostart, EditableSetting::Kind::Flag, kDefaultAutostart, true},
    {kValueCheckForUpdates, EditableSetting::Kind::Flag, kDefaultCheckForUpdates, false},
    {kValueAutostartEmailProgram, EditableSetting::Kind::Flag, kDefaultAutostartEmailProgram,
     false},
    {kValueMyMailClient, EditableSetting::Kind::Text, 0, false},
    {kValueMySound, EditableSetting::Kind::Media, 0, false},
    {kValueMyAnimation, EditableSetting::Kind::Media, 0, false},
    {kValueUpdateHost, EditableSetting::Kind::Host, 0, false},
    {kValueProxy, EditableSetting::Kind::Proxy, 0, false},
};

// The default file of a media value, in the program's sub-folder.
std::string DefaultMediaPath(const std::string& name, const std::string& exePath) {
    if (name == kValueMySound)
        return GetSoundFolder(exePath) + kDefaultSoundFile;
    return GetAnimationFolder(exePath) + kDefaultAnimationFile;
}

// A media path as stored: an empty one becomes the default file.
bool WriteMedia(port::ProfileStore& store, const char* name, const std::string& path,
                const std::string& exePath) {
    return store.WriteString(kSectionApp, name,
                             path.empty() ? DefaultMediaPath(name, exePath) : path);
}

bool WriteNumber(port::ProfileStore& store, const char* name, int value) {
    return store.WriteInt(kSectionApp, name, static_cast<std::uint32_t>(value));
}

// Decimal digits only, without sign or spaces, as a small number.
std::optional<std::uint32_t> ParseSmallNumber(const std::string& text) {
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

} // namespace

std::string TranslateFileFilter(const std::string& barSeparated) {
    std::string filter = barSeparated;
    for (char& c : filter) {
        if (c == '|')
            c = '\0';
    }
    // Two NULs end the list, whether or not the text ended in bars.
    while (filter.size() < 2 || filter[filter.size() - 1] != '\0' ||
           filter[filter.size() - 2] != '\0')
        filter += '\0';
    return filter;
}

std::string BrowseInitialFolder(const std::string& field, const std::string& fallback) {
    if (field.empty())
        return fallback;
    const std::string::size_type last = field.rfind('\\');
    if (last == std::string::npos || last == 0)
        return std::string();
    return field.substr(0, last);
}

void StoreOptions(port::ProfileStore& store, const OptionsValues& values,
                  const std::string& exePath, const std::function<void(bool)>& writeAutostart) {
    WriteNumber(store, kValueSearchForMail, values.m_nInterval);
    store.WriteString(kSectionApp, kValueMyMailClient, values.m_strMailClient);
    WriteNumber(store, kValueSound, values.m_bSound);
    WriteNumber(store, kValueAutostart, values.m_bAutostart);
    WriteNumber(store, kValueAutostartEmailProgram, values.m_bAutostartEmailProgram != 0 ? 1 : 0);
    writeAutostart(values.m_bAutostart != 0);
    WriteNumber(store, kValueCheckForUpdates, values.m_bCheckForUpdates);
    WriteNumber(store, kValueAnimate, values.m_bAnimate);
    WriteMedia(store, kValueMySound, values.m_strSound, exePath);
    WriteMedia(store, kValueMyAnimation, values.m_strAnimation, exePath);
}

std::span<const EditableSetting> EditableSettings() {
    return kEditableSettings;
}

const EditableSetting* FindEditableSetting(const std::string& name) {
    for (const EditableSetting& setting : kEditableSettings) {
        if (name == setting.name)
            return &setting;
    }
    return nullptr;
}

std::string SettingValueInEffect(port::ProfileStore& store, const EditableSetting& setting,
                                 const std::string& exePath) {
    switch (setting.kind) {
    case EditableSetting::Kind::Interval:
        return std::to_string(store.GetInt(kSectionApp, setting.name, setting.defaultNumber));
    case EditableSetting::Kind::Flag: {
        // As the start-up reading takes it: "Sound" and "Animate" are on
        // only at 1, the others at anything but 0.
        const StartupSettings s = ReadStartupSettings(store);
        const std::string name = setting.name;
        bool on = false;
        if (name == kValueSound)
            on = s.m_bSound;
        else if (name == kValueAnimate)
            on = s.m_bAnimate;
        else if (name == kValueAutostart)
            on = s.m_bAutostart;
        else if (name == kValueCheckForUpdates)
            on = s.m_bCheckForUpdates;
        else
            on = s.m_bAutostartEmailProgram;
        return on ? "1" : "0";
    }
    case EditableSetting::Kind::Text:
        return store.GetString(kSectionApp, setting.name, std::string());
    case EditableSetting::Kind::Media:
        return store.GetString(kSectionApp, setting.name, DefaultMediaPath(setting.name, exePath));
    case EditableSetting::Kind::Host:
        return ReadUpdateHost(store);
    case EditableSetting::Kind::Proxy: {
        // The password is never shown; a text that does not parse means
        // direct connections, shown as the empty text.
        ProxyServer server;
        if (!ParseProxySetting(store.GetString(kSectionApp, setting.name, std::string()), server))
            return std::string();
        return FormatProxySetting(server, true);
    }
    }
    return std::string();
}

std::string SettingValueProblem(const EditableSetting& setting, const std::string& text) {
    const std::optional<std::uint32_t> number = ParseSmallNumber(text);
    switch (setting.kind) {
    case EditableSetting::Kind::Interval:
        if (!number || *number >= static_cast<std::uint32_t>(kIntervalChoices))
            return std::string(setting.name) + " takes an index from 0 to 29 (1 to 30 minutes)";
        break;
    case EditableSetting::Kind::Flag:
        if (!number || *number > 1)
            return std::string(setting.name) + " takes 0 or 1";
        break;
    case EditableSetting::Kind::Text:
    case EditableSetting::Kind::Media:
        // The store keeps one line per value.
        if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            return std::string(setting.name) + " cannot hold a line break";
        break;
    case EditableSetting::Kind::Host: {
        std::string host;
        int port = 0;
        if (!ParseUpdateHost(text, host, port))
            return std::string(setting.name) +
                   " takes HOST or HOST:PORT (port 1 to 65535), empty for the default";
        break;
    }
    case EditableSetting::Kind::Proxy: {
        ProxyServer server;
        if (!ParseProxySetting(text, server))
            return std::string(setting.name) + " takes " + kProxySettingForms;
        break;
    }
    }
    return std::string();
}

bool StoreSetting(port::ProfileStore& store, const EditableSetting& setting,
                  const std::string& text, const std::string& exePath,
                  const std::function<void(bool)>& writeAutostart) {
    switch (setting.kind) {
    case EditableSetting::Kind::Interval:
    case EditableSetting::Kind::Flag: {
        const int value = static_cast<int>(ParseSmallNumber(text).value_or(0));
        const bool written = WriteNumber(store, setting.name, value);
        if (setting.autostartEntry)
            writeAutostart(value != 0);
        return written;
    }
    case EditableSetting::Kind::Text:
    case EditableSetting::Kind::Host:
    case EditableSetting::Kind::Proxy:
        return store.WriteString(kSectionApp, setting.name, text);
    case EditableSetting::Kind::Media:
        return WriteMedia(store, setting.name, text, exePath);
    }
    return false;
}

CAdvanced::CAdvanced(port::Ui& ui, port::WindowHandle owner)
    : CLookDialog(ui, IDD_ADVANCED, owner) {}

CAdvanced::~CAdvanced() = default;

bool CAdvanced::OnInitDialog() {
    SetControlTexts(m_ui, m_hWnd, kControlTexts);
    m_ui.SetWindowText(m_hWnd, m_strCaption);
    if (m_nInterval < 0 || m_nInterval >= kIntervalChoices)
        m_nInterval = kFallbackInterval;
    UpdateData(false);
    m_brush = m_ui.CreateSolidBrush(kDialogBackColour);
    // Without the control or the picture the dialog goes on as it is.
    if (m_picture.SubclassDlgItem(IDC_ADV_PICTURE, m_hWnd) &&
        m_picture.LoadPicture(IDR_OPTIONS_GIF))
        m_picture.ShowPicture();
    return true;
}

void CAdvanced::UpdateData(bool saveAndValidate) {
    struct Check {
        int id;
        int* member;
    };
    const Check checks[] = {
        {IDC_ADV_SOUND, &m_bSound},
        {IDC_ADV_ANIMATE, &m_bAnimate},
        {IDC_ADV_AUTOSTART, &m_bAutostart},
        {IDC_ADV_CHECK_UPDATES, &m_bCheckForUpdates},
        {IDC_ADV_START_MAIL_PROGRAM, &m_bAutostartEmailProgram},
    };
    struct Edit {
        int id;
        std::string* member;
    };
    const Edit edits[] = {
        {IDC_ADV_MAIL_CLIENT, &m_strMailClient},
        {IDC_ADV_SOUND_FILE, &m_strSound},
        {IDC_ADV_ANIMATION_FILE, &m_strAnimation},
    };
    if (saveAndValidate) {
        // A box without a selection would give -1, and with it a check
        // timer of period 0; the shown choice stays instead.
        const int interval = m_ui.ListGetCurSel(m_hWnd, IDC_ADV_INTERVAL);
        if (interval >= 0 && interval < kIntervalChoices)
            m_nInterval = interval;
        for (const Check& check : checks)
            *check.member = m_ui.IsItemChecked(m_hWnd, check.id) ? 1 : 0;
        for (const Edit& edit : edits)
            *edit.member = m_ui.GetItemText(m_hWnd, edit.id);
    } else {
        m_ui.ListSetCurSel(m_hWnd, IDC_ADV_INTERVAL, m_nInterval);
        for (const Check& check : checks)
            m_ui.CheckItem(m_hWnd, check.id, *check.member != 0);
        for (const Edit& edit : edits)
            m_ui.SetItemText(m_hWnd, edit.id, *edit.member);
    }
}

void CAdvanced::Browse(std::string& field, int editId, const char* filter,
                       const std::string& fallback) {
    UpdateData(true);
    const std::string path = m_ui.ChooseFileToOpen(m_hWnd, TranslateFileFilter(filter),
                                                   BrowseInitialFolder(field, fallback));
    if (path.empty())
        return;
    field = path;
    m_ui.SetItemText(m_hWnd, editId, field);
}

void CAdvanced::OnBrowseMailClient() {
    Browse(m_strMailClient, IDC_ADV_MAIL_CLIENT, kMailClientFilter, kRootFolder);
}

void CAdvanced::OnBrowseSound() {
    Browse(m_strSound, IDC_ADV_SOUND_FILE, kSoundFilter, m_strSoundFolder);
}

void CAdvanced::OnBrowseAnimation() {
    Browse(m_strAnimation, IDC_ADV_ANIMATION_FILE, kAnimationFilter, m_strAnimationFolder);
}

void CAdvanced::OnPlaySound() {
    // The member as last transferred, not the control's text.
    m_ui.PlaySound(m_strSound);
}

void CAdvanced::OnShowExample() {
    m_ui.ShellOpen(m_strAnimation, std::string(), std::string());
}

void CAdvanced::OnOK() {
    UpdateData(true);
    EndDialog(port::kIdOk);
}

bool CAdvanced::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                           std::intptr_t& result) {
    switch (message) {
    case port::kWmCommand: {
        const unsigned id = port::LowWord(wParam);
        if (port::HighWord(wParam) != 0)
            return CLookDialog::WindowProc(message, wParam, lParam, result);
        switch (id) {
        case IDC_ADV_BROWSE_MAIL_CLIENT:
            OnBrowseMailClient();
            break;
        case IDC_ADV_BROWSE_SOUND:
            OnBrowseSound();
            break;
        case IDC_ADV_BROWSE_ANIMATION:
            OnBrowseAnimation();
            break;
        case IDC_ADV_PLAY:
            OnPlaySound();
            break;
        case IDC_ADV_EXAMPLE:
            OnShowExample();
            break;
        default:
            return CLookDialog::WindowProc(message, wParam, lParam, result);
        }
        result = 0;
        return true;
    }
    case port::kWmDestroy:
        // Stopped before its window goes, as the picture draws into it.
        m_picture.StopAnimation();
        return CLookDialog::WindowProc(message, wParam, lParam, result);
    default:
        return CLookDialog::WindowProc(message, wParam, lParam, result);
    }
}
