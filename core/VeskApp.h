// The application object: owner of the settings store, the window system
// and the application name; provider of the four profile operations that
// every part of the program uses to read and write its settings; and the
// start-up of the program (InitInstance).
#pragma once

#include "platform/Paths.h"
#include "platform/ProfileStore.h"
#include "platform/Ui.h"

#include <cstdint>
#include <string>
#include <utility>

class CVeskApp {
public:
    // The registry root under HKEY_CURRENT_USER\Software.
    static constexpr const char* kRegistryKey = "Tavlo";

    CVeskApp(port::ProfileStore& profile, port::Ui& ui, std::string appName)
        : m_profile(profile), m_ui(ui), m_strAppName(std::move(appName)) {}
    virtual ~CVeskApp() = default;

    CVeskApp(const CVeskApp&) = delete;
    CVeskApp& operator=(const CVeskApp&) = delete;

    // Sets up the common controls, starts the socket layer (a second
    // attempt when the first fails; "Fel 0105" when both fail), enables the
    // hosting of embedded controls, then runs the main window modally for
    // the life of the process. Returns false, after which the process ends.
    virtual bool InitInstance();

    std::uint32_t GetProfileInt(const std::string& section, const std::string& name,
                                std::uint32_t def) {
        return m_profile.GetInt(section, name, def);
    }
    std::string GetProfileString(const std::string& section, const std::string& name,
                                 const std::string& def = std::string()) {
        return m_profile.GetString(section, name, def);
    }
    bool WriteProfileInt(const std::string& section, const std::string& name, std::uint32_t value) {
        return m_profile.WriteInt(section, name, value);
    }
    bool WriteProfileString(const std::string& section, const std::string& name,
                            const std::string& text) {
        return m_profile.WriteString(section, name, text);
    }

    port::ProfileStore& Profile() { return m_profile; }
    port::Ui& Ui() { return m_ui; }
    // The executable's base name: caption of message boxes without one of
    // their own, and the key below the registry root.
    const std::string& AppName() const { return m_strAppName; }
    // The folder of the files the program writes beside its settings
    // (Blocklist.txt), with a trailing separator: port::UserDataFolder()
    // unless set otherwise (tests use a folder of their own).
    const std::string& DataFolder() const { return m_strDataFolder; }
    void SetDataFolder(std::string folder) { m_strDataFolder = std::move(folder); }

protected:
    // One attempt to start the socket layer (Windows Sockets 1.1).
    virtual bool StartSocketLayer();

private:
    port::ProfileStore& m_profile;
    port::Ui& m_ui;
    std::string m_strAppName;
    std::string m_strDataFolder = port::UserDataFolder();
};
