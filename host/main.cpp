// tamsel: the command-line host of NorvikTamselAgent: options, help, creating the agent, dispatch.
#include "host/AgentLoader.h"
#include "host/ComApartment.h"
#include "host/Commands.h"
#include "host/ProxyPassword.h"
#include "host/ResultCodes.h"
#include "host/Text.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

using namespace tamsel::host;
using tamsel::ComPointer;

namespace {

struct Options {
    std::string dll;  // empty: create the agent from the registration
    std::string proxyUser;  // empty: the proxy's credentials are the system's, if any
    bool help = false;
    unsigned given = 0;  // the CommandOption bits named on the command line
    Settings settings;
    std::vector<std::string> words;  // the command and its arguments
};

struct OptionRule {
    const char* name;
    unsigned bit;           // its CommandOption; 0 for --dll and --proxy-user, which every command takes
    const char* valueName;  // what its value is, for the message when it is missing; null: takes none
};

const OptionRule OPTIONS[] = {
    {"--dll", 0, "the path of NorvikTamselAgent.dll"},
    {"--proxy-user", 0, "a user name for the proxy"},
    {"--resume", OPTION_RESUME, nullptr},
    {"--strict-tls", OPTION_STRICT_TLS, nullptr},
    {"--expect-size", OPTION_EXPECT_SIZE, "a size in bytes"},
    {"--retries", OPTION_RETRIES, "a count from 0 to 31"},
    {"--sha256", OPTION_SHA256, "64 hexadecimal digits"},
    {"--attempts", OPTION_ATTEMPTS, "a count from 1 to 32"},
    {"--max-wait", OPTION_MAX_WAIT, "a number of seconds from 1 to 86400"},
    {"--rate", OPTION_RATE, "a number of bytes per second (0: no cap)"},
    {"--connections", OPTION_CONNECTIONS, "a count from 1 to 4"},
};

// The bounds of the download policy's options (FetchToFileResilient takes 1 to 32 attempts).
constexpr long long MOST_ATTEMPTS = 32;
constexpr long long MOST_WAIT_SECONDS = 86400;
constexpr long long MOST_RATE = 0xFFFFFFFF;
constexpr long long MOST_CONNECTIONS = 4;

// Only decimal digits, from `least` to `most`.
bool ReadCount(const std::string& text, long long most, long long& value, long long least = 0) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoll(text);
    return value >= least && value <= most;
}

// The options of the download's policy; --retries N is --attempts N+1.
bool SetPolicyOption(unsigned bit, const std::string& value, Settings& settings) {
    long long count = 0;
    switch (bit) {
    case OPTION_RETRIES:
    case OPTION_ATTEMPTS: {
        const long long least = bit == OPTION_ATTEMPTS ? 1 : 0;
        const long long most = bit == OPTION_ATTEMPTS ? MOST_ATTEMPTS : MOST_ATTEMPTS - 1;
        if (!ReadCount(value, most, count, least)) return false;
        settings.attempts = static_cast<ULONG>(bit == OPTION_ATTEMPTS ? count : count + 1);
        break;
    }
    case OPTION_MAX_WAIT:
        if (!ReadCount(value, MOST_WAIT_SECONDS, count, 1)) return false;
        settings.maxWaitSeconds = static_cast<ULONG>(count);
        break;
    case OPTION_RATE:
        if (!ReadCount(value, MOST_RATE, count)) return false;
        settings.rate = static_cast<ULONG>(count);
        break;
    case OPTION_CONNECTIONS:
        if (!ReadCount(value, MOST_CONNECTIONS, count, 1)) return false;
        settings.connections = static_cast<ULONG>(count);
        break;
    }
    settings.policyGiven = settings.policyGiven || (bit & POLICY_OPTIONS) != 0;
    return true;
}

