#pragma once

#include "ctl/cli.h"
#include "ctl/link.h"
#include "ctl/record.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vm::ctl {

// Each command carries out an invocation and returns the exit code. Data goes to stdout,
// messages to stderr.
int runExchange(const Invocation& inv); // status, set, reset
int runWatch(const Invocation& inv);
int runDecode(const Invocation& inv);
int runScript(const Invocation& inv);
int runPing(const Invocation& inv);

// The request frame of a command: NREQ, NT<ch><v>, NC<ch>0.
std::vector<std::uint8_t> requestFrame(Command command, char channel = 0, char value = 0);

// One request and the records of the first arrival after it; stale arrivals are dropped
// first.
struct Exchange {
    Link::Wait outcome = Link::Wait::Deadline;
    std::vector<Record> records;
};
Exchange exchange(Link& link, const std::vector<std::uint8_t>& frame,
                  std::chrono::milliseconds timeout);

// Connects, or says on stderr why not ("vm3870ctl: cannot connect to HOST:PORT: why").
bool connectOrSay(Link& link, const Invocation& inv);

// A message on stderr, prefixed with the program name.
void say(const std::string& message);

} // namespace vm::ctl
