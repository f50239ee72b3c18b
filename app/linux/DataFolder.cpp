#include "app/linux/DataFolder.h"

#include "core/VeskApp.h"
#include "platform/Paths.h"

#include <ostream>

namespace tavlo::cli {

std::string OpenDataFolder(std::ostream& err) {
    const std::string folder = port::UserDataFolder();
    if (folder.empty() || !port::CreateFolders(folder)) {
        err << "tavlo: cannot use the data folder '" << folder
            << "' (set TAVLO_HOME to a writable folder)\n";
        return std::string();
    }
    return folder;
}

std::unique_ptr<port::FileProfileStore> OpenSettings(const std::string& folder, std::ostream& err) {
    return std::make_unique<port::FileProfileStore>(folder + kSettingsFileName,
                                                    std::string("HKEY_CURRENT_USER\\Software\\") +
                                                        CVeskApp::kRegistryKey + "\\" +
                                                        port::ApplicationName(),
                                                    [&err](const std::string& message) {
                                                        err << "tavlo: " << message << '\n';
                                                        err.flush();
                                                    });
}

} // namespace tavlo::cli
