#include "ctl/cli.h"

#include "protocol/parsers.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>

namespace vm::ctl {

namespace {

// The longest interval the window's repeat accepts, in seconds; the same bound here.
constexpr double kMaxIntervalSeconds = 2147483.647;

const char* const kFooter = R"(Examples:
  vm3870ctl -H 192.168.1.110 status                  decoded status of the module
  vm3870ctl set 1 1 -f json                          DO0 on, the reply as JSON
  vm3870ctl reset A                                  reset all six counters
  vm3870ctl watch -i 0.01 -d 60 -f csv > run.csv     100 replies a second for a minute
  vm3870ctl watch -n 500 --vcd trace.vcd --reconnect inputs as a logic-analyzer trace
  vm3870ctl decode 4E3130303130303031...             decode frames given as hex
  vm3870ctl decode --file Log/20261207.txt -f json   decode a daily log file
  vm3870ctl run fixture.chk --junit report.xml       check script; TAP on stdout
  vm3870ctl ping -n 4                                four ICMP echoes, one a second
  vm3870ctl settings                                 the module the commands would use

Settings: host and port default to ADDRESS and PORT of the window's settings file
(%SETTINGS%), the watch interval to its INTERVAL; the file is only read.

Exit codes:
  0  success, every check passed
  1  a check failed, or a reply was not a status frame
  2  usage or script syntax error (said before anything is sent)
  3  could not connect (refused, unreachable, unknown host, connect timeout)
  4  connection lost, or no reply within the timeout
  5  an output could not be written whole (stdout, --vcd, --junit: a full disk)
ping: 0 every probe answered, 4 a probe had no answer within 2700 ms,
  3 a probe could not be sent (unknown host, ICMP not permitted))";

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

} // namespace

