// The host's subcommands: one per operation of the agent, and `get`, the whole flow for one code.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <string>
#include <vector>

namespace tamsel::host {

using Arguments = std::vector<std::string>;

struct Command {
    const char* name;
    size_t argumentCount;
    const char* usage;    // the arguments, as shown after "tamsel [--dll PATH] NAME"
    const char* summary;  // one line for the overview
    const char* help;     // what it does, prints and answers
    // Null, or a check of the arguments before any agent is made: prints the problem, answers false.
    bool (*check)(const Arguments& arguments);
    int (*run)(InvTamselAgentOps& agent, const Arguments& arguments);
};

// Null for an unknown name.
const Command* FindCommand(const std::string& name) noexcept;
const Command* CommandsBegin() noexcept;
const Command* CommandsEnd() noexcept;

}  // namespace tamsel::host
