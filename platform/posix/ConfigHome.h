// The XDG configuration folder, shared by the POSIX path and autostart code.
#pragma once

#include <string>

namespace port::posix {

// $XDG_CONFIG_HOME when it names an absolute folder, else $HOME/.config
// (the home folder from the user database when HOME is unset), with a
// trailing slash; "" when there is no home folder at all.
std::string ConfigHomeFolder();

} // namespace port::posix
