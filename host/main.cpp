// tamsel: the command-line host of NorvikTamselAgent: options, help, creating the agent, dispatch.
#include "host/AgentLoader.h"
#include "host/Commands.h"
#include "host/ComPtr.h"
#include "host/ResultCodes.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

using namespace tamsel::host;

namespace {

struct Options {
    std::string dll;  // empty: create the agent from the registration
    bool help = false;
    std::vector<std::string> words;  // the command and its arguments
};

// Options may stand anywhere; "--" ends them, so that arguments starting with "-" get through.
bool ParseOptions(int argc, char** argv, Options& options) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
            options.words.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (word == "--dll" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.dll = argv[++i];
        } else if (word == "--dll") {
            std::fputs("tamsel: --dll needs the path of NorvikTamselAgent.dll\n", stderr);
            return false;
        } else {
            std::fprintf(stderr, "tamsel: unknown option %s\n", word.c_str());
            return false;
        }
    }
    return true;
}

void PrintOverview(FILE* out) {
    std::fputs("usage: tamsel [--dll PATH] COMMAND ARGUMENTS...\n"
               "       tamsel COMMAND --help\n\n"
               "Talks to the maker's download service through the NorvikTamselAgent component, created\n"
               "by its ProgID " NORVIK_TAMSEL_AGENT_PROGID " (register the DLL first with\n"
               "regsvr32 NorvikTamselAgent.dll), or with --dll PATH straight from the DLL, unregistered.\n\n"
               "commands:\n",
               out);
    for (const Command* c = CommandsBegin(); c != CommandsEnd(); ++c) {
        std::fprintf(out, "  %-7s %s\n", c->name, c->summary);
    }
    std::fputs("\nexit codes:\n"
               "   0  done\n"
               "   2  wrong command, arguments or options\n"
               "   3  cancelled with Ctrl+C (the file keeps what arrived)\n"
               "   4  local problem: missing folder, unusable file name, file shorter than announced\n",
               out);
    for (const ResultInfo* r = ResultTableBegin(); r != ResultTableEnd(); ++r) {
        if (r->exitCode != ExitSuccess) {
            std::fprintf(out, "  %2d  %s: %s\n", r->exitCode, r->name, r->explanation);
        }
    }
    std::fprintf(out, "  %2d  any other result code\n", static_cast<int>(ExitUnknownResult));
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: tamsel [--dll PATH] %s %s\n\n%s\n", command.name, command.usage, command.help);
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

int RunWithAgent(const Options& options, const Command& command, const Arguments& arguments) {
    const ComApartment apartment;
    if (FAILED(apartment.Result())) {
        std::fprintf(stderr, "tamsel: CoInitialize failed: %s\n", DescribeFailure(apartment.Result(), -1, -1).c_str());
        return DescribeResult(apartment.Result()).exitCode;
    }
    // The library outlives the agent: declared first, freed last.
    Library library;
    ComPtr<InvTamselAgentOps> agent;
    const std::string dll = options.dll.empty() ? std::string() : FullPath(options.dll);
    const HRESULT created = dll.empty() ? CreateRegisteredAgent(agent) : CreateAgentFromDll(dll, library, agent);
    if (FAILED(created)) {
        std::fprintf(stderr, "tamsel: cannot create the agent from %s: %s\n",
                     dll.empty() ? NORVIK_TAMSEL_AGENT_PROGID : dll.c_str(),
                     DescribeFailure(created, -1, -1).c_str());
        return DescribeResult(created).exitCode;
    }
    return command.run(*agent.get(), arguments);
}

int Run(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs("run tamsel --help for the commands\n", stderr);
        return ExitUsage;
    }
    if (options.words.empty()) {
        PrintOverview(options.help ? stdout : stderr);
        return options.help ? ExitSuccess : ExitUsage;
    }
    const Command* command = FindCommand(options.words[0]);
    if (command == nullptr) {
        std::fprintf(stderr, "tamsel: unknown command \"%s\"; run tamsel --help for the commands\n",
                     options.words[0].c_str());
        return ExitUsage;
    }
    if (options.help) {
        PrintCommandHelp(*command);
        return ExitSuccess;
    }
    const Arguments arguments(options.words.begin() + 1, options.words.end());
    if (arguments.size() != command->argumentCount) {
        std::fprintf(stderr, "tamsel: %s takes %u arguments, got %u\nusage: tamsel [--dll PATH] %s %s\n",
                     command->name, static_cast<unsigned>(command->argumentCount),
                     static_cast<unsigned>(arguments.size()), command->name, command->usage);
        return ExitUsage;
    }
    if (command->check != nullptr && !command->check(arguments)) {
        return ExitUsage;
    }
    return RunWithAgent(options, *command, arguments);
}

}  // namespace

int main(int argc, char** argv) {
    // Both streams buffered alike (the Windows runtime buffers even stderr when it is a file): a
    // console gets whole lines rather than one write per character, and the commands flush where
    // stdout and stderr take turns.
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    std::setvbuf(stderr, nullptr, _IOFBF, 4096);
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("tamsel: out of memory\n", stderr);
        return DescribeResult(E_OUTOFMEMORY).exitCode;
    }
}
