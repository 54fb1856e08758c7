#include "ctl/cli.h"

#include "ctl/native.h"
#include "ctl/script.h"
#include "ctl/textinput.h"

#include "protocol/parsers.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <variant>

namespace vm::ctl {

namespace {

// The longest interval the window's repeat accepts, in seconds; the same bound here.
constexpr double kMaxIntervalSeconds = 2147483.647;

// One example per command: the main help lists them all, each command's help its own.
struct Example {
    const char* command;
    const char* lines;
};
constexpr Example kExamples[] = {
    {"status", "  vm3870ctl -H 192.168.1.110 status                  decoded status of the module"},
    {"set", "  vm3870ctl set 1 1 -f json                          DO0 on, the reply as JSON"},
    {"reset", "  vm3870ctl reset A                                  reset all six counters"},
    {"watch", "  vm3870ctl watch -i 0.01 -d 60 -f csv > run.csv     100 replies a second for a "
              "minute\n"
              "  vm3870ctl watch -n 500 --vcd trace.vcd --reconnect inputs as a logic-analyzer "
              "trace"},
    {"decode", "  vm3870ctl decode 4E3130303130303031...             decode frames given as hex\n"
               "  vm3870ctl decode --file Log/20261207.txt -f json   decode a daily log file"},
    {"run", "  vm3870ctl run fixture.chk --junit report.xml       check script; TAP on stdout\n"
            "  vm3870ctl run fixture.chk --var serial=A123        the unit's serial in the report"},
    {"expect", "  vm3870ctl expect 'DI0 == 1' --within 2s --units line.txt  DI0 up on every "
               "unit within 2 s"},
    {"ping", "  vm3870ctl ping 192.168.1.110 -n 4                  four ICMP echoes, one a second"},
    {"settings", "  vm3870ctl settings                                 the module the commands "
                 "would use"},
};

const char* const kSettingsAndExits =
    R"(Settings: host and port default to ADDRESS and PORT of the window's settings
(%SETTINGS%), the watch interval to its INTERVAL; they are only read.
Without -H and ADDRESS the address is 192.168.1.110, said on stderr.

Exit codes:
  0  success, every check passed
  1  a check failed, or a reply failed its checks (not a status frame, first byte
     not N, wrong checksum, incomplete; set: the output not as set)
  2  usage or script syntax error (said before anything is sent)
  3  could not connect (refused, unreachable, unknown host, connect timeout)
  4  connection lost, or no reply within the timeout (also when --reconnect
     regained the connection)
  5  an output could not be written whole (stdout, --vcd, --junit: disk full, closed pipe)
ping: 0 every probe answered, 4 a probe had no answer within 2700 ms,
  3 a probe could not be sent (unknown host, ICMP not permitted))";

std::string examplesOf(std::string_view command) {
    std::string text;
    for (const Example& e : kExamples)
        if (command.empty() || command == e.command)
            text += std::string(e.lines) + "\n";
    return text;
}

// "0.05" seconds as microseconds; nothing for text that is no such number.
std::optional<std::chrono::microseconds> parseSeconds(const std::string& text, double max) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0 || value > max)
        return std::nullopt;
    return std::chrono::microseconds(std::llround(value * 1e6));
}

std::optional<std::chrono::microseconds> parseInterval(const std::string& text) {
    const auto interval = parseSeconds(text, kMaxIntervalSeconds);
    if (!interval || (interval->count() != 0 && interval->count() < 1000))
        return std::nullopt;
    return interval;
}

