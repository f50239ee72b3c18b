// Entry point of Tavlo.scr, the announcement animation.
#include "platform/win32/ScreenSaver.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto mode = port::win32::ParseScreenSaverArguments(arguments);
    return port::win32::RunScreenSaver(mode);
}