bool SetOption(const OptionRule& rule, const std::string& value, Options& options) {
    long long count = 0;
    switch (rule.bit) {
    case 0: (std::string(rule.name) == "--dll" ? options.dll : options.proxyUser) = value; break;
    case OPTION_RESUME: options.settings.resume = true; break;
    case OPTION_STRICT_TLS: options.settings.strictTls = true; break;
    case OPTION_EXPECT_SIZE:
        if (!ReadCount(value, INT64_MAX, count)) return false;
        options.settings.expectedSize = count;
        break;
    case OPTION_RETRIES:
    case OPTION_ATTEMPTS:
    case OPTION_MAX_WAIT:
    case OPTION_RATE:
    case OPTION_CONNECTIONS:
        if (!SetPolicyOption(rule.bit, value, options.settings)) return false;
        break;
    case OPTION_SHA256:
        if (value.size() != 64 || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        options.settings.sha256 = value;
        break;
    }
    options.given |= rule.bit;
    return true;
}

// One option at words[i], with its value when it takes one (then i moves past it).
bool ParseOption(const std::vector<std::string>& words, size_t& i, Options& options) {
    for (const OptionRule& rule : OPTIONS) {
        if (words[i] != rule.name) {
            continue;
        }
        if (rule.valueName == nullptr) {
            return SetOption(rule, std::string(), options);
        }
        if (i + 1 >= words.size() || words[i + 1].empty() || !SetOption(rule, words[i + 1], options)) {
            std::fprintf(stderr, "tamsel: %s needs %s\n", rule.name, rule.valueName);
            return false;
        }
        ++i;
        return true;
    }
    std::fprintf(stderr, "tamsel: unknown option %s\n", words[i].c_str());
    return false;
}

// Options may stand anywhere; "--" ends them, so that arguments starting with "-" get through.
bool ParseOptions(const std::vector<std::string>& words, Options& options) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
            options.words.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (!ParseOption(words, i, options)) {
            return false;
        }
    }
    return true;
}

// The first option named that the command does not take, or null.
const char* ForeignOption(const Command& command, unsigned given) {
    for (const OptionRule& rule : OPTIONS) {
        if ((given & rule.bit & ~command.options) != 0) {
            return rule.name;
        }
    }
    return nullptr;
}

void PrintOverview(FILE* out) {
    std::fputs("usage: tamsel [--dll PATH] [--proxy-user USER] COMMAND ARGUMENTS...\n"
               "       tamsel COMMAND --help\n\n"
               "Talks to the maker's download service through the NorvikTamselAgent component, created\n"
               "by its ProgID " NORVIK_TAMSEL_AGENT_PROGID " (register the DLL first with\n"
               "regsvr32 NorvikTamselAgent.dll), or with --dll PATH straight from the DLL, unregistered.\n"
               "With --proxy-user USER, a proxy that asks for credentials gets USER and the password in\n"
               "TAMSEL_PROXY_PASSWORD or, when that is not set, typed at the console (not shown).\n\n"
               "commands:\n",
               out);
    for (const Command* c = CommandsBegin(); c != CommandsEnd(); ++c) {
        std::fprintf(out, "  %-7s %s\n", c->name, c->summary);
    }
    std::fputs("\nexit codes:\n"
               "   0  done\n"
               "   2  wrong command, arguments or options\n"
               "   3  cancelled with Ctrl+C (what arrived is kept; get resumes it next time)\n"
               "   4  local problem: missing folder, unusable file name\n",
               out);
    // The table's rows for the host's own codes (S_OK, E_ABORT) are the lines above; the line for
    // unknown codes takes its place in the order.
    bool unknownShown = false;
    for (const ResultInfo* r = ResultTableBegin(); r != ResultTableEnd(); ++r) {
        if (!unknownShown && r->exitCode > ExitUnknownResult) {
            std::fprintf(out, "  %2d  any other result code\n", static_cast<int>(ExitUnknownResult));
            unknownShown = true;
        }
        if (r->exitCode > ExitLocalProblem) {
            std::fprintf(out, "  %2d  %s: %s\n", r->exitCode, r->name, r->explanation);
        }
    }
    if (!unknownShown) {
        std::fprintf(out, "  %2d  any other result code\n", static_cast<int>(ExitUnknownResult));
    }
}

void PrintCommandHelp(const Command& command) {
    std::printf("usage: tamsel [--dll PATH] %s %s\n\n%s\n", command.name, command.usage, command.help);
}

