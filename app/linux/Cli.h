// Command-line front end: argument handling and the commands, with the
// streams passed in so that the whole front end runs the same way from a
// terminal, a script or cron.
#pragma once

#include <iosfwd>

namespace tavlo::cli {

// Exit codes: 0 the command ran; 1 the command was refused (invalid account
// data, no such account); 2 wrong arguments; 3 the data folder is unusable.
enum ExitCode { kOk = 0, kRefused = 1, kUsage = 2, kNoDataFolder = 3 };

int Run(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace tavlo::cli
