// The program's resources (res/tavlo.rc) as the headless window system reads
// them. The definition is generated from the resource script at build time
// by scripts/rc-to-table.py, so the script stays the one source of the
// dialog templates, menus and strings of both halves of the port.
#pragma once

#include "platform/Resources.h"

namespace tavlo::res {

const port::ResourceTable& ProgramResources();

} // namespace tavlo::res