std::string FullPath(const std::string& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(Widen(path).c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? Narrow(std::wstring(full, length)) : path;
}

// Hands the proxy's credentials to the agent, which keeps its own copy.
int GiveProxyCredentials(InvTamselAgentOps3& agent, const std::wstring& user, const ProxyPassword& password) {
    ComPointer<InvTamselAgentOps4> agent4;
    HRESULT result = agent.QueryInterface(IID_InvTamselAgentOps4, agent4.put_void());
    if (SUCCEEDED(result)) {
        result = agent4->SetProxyCredentials(user.c_str(), password.get());
    }
    if (FAILED(result)) {
        std::fprintf(stderr, "tamsel: the agent took no proxy credentials: %s\n",
                     DescribeFailure(result, -1, -1).c_str());
        return DescribeResult(result).exitCode;
    }
    return ExitSuccess;
}

int RunWithAgent(const Options& options, const Command& command, const Arguments& arguments) {
    // The password is asked for before anything else happens, as the arguments are checked; it is wiped
    // when this returns.
    const std::wstring proxyUser = Widen(options.proxyUser);
    ProxyPassword password;
    if (!proxyUser.empty() && !password.Read(proxyUser.c_str())) {
        std::fputs("tamsel: --proxy-user needs the password in TAMSEL_PROXY_PASSWORD or typed at a console\n",
                   stderr);
        return ExitUsage;
    }
    const ComApartment apartment;
    if (FAILED(apartment.Result())) {
        std::fprintf(stderr, "tamsel: CoInitialize failed: %s\n", DescribeFailure(apartment.Result(), -1, -1).c_str());
        return DescribeResult(apartment.Result()).exitCode;
    }
    // The library outlives the agent: declared first, freed last.
    Library library;
    ComPointer<InvTamselAgentOps3> agent;
    const std::string dll = options.dll.empty() ? std::string() : FullPath(options.dll);
    const HRESULT created = dll.empty() ? CreateRegisteredAgent(agent) : CreateAgentFromDll(dll, library, agent);
    if (FAILED(created)) {
        std::fprintf(stderr, "tamsel: cannot create the agent from %s: %s\n",
                     dll.empty() ? NORVIK_TAMSEL_AGENT_PROGID : dll.c_str(),
                     DescribeFailure(created, -1, -1).c_str());
        return DescribeResult(created).exitCode;
    }
    if (!proxyUser.empty()) {
        const int given = GiveProxyCredentials(*agent.get(), proxyUser, password);
        if (given != ExitSuccess) {
            return given;
        }
    }
    return command.run(*agent.get(), arguments, options.settings);
}

int Run(const std::vector<std::string>& words) {
    Options options;
    if (!ParseOptions(words, options)) {
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
    if (const char* foreign = ForeignOption(*command, options.given)) {
        std::fprintf(stderr, "tamsel: %s is not an option of %s\nusage: tamsel [--dll PATH] %s %s\n", foreign,
                     command->name, command->name, command->usage);
        return ExitUsage;
    }
    if (command->check != nullptr && !command->check(arguments)) {
        return ExitUsage;
    }
    return RunWithAgent(options, *command, arguments);
}

// UTF-8 on a console too, for as long as it lives: the host's text is UTF-8 throughout, and names in
// any script must reach the console as they reach a file or a pipe. The console's page is restored,
// since it outlives the process.
class ConsoleUtf8 {
public:
    ConsoleUtf8() noexcept : m_previous(::GetConsoleOutputCP()) {
        if (m_previous != 0) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleUtf8() {
        if (m_previous != 0) ::SetConsoleOutputCP(m_previous);
    }
    ConsoleUtf8(const ConsoleUtf8&) = delete;
    ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

private:
    UINT m_previous;  // 0: no console
};

}  // namespace

// wmain (linked with -municode): arguments arrive as UTF-16, so file and folder names in any script
// survive; the host carries them on as UTF-8.
int wmain(int argc, wchar_t** argv) {
    // Both streams buffered alike (the Windows runtime buffers even stderr when it is a file): a
    // console gets whole lines rather than one write per character, and the commands flush where
    // stdout and stderr take turns.
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    std::setvbuf(stderr, nullptr, _IOFBF, 4096);
    const ConsoleUtf8 console;
    try {
        std::vector<std::string> words;
        for (int i = 1; i < argc; ++i) {
            words.push_back(Narrow(argv[i]));
        }
        return Run(words);
    } catch (const std::bad_alloc&) {
        std::fputs("tamsel: out of memory\n", stderr);
        return DescribeResult(E_OUTOFMEMORY).exitCode;
    }
}
