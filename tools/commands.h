// The gevtool subcommands: each a name, its help text, its options and what it does.
#pragma once

#include <vector>

#include "command_line.h"

namespace gevtool {

struct Command {
    const char* name;
    const char* summary;  // one line for the overview
    const char* help;     // the full text of `gevtool <name> --help`
    std::vector<OptionInfo> options;
    // Runs with parsed options; prints its own usage errors and returns kExitUsage for them.
    int (*run)(const CommandLine& line);
};

// Prints "gevtool <name>: <message>" and the usage line to stderr; returns kExitUsage.
int usageError(const Command& command, const char* message);

// Every subcommand, in the order of the overview.
[[nodiscard]] const std::vector<Command>& commands();

// Defined by the files of the subcommands.
Command discoverCommand();
Command forceIpCommand();
Command netConfigCommand();
Command infoCommand();
Command readCommand();
Command writeCommand();
Command featuresCommand();
Command getCommand();
Command setCommand();
Command xmlCommand();
Command grabCommand();
Command statsCommand();
Command eventsCommand();
Command testPacketCommand();
Command maxPacketCommand();
Command demoCommand();

}  // namespace gevtool
