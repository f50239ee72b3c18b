// Entry point of Tavlo.scr, the announcement animation.
#include "app/win32/scr/ScreenSaver.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto mode = tavlo::scr::ParseScreenSaverArguments(arguments);
    return tavlo::scr::RunScreenSaver(mode);
}
