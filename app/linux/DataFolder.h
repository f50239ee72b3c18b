// The front end's data folder and its settings file, shared by the commands.
#pragma once

#include "platform/headless/FileProfileStore.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace tavlo::cli {

inline constexpr const char* kSettingsFileName = "settings.reg";

// The data folder ($TAVLO_HOME, else the per-user config folder) with its
// trailing separator, created when missing. "" after a message on err when
// it cannot be used.
std::string OpenDataFolder(std::ostream& err);

// The settings file of the folder under the registry-style key of the
// running executable; problems with the file are written to err.
std::unique_ptr<port::FileProfileStore> OpenSettings(const std::string& folder, std::ostream& err);

} // namespace tavlo::cli