Parsed parseCommandLine(int argc, const char* const* argv, const WindowSettings& settings,
                        const std::string& settingsFile) {
    Invocation inv;
    std::string host;
    int port = 0;
    int timeoutMs = 1000;
    std::string format = "text";
    std::string interval;
    std::string duration;
    std::uint64_t count = 0;
    int pollMs = 10;

    CLI::App app{"vm3870ctl: the 3870/3890 digital I/O module from scripts and pipelines: "
                 "status, outputs, counters, watch, decode, check scripts and ping.",
                 "vm3870ctl"};
    app.fallthrough();
    // The same command line on every system: a Windows build would otherwise take an argument
    // that begins with "/" (a script's path, say) for an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(1, 1);
    app.set_version_flag("--version", kVersion);
    std::string footer = kFooter;
    footer.replace(footer.find("%SETTINGS%"), 10,
                   settingsFile.empty() ? "not found" : settingsFile);
    app.footer(footer);
    app.get_formatter()->column_width(28);

    app.add_option("-H,--host", host,
                   "Module address (default: ADDRESS from the settings, else " +
                       std::string(kDefaultHost) + ")")
        ->type_name("HOST");
    app.add_option("-p,--port", port, "TCP port (default: PORT from the settings, else 4000)")
        ->check(CLI::Range(1, 65535))
        ->type_name("PORT");
    app.add_option("-t,--timeout", timeoutMs,
                   "Connect wait and reply wait, each, in ms (default 1000)")
        ->check(CLI::Range(1, 3600000))
        ->type_name("MS");
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
        "watch", "Repeat NREQ every S seconds, one record per reply, until N replies, S seconds "
                 "or Ctrl+C");
    watch
        ->add_option("-i,--interval", interval,
                     "Seconds between requests (default: INTERVAL from the settings, else 1; "
                     "0.001 and up, 0 = back to back)")
        ->type_name("S");
    CLI::Option* countOption =
        watch->add_option("-n,--count", count, "Stop after N replies (not with -d)")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000000000}))
            ->type_name("N");
    CLI::Option* durationOption =
        watch->add_option("-d,--duration", duration, "Stop after S seconds (not with -n)")
            ->type_name("S");
    watch->add_option("--vcd", inv.vcdFile, "Also write a Value Change Dump of the replies to FILE")
        ->type_name("FILE");
    watch->add_flag("--reconnect", inv.reconnect,
                    "Reconnect after a lost connection (waits 0.5 s doubling to 8 s)");

    CLI::App* decode = app.add_subcommand(
        "decode", "Decode frames given as hex, or RECV lines / daily log files / hex lines from "
                  "stdin or --file");
    decode->add_option("HEX", inv.hex, "Frames as hexadecimal, blanks optional");
    decode->add_option("--file", inv.inputFile, "Read lines from FILE instead of stdin")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");

    CLI::App* run = app.add_subcommand("run", "Run a check script; TAP version 13 on stdout");
    run->add_option("SCRIPT", inv.script, "The check script")->required()->check(CLI::ExistingFile);
    run->add_option("--junit", inv.junitFile, "Also write JUnit XML to FILE")->type_name("FILE");
    run->add_option("--poll", pollMs, "Poll interval of expect ... within, in ms (default 10)")
        ->check(CLI::Range(1, 60000))
        ->type_name("MS");

    CLI::App* settingsCommand = app.add_subcommand(
        "settings", "Print the host, port and watch interval the other commands would use, and "
                    "where they come from; sends nothing");

    CLI::App* ping = app.add_subcommand(
        "ping", "ICMP echo as the window's ping test, the same line per probe, one a second, "
                "until N probes or Ctrl+C");
    std::uint64_t probes = 0;
    CLI::Option* probesOption =
        ping->add_option("-n,--count", probes, "Stop after N probes")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1000000000000}))
            ->type_name("N");

    Parsed parsed;
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(argc, argv);
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
        return parsed;
    };

    inv.format = format == "json" ? Format::Json : format == "csv" ? Format::Csv : Format::Text;
    inv.timeout = std::chrono::milliseconds(timeoutMs);
    inv.header = !noHeader;
    inv.channel = ch.empty() ? 0 : ch[0];
    inv.value = value.empty() ? 0 : value[0];
    inv.poll = std::chrono::milliseconds(pollMs);

    if (!host.empty() || !settings.address) {
        inv.host = host.empty() ? std::string(kDefaultHost) : trimmed(host);
        if (const auto problem = vm::hostProblem(inv.host))
            return usage(*problem + ": \"" + host + "\"");
    } else {
        inv.host = trimmed(*settings.address);
        if (const auto problem = vm::hostProblem(inv.host))
            return usage(*problem + ": ADDRESS \"" + *settings.address + "\" in " + settingsFile +
                         "; give the module with -H");
    }
    if (port != 0) {
        inv.port = static_cast<std::uint16_t>(port);
    } else if (settings.port && !*ping) { // ping has no use for a port
        const auto fromSettings = settingsPort(*settings.port);
        if (!fromSettings)
            return usage("PORT \"" + *settings.port + "\" in " + settingsFile +
                         " is not a port 1 to 32767; give one with -p");
        inv.port = *fromSettings;
    }

    if (*status) {
        inv.command = Command::Status;
    } else if (*set) {
        inv.command = Command::Set;
    } else if (*reset) {
        inv.command = Command::Reset;
    } else if (*watch) {
        inv.command = Command::Watch;
        if (!interval.empty()) {
            const auto parsedInterval = parseInterval(interval);
            if (!parsedInterval)
                return usage("--interval wants 0 (back to back) or 0.001 to 2147483.647 seconds, "
                             "not \"" +
                             interval + "\"");
            inv.interval = *parsedInterval;
        } else if (settings.interval) {
            if (const auto fromSettings = settingsInterval(*settings.interval))
                inv.interval = *fromSettings;
        }
        if (*countOption && *durationOption)
            return usage("watch takes -n or -d, not both");
        if (*countOption)
            inv.count = count;
        if (*durationOption) {
            const auto parsedDuration = parseSeconds(duration, 31536000.0);
            if (!parsedDuration || parsedDuration->count() == 0)
                return usage("--duration wants a number of seconds above 0, not \"" + duration +
                             "\"");
            inv.duration = *parsedDuration;
        }
    } else if (*decode) {
        inv.command = Command::Decode;
        if (!inv.hex.empty() && !inv.inputFile.empty())
            return usage("decode takes HEX arguments or --file, not both");
    } else if (*settingsCommand) {
        inv.command = Command::Settings;
        inv.settingsFile = settingsFile;
        if (settings.interval)
            if (const auto fromSettings = settingsInterval(*settings.interval))
                inv.interval = *fromSettings;
    } else if (*ping) {
        inv.command = Command::Ping;
        if (*probesOption)
            inv.count = probes;
    } else {
        inv.command = Command::Run;
    }
    parsed.invocation = std::move(inv);
    return parsed;
}

} // namespace vm::ctl