// A port as the window's connect reads it (0 is refused: nothing can be reached there).
std::optional<std::uint16_t> settingsPort(const std::string& text) {
    const vm::PortText port = vm::parsePort(text);
    if (!port.ok() || port.port == 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(port.port);
}

// The repeat interval as the window's Repeat reads it, when the window could use it.
std::optional<std::chrono::microseconds> settingsInterval(const std::string& text) {
    const std::int64_t ms = vm::parseIntervalMs(text);
    if (ms < 1 || ms > 2147483647)
        return std::nullopt;
    return std::chrono::milliseconds(ms);
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// An existing file, by its UTF-8 path (CLI11's own check takes the path in the code page).
const CLI::Validator existingFile([](std::string& path) { return fileProblem(path); }, "FILE");

CLI::Validator oneOf(std::string allowed, std::string what) {
    return CLI::Validator(
        [allowed, what](std::string& value) -> std::string {
            value = upper(value);
            if (value.size() == 1 && allowed.find(value[0]) != std::string::npos)
                return {};
            return what;
        },
        "");
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A port written into a host: "10.0.0.5:4000", "[::1]:4000" (an IPv6 address alone has two
// colons or more).
bool holdsPort(const std::string& host) {
    return std::count(host.begin(), host.end(), ':') == 1 || host.find("]:") != std::string::npos;
}

// What keeps a host from being used: what the window refuses (empty, blanks, control
// characters), or a port written into it.
std::optional<std::string> addressProblem(const std::string& host) {
    if (const auto problem = vm::hostProblem(host))
        return problem;
    if (holdsPort(host))
        return std::string("the address and a port in one; the port goes with -p");
    return std::nullopt;
}

// A value the commands use and where it comes from, or why the one found cannot be used.
struct Resolved {
    std::string value;
    std::string from;
    std::optional<std::string> problem; // the value found cannot be used: why
};

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

// "host 127.0.0.1 (ADDRESS in FILE)" or "port "40x" unusable: ...".
std::string settingsLine(std::string_view key, const Resolved& r) {
    if (r.problem)
        return std::string(key) + " " + inQuotes(r.value) + " unusable: " + *r.problem + "\n";
    return std::string(key) + " " + r.value + " (" + r.from + ")\n";
}

std::string secondsText(std::chrono::microseconds interval) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", double(interval.count()) / 1e6);
    return buffer;
}

// "/?" and "-?", as Windows programs take them, ask for the help.
std::vector<const char*> withHelpAliases(int argc, const char* const* argv) {
    std::vector<const char*> args(argv, argv + argc);
    for (std::size_t i = 1; i < args.size(); ++i)
        if (std::string_view(args[i]) == "/?" || std::string_view(args[i]) == "-?")
            args[i] = "--help";
    return args;
}

// `--var NAME=VALUE` as a name and a value, or what is wrong with it.
std::variant<std::pair<std::string, std::string>, std::string> parseVar(const std::string& text) {
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const auto nameChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    };
    if (equals == std::string::npos || name.empty() ||
        !std::all_of(name.begin(), name.end(), nameChar))
        return "--var wants NAME=VALUE with a NAME of letters, digits, _ - and ., not " +
               inQuotes(text);
    const std::string value = text.substr(equals + 1);
    if (value.empty())
        return "--var " + name + " has an empty value";
    if (std::any_of(value.begin(), value.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return "--var " + name + " holds a control character";
    return std::pair{name, value};
}

// The units of a units file: one per line, `NAME HOST[:PORT] [NAME=VALUE]...`, `#` starting a
// comment; or what is wrong with it (`FILE:LINE: what`).
std::variant<std::vector<Unit>, std::string> readUnits(const std::string& path,
                                                       std::uint16_t port) {
    const std::optional<std::string> whole = readWhole(path);
    if (!whole)
        return "cannot read the units file " + path;
    std::vector<Unit> units;
    std::istringstream lines(textAsUtf8(*whole));
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), '\r', ' ');
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields.empty())
            continue;
        if (fields.size() < 2)
            return where + "wants NAME HOST[:PORT], not " + inQuotes(trimmed(line));
        Unit unit{fields[0], fields[1], port, {}};
        if (holdsPort(unit.host)) {
            const std::size_t colon = unit.host.rfind(':');
            const std::string portText = unit.host.substr(colon + 1);
            unit.host = unit.host.substr(0, colon);
            if (unit.host.size() > 2 && unit.host.front() == '[' && unit.host.back() == ']')
                unit.host = unit.host.substr(1, unit.host.size() - 2);
            const bool digits = !portText.empty() && portText.size() <= 5 &&
                                std::all_of(portText.begin(), portText.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
            const int value = digits ? std::stoi(portText) : 0;
            if (value < 1 || value > 65535)
                return where + "the port of " + fields[1] + " is not 1 to 65535";
            unit.port = static_cast<std::uint16_t>(value);
        }
        if (const auto problem = addressProblem(unit.host))
            return where + *problem + ": " + inQuotes(unit.host);
        for (std::size_t i = 2; i < fields.size(); ++i) {
            auto var = parseVar(fields[i]);
            if (const auto* problem = std::get_if<std::string>(&var))
                return where + problem->substr(problem->find(' ') + 1);
            unit.vars.push_back(std::get<0>(std::move(var)));
        }
        for (const Unit& known : units)
            if (known.name == unit.name)
                return where + "the name " + unit.name + " is given twice";
        units.push_back(std::move(unit));
    }
    if (units.empty())
        return path + ": names no unit";
    return units;
}

} // namespace

