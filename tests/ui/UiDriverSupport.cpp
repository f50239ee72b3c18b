#include "UiDriverSupport.h"

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WindowsGateway.h"

#include <commctrl.h>
#include <cstddef>
#include <shellapi.h>
#include <utility>

namespace tavlo::uidriver {

namespace {

HWND H(WindowHandle window) {
    return static_cast<HWND>(window);
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// Memory committed in another process, released with it.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size)
        : m_process(process),
          m_address(
              ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteBuffer() {
        if (m_address != nullptr)
            ::VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    char* Address() const { return static_cast<char*>(m_address); }
    bool Write(std::size_t offset, const void* data, std::size_t size) const {
        return ::WriteProcessMemory(m_process, Address() + offset, data, size, nullptr) != 0;
    }
    bool Read(std::size_t offset, void* data, std::size_t size) const {
        return ::ReadProcessMemory(m_process, Address() + offset, data, size, nullptr) != 0;
    }

private:
    HANDLE m_process;
    void* m_address;
};

std::string Narrow(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

// The top-level tooltip windows of one process.
std::vector<HWND> TooltipWindowsOf(DWORD processId) {
    std::pair<DWORD, std::vector<HWND>> search{processId, {}};
    ::EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto& found = *reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(param);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == found.first && ::lstrcmpiA(ClassOf(window).c_str(), TOOLTIPS_CLASSA) == 0)
                found.second.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return std::move(search.second);
}

} // namespace

WindowHandle FindTopLevelWindowByClass(const std::string& className) {
    return ::FindWindowA(className.c_str(), nullptr);
}

bool IsExistingWindow(WindowHandle window) {
    return window != nullptr && ::IsWindow(H(window)) != 0;
}

WindowHandle ForegroundWindow() {
    return ::GetForegroundWindow();
}

bool NotifyIconExists(WindowHandle owner, unsigned id) {
    NOTIFYICONDATAA record{};
    record.cbSize = sizeof record;
    record.hWnd = H(owner);
    record.uID = id;
    record.uFlags = 0;
    return ::Shell_NotifyIconA(NIM_MODIFY, &record) != 0;
}

std::uint32_t WindowExStyle(WindowHandle window) {
    return static_cast<std::uint32_t>(::GetWindowLongPtrA(H(window), GWL_EXSTYLE));
}

WindowHandle WindowOwner(WindowHandle window) {
    return ::GetWindow(H(window), GW_OWNER);
}

std::vector<ChildText> ChildTexts(WindowHandle dialog) {
    std::vector<ChildText> children;
    for (HWND child = ::GetWindow(H(dialog), GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        ChildText entry;
        entry.id = ::GetDlgCtrlID(child);
        entry.className = ClassOf(child);
        char text[4096] = {};
        ::SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        entry.text = text;
        children.push_back(std::move(entry));
    }
    return children;
}

bool SetControlText(WindowHandle dialog, int id, const std::string& text) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    return control != nullptr &&
           ::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

bool SetControlCheck(WindowHandle dialog, int id, bool checked) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return false;
    ::SendMessageA(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
}

bool SetControlSelection(WindowHandle dialog, int id, int index) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return false;
    const bool combo = ::lstrcmpiA(ClassOf(control).c_str(), "ComboBox") == 0;
    ::SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return true;
}

bool ReadListBox(WindowHandle dialog, int id, ListBoxState& state) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return false;
    state = ListBoxState{};
    state.selected = static_cast<int>(::SendMessageW(control, LB_GETCURSEL, 0, 0));
    // Asked for in UTF-16: Wine hands an 8-bit caller the list box's UTF-16
    // text unconverted when the list box lives in another process.
    const auto count = static_cast<int>(::SendMessageW(control, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const auto length = ::SendMessageW(control, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::vector<wchar_t> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        ::SendMessageW(control, LB_GETTEXT, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(text.data()));
        text.back() = L'\0';
        state.items.push_back(Narrow(text.data()));
    }
    return true;
}

bool PostNotification(WindowHandle dialog, int id, unsigned code) {
    const HWND control = ::GetDlgItem(H(dialog), id);
    if (control == nullptr)
        return false;
    return ::PostMessageA(H(dialog), WM_COMMAND,
                          MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code)),
                          reinterpret_cast<LPARAM>(control)) != 0;
}

std::vector<std::string> NotificationTips() {
    std::vector<std::string> tips;
    const HWND taskbar = ::FindWindowA("Shell_TrayWnd", nullptr);
    DWORD processId = 0;
    if (taskbar == nullptr || ::GetWindowThreadProcessId(taskbar, &processId) == 0)
        return tips;
    const port::UniqueHandle process(
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    if (!process)
        return tips;
    // The record, then the text buffer after it.
    constexpr std::size_t kTextChars = 1024;
    const RemoteBuffer remote(process.Get(), sizeof(TTTOOLINFOW) + kTextChars * sizeof(wchar_t));
    if (remote.Address() == nullptr)
        return tips;
    wchar_t* const remoteText = reinterpret_cast<wchar_t*>(remote.Address() + sizeof(TTTOOLINFOW));
    for (const HWND tooltip : TooltipWindowsOf(processId)) {
        const auto count = static_cast<int>(::SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            // Which tool, then its text.
            TTTOOLINFOW info{};
            info.cbSize = sizeof info;
            if (!remote.Write(0, &info, sizeof info) ||
                ::SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i),
                               reinterpret_cast<LPARAM>(remote.Address())) == 0 ||
                !remote.Read(0, &info, sizeof info))
                continue;
            const wchar_t none = L'\0';
            info.lpszText = remoteText;
            if (!remote.Write(0, &info, sizeof info) ||
                !remote.Write(sizeof info, &none, sizeof none))
                continue;
            ::SendMessageW(tooltip, TTM_GETTEXTW, kTextChars,
                           reinterpret_cast<LPARAM>(remote.Address()));
            std::vector<wchar_t> text(kTextChars + 1, L'\0');
            if (remote.Read(sizeof info, text.data(), kTextChars * sizeof(wchar_t)))
                tips.push_back(Narrow(text.data()));
        }
    }
    return tips;
}

} // namespace tavlo::uidriver
