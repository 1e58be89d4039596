// gevtool: command-line access to GigE Vision cameras through the library's public interface.
// `gevtool` alone lists the subcommands; `gevtool <command> --help` describes each.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace gevtool {

int usageError(const Command& command, const char* message) {
    std::fprintf(stderr, "gevtool %s: %s\n", command.name, message);
    const char* help = command.help;
    const char* end = std::strchr(help, '\n');
    std::fprintf(stderr, "%.*s\nSee `gevtool %s --help`.\n",
                 static_cast<int>(end != nullptr ? end - help : std::strlen(help)), help,
                 command.name);
    return kExitUsage;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> list{
        discoverCommand(), forceIpCommand(),    netConfigCommand(), infoCommand(),
        readCommand(),     writeCommand(),      featuresCommand(),  getCommand(),
        setCommand(),      xmlCommand(),        grabCommand(),      statsCommand(),
        eventsCommand(),   testPacketCommand(), maxPacketCommand(), demoCommand()};
    return list;
}

}  // namespace gevtool

namespace {

void printOverview(FILE* out) {
    std::fprintf(out,
                 "usage: gevtool COMMAND [OPTIONS] [OPERANDS]\n"
                 "Talks to GigE Vision cameras. A command that works on one camera takes it\n"
                 "by address (-a 198.18.1.20) or by its row in `gevtool discover` or its\n"
                 "serial number (-d 2, -d SIM00001; default: the first camera discovered).\n"
                 "Exit status: 0 success, 1 failure, 2 bad usage.\n\ncommands:\n");
    for (const gevtool::Command& c : gevtool::commands())
        std::fprintf(out, "  %-11s %s\n", c.name, c.summary);
    std::fprintf(out, "\n`gevtool COMMAND --help` describes a command; `man gevtool` all.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printOverview(stderr);
        return gevtool::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        printOverview(stdout);
        return gevtool::kExitOk;
    }
    for (const gevtool::Command& command : gevtool::commands()) {
        if (name != command.name)
            continue;
        gevtool::CommandLine line(argc, argv, 2);
        std::string error;
        if (!line.parse(command.options, error))
            return gevtool::usageError(command, error.c_str());
        if (line.help()) {
            std::fputs(command.help, stdout);
            return gevtool::kExitOk;
        }
        return command.run(line);
    }
    std::fprintf(stderr, "gevtool: no command \"%s\"\n", name.c_str());
    printOverview(stderr);
    return gevtool::kExitUsage;
}