Invocation forUnit(const Invocation& inv, const Unit& unit) {
    Invocation one = inv;
    one.units.clear();
    one.host = unit.host;
    one.port = unit.port;
    for (const auto& var : unit.vars) {
        const auto known = std::find_if(one.vars.begin(), one.vars.end(),
                                        [&var](const auto& v) { return v.first == var.first; });
        if (known != one.vars.end())
            known->second = var.second;
        else
            one.vars.push_back(var);
    }
    return one;
}

Parsed parseCommandLine(int argc, const char* const* argv,
                        const std::function<WindowSettings()>& readSettings,
                        const std::string& settingsFile) {
    Invocation inv;
    std::vector<std::string> hosts;
    std::string unitsFile;
    std::string pingHost;
    int port = 0;
    int timeoutMs = 1000;
    std::string format = "text";
    std::string interval;
    std::string duration;
    std::uint64_t count = 0;
    int pollMs = 10;
    std::size_t frameLength = 0;
    std::vector<std::string> vars;

    CLI::App app{"vm3870ctl: the 3870/3890 digital I/O module from scripts and pipelines: "
                 "status, outputs, counters, watch, decode, check scripts and ping.",
                 "vm3870ctl"};
    app.fallthrough();
    // The same command line on every system: a Windows build would otherwise take an argument
    // that begins with "/" (a script's path, say) for an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(1, 1);
    app.set_version_flag("--version", kVersion);
    std::string settingsAndExits = kSettingsAndExits;
    settingsAndExits.replace(settingsAndExits.find("%SETTINGS%"), 10,
                             settingsFile.empty() ? "not found" : settingsFile);
    app.footer("Examples:\n" + examplesOf({}) + "\n" + settingsAndExits);
    app.get_formatter()->column_width(28);

    CLI::Option* hostOption =
        app.add_option("-H,--host", hosts,
                       "Module address, without a port (default: ADDRESS from the settings, "
                       "else " +
                           std::string(kDefaultHost) + "); several -H: one unit each")
            ->type_name("HOST")
            ->allow_extra_args(false);
    CLI::Option* unitsOption =
        app.add_option("--units", unitsFile,
                       "The units, one per line: NAME HOST[:PORT] [NAME=VALUE]... (# comments)")
            ->type_name("FILE");
    app.add_option("-p,--port", port, "TCP port (default: PORT from the settings, else 4000)")
        ->check(CLI::Range(1, 65535))
        ->type_name("PORT");
    app.add_option("-t,--timeout", timeoutMs,
                   "Connect wait and reply wait, each, in ms (default 1000)")
        ->check(CLI::Range(1, 3600000))
        ->type_name("MS");
    app.add_option("--frame", frameLength,
                   "Status frame length the module answers with: 33, 34 or 57 (default: "
                   "learned from the first reply, as the bytes that come until 100 ms pass "
                   "without one)")
        ->check(CLI::Validator(
            [](const std::string& value) -> std::string {
                return value == "33" || value == "34" || value == "57" ? ""
                                                                       : "--frame is 33, 34 or 57";
            },
            ""))
        ->type_name("33|34|57");
    app.add_option("-f,--format", format, "text | json | csv (default text)")
        ->check(CLI::IsMember({"text", "json", "csv"}))
        ->type_name("F");
    app.add_flag("-q,--quiet", inv.quiet, "No summary or progress on stderr");
    bool noHeader = false;
    app.add_flag("--no-header", noHeader,
                 "csv: leave out the header line (to append to an existing file)");

    CLI::App* status = app.add_subcommand("status", "Send NREQ, print the decoded reply");
    CLI::App* set =
        app.add_subcommand("set", "Send NT<CH><V> (CH 1, 2 or A; V 0 or 1), print the reply");
    std::string ch;
    std::string value;
    set->add_option("CH", ch, "Output channel: 1 (DO0), 2 (DO1) or A (both)")
        ->required()
        ->transform(oneOf("12A", "CH is 1, 2 or A"));
    set->add_option("V", value, "0 or 1")->required()->transform(oneOf("01", "V is 0 or 1"));
    CLI::App* reset = app.add_subcommand("reset", "Send NC<CH>0 (CH 1..6 or A), print the reply");
    reset->add_option("CH", ch, "Counter channel: 1 (counter0) to 6 (counter5), or A (all)")
        ->required()
        ->transform(oneOf("123456A", "CH is 1 to 6 or A"));

    CLI::App* watch = app.add_subcommand(
        "watch", "Repeat NREQ every S seconds, one record per request (its reply, or why there "
                 "is none), until N requests, S seconds or Ctrl+C");
    watch
        ->add_option("-i,--interval", interval,
                     "Seconds between requests (default: INTERVAL from the settings, else 1; "
                     "0.001 and up, 0 = back to back)")
        ->type_name("S");
    CLI::Option* countOption =
        watch
            ->add_option("-n,--count", count,
                         "Stop after N requests, a slot of an outage counting as one "
                         "(not with -d)")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000000000}))
            ->type_name("N");
    CLI::Option* durationOption =
        watch->add_option("-d,--duration", duration, "Stop after S seconds (not with -n)")
            ->type_name("S");
    watch->add_option("--vcd", inv.vcdFile, "Also write a Value Change Dump of the replies to FILE")
        ->type_name("FILE");
    watch->add_flag("--reconnect", inv.reconnect,
                    "Reconnect after a lost connection, trying every 0.25 s; each slot "
                    "while the module is away is a record \"disconnected\"");

    CLI::App* decode = app.add_subcommand(
        "decode", "Decode frames given as hex, or RECV lines / daily log files / hex lines from "
                  "stdin or --file");
    decode->add_option("HEX", inv.hex, "Frames as hexadecimal, blanks optional");
    decode->add_option("--file", inv.inputFile, "Read lines from FILE instead of stdin")
        ->check(existingFile)
        ->type_name("FILE");

    CLI::App* run = app.add_subcommand("run", "Run a check script; TAP version 13 on stdout");
    run->add_option("SCRIPT", inv.script, "The check script; - reads it from stdin")
        ->required()
        ->check(CLI::Validator(
            [](std::string& path) { return path == "-" ? std::string() : fileProblem(path); }, ""));
    run->add_option("--junit", inv.junitFile, "Also write JUnit XML to FILE")->type_name("FILE");
    run->add_option("--poll", pollMs, "Poll interval of expect ... within, in ms (default 10)")
        ->check(CLI::Range(1, 60000))
        ->type_name("MS");
    run->add_option("--var", vars,
                    "Label the run (a unit's serial number): shown in TAP, as a JUnit property "
                    "and in the verdict; may be repeated")
        ->allow_extra_args(false)
        ->type_name("NAME=VALUE");

    std::string condition;
    std::string within;
    CLI::App* expect = app.add_subcommand(
        "expect", "Check one condition of the script grammar (FIELD OP VALUE) on every unit: "
                  "exit 0 when it holds, 1 when not");
    expect->add_option("CONDITION", condition, "FIELD OP VALUE, as in a script's expect step")
        ->required();
    expect
        ->add_option("--within", within,
                     "Poll every 10 ms until it holds or DURATION (ms or s) is up")
        ->type_name("DURATION");
    CLI::App* settingsCommand = app.add_subcommand(
        "settings", "Print the host, port and watch interval the other commands would use, and "
                    "where each comes from; sends nothing");

    CLI::App* ping = app.add_subcommand(
        "ping", "ICMP echo as the window's ping test, the same line per probe, one a second, "
                "until N probes or Ctrl+C");
    CLI::Option* pingHostOption =
        ping->add_option("HOST", pingHost,
                         "The host to probe (as -H; default: ADDRESS from the "
                         "settings, else " +
                             std::string(kDefaultHost) + ")");
    std::uint64_t probes = 0;
    CLI::Option* probesOption =
        ping->add_option("-n,--count", probes, "Stop after N probes")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000000000}))
            ->type_name("N");

    // Each command's help shows its own examples.
    for (CLI::App* sub : app.get_subcommands({}))
        sub->footer("Example:\n" + examplesOf(sub->get_name()) +
                    "\nSettings and exit codes: vm3870ctl --help");

    Parsed parsed;
    std::ostringstream out;
    std::ostringstream err;
    try {
        const std::vector<const char*> args = withHelpAliases(argc, argv);
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::CallForHelp& e) {
        parsed.exitCode = app.exit(e, out, err);
        parsed.out = out.str();
        return parsed;
    } catch (const CLI::CallForVersion& e) {
        parsed.out = std::string(kVersion) + "\n";
        return parsed;
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        parsed.exitCode = kExitUsage;
        parsed.err = err.str();
        return parsed;
    }

    const auto usage = [&parsed](const std::string& message) {
        parsed.exitCode = kExitUsage;
        parsed.err = "vm3870ctl: " + message + "\nRun with --help for more information.\n";
        parsed.invocation.reset();
        return parsed;
    };

    inv.format = format == "json" ? Format::Json : format == "csv" ? Format::Csv : Format::Text;
    inv.timeout = std::chrono::milliseconds(timeoutMs);
    inv.header = !noHeader;
    inv.channel = ch.empty() ? 0 : ch[0];
    inv.value = value.empty() ? 0 : value[0];
    inv.poll = std::chrono::milliseconds(pollMs);
    inv.frameLength = frameLength;

    if (hostOption->count() > 0 && unitsOption->count() > 0)
        return usage("-H and --units exclude each other: name the units in one place");
    std::string host = hosts.empty() ? std::string() : hosts.front();
    if (hosts.size() > 1 && (*ping || *settingsCommand))
        return usage(std::string(*ping ? "ping" : "settings") + " takes one -H");
    for (std::size_t i = 1; i < hosts.size(); ++i) {
        const std::string text = trimmed(hosts[i]);
        if (text.empty() || holdsPort(text))
            return usage("-H " + inQuotes(hosts[i]) +
                         " is not an address alone: give each module's address, the port with -p");
        if (const auto problem = addressProblem(text))
            return usage(*problem + ": " + inQuotes(hosts[i]));
    }
    // The host given: -H, or ping's HOST.
    const bool byArgument = pingHostOption->count() > 0;
    const bool hostGiven = hostOption->count() > 0 || byArgument;
    if (hostOption->count() > 0 && byArgument && trimmed(host) != trimmed(pingHost))
        return usage("ping takes its host once: -H " + inQuotes(host) + " or HOST " +
                     inQuotes(pingHost) + ", not both");
    if (byArgument)
        host = pingHost;
    const std::string hostFlag = byArgument ? "HOST" : "-H";
    const std::string hostText = trimmed(host);
    if (hostGiven && hostText.empty())
        return usage(hostFlag + " is empty: give the module's address" +
                     (byArgument ? "" : ", or leave -H out to use ADDRESS of the settings"));
    if (hostGiven && holdsPort(hostText)) {
        const std::size_t colon = hostText.rfind(':');
        return usage(hostFlag + " takes the address alone, not " + inQuotes(host) +
                     ": give the port with -p (-H " + hostText.substr(0, colon) + " -p " +
                     hostText.substr(colon + 1) + ")");
    }
    if (hostGiven)
        if (const auto problem = addressProblem(hostText))
            return usage(*problem + ": " + inQuotes(host));
    if (*decode) { // needs no module: neither the settings nor an address
        inv.command = Command::Decode;
        if (!inv.hex.empty() && !inv.inputFile.empty())
            return usage("decode takes HEX arguments or --file, not both");
        parsed.invocation = std::move(inv);
        return parsed;
    }

    // The rest take what the command line leaves open from the window's settings.
    const WindowSettings settings = readSettings();
    const std::string in = " in " + (settingsFile.empty() ? "the settings" : settingsFile);

    Resolved hostFrom{std::string(kDefaultHost), "default; no ADDRESS" + in, std::nullopt};
    if (hostGiven) {
        hostFrom = {hostText, hostFlag, std::nullopt};
    } else if (settings.address) {
        if (const auto problem = addressProblem(trimmed(*settings.address)))
            hostFrom = {*settings.address, "",
                        "ADDRESS" + in + ": " + *problem + "; give the module with -H"};
        else
            hostFrom = {trimmed(*settings.address), "ADDRESS" + in, std::nullopt};
    }
    Resolved portFrom{std::to_string(kDefaultPort), "default; no PORT" + in, std::nullopt};
    if (port != 0) {
        portFrom = {std::to_string(port), "-p", std::nullopt};
    } else if (settings.port) {
        if (const auto fromSettings = settingsPort(*settings.port))
            portFrom = {std::to_string(*fromSettings), "PORT" + in, std::nullopt};
        else
            portFrom = {*settings.port, "",
                        "PORT" + in + " is not a port 1 to 32767; give one with -p"};
    }
    Resolved intervalFrom{secondsText(inv.interval), "default; no INTERVAL" + in, std::nullopt};
    if (*watch && !interval.empty()) {
        const auto parsedInterval = parseInterval(interval);
        if (!parsedInterval)
            return usage("--interval wants 0 (back to back) or 0.001 to 2147483.647 seconds, "
                         "not " +
                         inQuotes(interval));
        inv.interval = *parsedInterval;
        intervalFrom = {secondsText(inv.interval), "-i", std::nullopt};
    } else if (settings.interval) {
        if (const auto fromSettings = settingsInterval(*settings.interval)) {
            inv.interval = *fromSettings;
            intervalFrom = {secondsText(inv.interval), "INTERVAL" + in, std::nullopt};
        } else {
            intervalFrom = {*settings.interval, "",
                            "INTERVAL" + in +
                                " is not an interval of 0.001 to 2147483.647 seconds; give one "
                                "with watch -i"};
        }
    }

    if (*settingsCommand) {
        inv.command = Command::Settings;
        inv.settingsFile = settingsFile;
        // Every value with where it comes from; one that cannot be used is marked, not fatal.
        parsed.out = settingsLine("host", hostFrom) + settingsLine("port", portFrom) +
                     settingsLine("interval", intervalFrom) + "settings " +
                     (settingsFile.empty() ? "not found" : settingsFile) + "\n";
        return parsed;
    }

    if (hostFrom.problem)
        return usage(inQuotes(hostFrom.value) + " is not usable: " + *hostFrom.problem);
    inv.host = hostFrom.value;
    if (!*ping) { // ping has no use for a port
        if (portFrom.problem)
            return usage(inQuotes(portFrom.value) + " is not usable: " + *portFrom.problem);
        inv.port = static_cast<std::uint16_t>(std::stoi(portFrom.value));
    }
    for (const std::string& each : hosts) {
        const std::string name = trimmed(each);
        const bool twice = std::any_of(inv.units.begin(), inv.units.end(),
                                       [&name](const Unit& u) { return u.name == name; });
        if (twice)
            return usage("-H " + name + " is given twice");
        inv.units.push_back(Unit{name, name, inv.port, {}});
    }
    if (unitsOption->count() > 0) {
        if (*ping || *settingsCommand)
            return usage(std::string(*ping ? "ping" : "settings") + " takes no --units");
        auto read = readUnits(unitsFile, inv.port);
        if (const auto* problem = std::get_if<std::string>(&read))
            return usage(*problem);
        inv.units = std::get<0>(std::move(read));
    }
    // A module far off this machine should never be reached unawares.
    if (!hostGiven && !settings.address && unitsOption->count() == 0)
        parsed.err = "vm3870ctl: no -H and no ADDRESS" + in + ": using the default address " +
                     std::string(kDefaultHost) + "\n";

    if (*status) {
        inv.command = Command::Status;
    } else if (*set) {
        inv.command = Command::Set;
    } else if (*reset) {
        inv.command = Command::Reset;
    } else if (*watch) {
        inv.command = Command::Watch;
        if (intervalFrom.problem)
            return usage(inQuotes(intervalFrom.value) + " is not usable: " + *intervalFrom.problem);
        if (*countOption && *durationOption)
            return usage("watch takes -n or -d, not both");
        if (*countOption)
            inv.count = count;
        if (*durationOption) {
            const auto parsedDuration = parseSeconds(duration, 31536000.0);
            if (!parsedDuration || parsedDuration->count() == 0)
                return usage("--duration wants a number of seconds above 0, not " +
                             inQuotes(duration));
            inv.duration = *parsedDuration;
        }
    } else if (*expect) {
        inv.command = Command::Expect;
        inv.condition = "expect " + condition + (within.empty() ? "" : " within " + within);
        const auto step = parseStepLine(inv.condition);
        if (const auto* problem = std::get_if<std::string>(&step))
            return usage("expect " + inQuotes(condition) +
                         (within.empty() ? "" : " --within " + within) + ": " + *problem);
        if (!std::holds_alternative<Step>(step) || std::get<Step>(step).kind != Step::Kind::Expect)
            return usage("expect wants FIELD OP VALUE, not " + inQuotes(condition));
    } else if (*ping) {
        inv.command = Command::Ping;
        if (*probesOption)
            inv.count = probes;
    } else {
        inv.command = Command::Run;
        for (const std::string& text : vars) {
            auto var = parseVar(text);
            if (const auto* problem = std::get_if<std::string>(&var))
                return usage(*problem);
            auto& [name, varValue] = std::get<0>(var);
            for (const auto& [known, ignored] : inv.vars)
                if (known == name)
                    return usage("--var " + name + " is given twice");
            inv.vars.emplace_back(std::move(name), std::move(varValue));
        }
    }
    if (!inv.units.empty()) { // never the settings' or the default address behind the units
        inv.host = inv.units.front().host;
        inv.port = inv.units.front().port;
    }
    if (inv.units.size() == 1) // one unit: the command as it always was
        inv = forUnit(inv, inv.units.front());
    parsed.invocation = std::move(inv);
    return parsed;
}

} // namespace vm::ctl
