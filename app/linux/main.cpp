// tavlo: the Linux console front end over the mail-watch core.
//
//   tavlo run                                watch the accounts as the Windows
//                                            program does, printing what it shows
//   tavlo check                              run one check cycle, print the report
//   tavlo accounts list|add|remove           manage the accounts
//   tavlo accounts export-reg [--app NAME]   the accounts as a .reg file for the
//                                            Windows program's registry
//   tavlo --help | --version
//
// The data folder is $TAVLO_HOME, else the per-user config folder.
#include "app/linux/Cli.h"

#include <iostream>

int main(int argc, char** argv) {
    return tavlo::cli::Run(argc, argv, std::cin, std::cout, std::cerr);
}
