// The host's subcommands: one per operation of the agent, and `get`, the whole flow for one code.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <string>
#include <vector>

namespace tamsel::host {

// The command's words after its name, in UTF-8.
using Arguments = std::vector<std::string>;

// The options a command may take, as bits of Command::options.
enum CommandOption : unsigned {
    OPTION_RESUME = 0x1,
    OPTION_STRICT_TLS = 0x2,
    OPTION_EXPECT_SIZE = 0x4,
    OPTION_RETRIES = 0x8,  // the old name of --attempts, counting the attempts after the first
    OPTION_SHA256 = 0x10,
    OPTION_ATTEMPTS = 0x20,
    OPTION_MAX_WAIT = 0x40,
    OPTION_RATE = 0x80,
    OPTION_CONNECTIONS = 0x100,
};

// The options of a download's policy: a fetch given any of them downloads under the fourth interface.
constexpr unsigned POLICY_OPTIONS = OPTION_ATTEMPTS | OPTION_MAX_WAIT | OPTION_RATE | OPTION_CONNECTIONS;

// What the command options set; each command reads only the ones it takes.
struct Settings {
    bool resume = false;
    bool strictTls = false;
    LONGLONG expectedSize = -1;  // -1: not checked
    std::string sha256;  // empty: no digest to check
    // The policy of FetchToFileResilient; 0 in each: the component's default.
    ULONG attempts = 0;        // over all sources
    ULONG maxWaitSeconds = 0;  // the longest single wait
    ULONG rate = 0;            // bytes per second; 0: no cap
    ULONG connections = 0;     // to one source at most; 0: one
    bool policyGiven = false;  // one of POLICY_OPTIONS was named
};

struct Command {
    const char* name;
    size_t argumentCount;
    const char* usage;    // the arguments and options, as shown after "tamsel [--dll PATH] NAME"
    const char* summary;  // one line for the overview
    const char* help;     // what it does, prints and answers
    unsigned options;     // the CommandOption bits it takes
    // Null, or a check of the arguments before any agent is made: prints the problem, answers false.
    bool (*check)(const Arguments& arguments);
    int (*run)(InvTamselAgentOps3& agent, const Arguments& arguments, const Settings& settings);
};

// Null for an unknown name.
const Command* FindCommand(const std::string& name) noexcept;
const Command* CommandsBegin() noexcept;
const Command* CommandsEnd() noexcept;

}  // namespace tamsel::host
