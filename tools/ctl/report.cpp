#include "ctl/report.h"

#include "ctl/native.h"
#include "ctl/output.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vm::ctl {

namespace {

std::string seconds(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

} // namespace

std::string tapHeader(int steps) {
    return "TAP version 13\n1.." + std::to_string(steps) + "\n";
}

std::string tapProperties(const Properties& properties) {
    std::string lines;
    for (const auto& [name, value] : properties)
        lines += "# " + name + "=" + value + "\n";
    return lines;
}

std::string verdictLine(const std::vector<StepResult>& results, std::size_t planned,
                        const Properties& properties, std::string_view bailOut) {
    std::string failed;
    std::size_t notOk = 0;
    for (const StepResult& r : results) {
        if (r.ok)
            continue;
        failed += (notOk++ ? ", " : "") + std::to_string(r.number);
    }
    std::string line = notOk == 0 && bailOut.empty() ? "# PASS" : "# FAIL";
    for (const auto& [name, value] : properties)
        line += " " + name + "=" + value;
    const std::string of = " of " + std::to_string(planned) + " steps";
    if (!bailOut.empty())
        line += ": bailed out after " + std::to_string(results.size()) + of + " (" +
                std::string(bailOut) + ")";
    else if (notOk == 0)
        line += ": " + std::to_string(results.size()) + of + " ok";
    else
        line += ": " + std::to_string(notOk) + of + " not ok (" + failed + ")";
    return line + "\n";
}

std::string tapLine(const StepResult& result) {
    std::string line =
        (result.ok ? "ok " : "not ok ") + std::to_string(result.number) + " - " + result.text;
    if (!result.detail.empty())
        line += result.ok ? " (" + result.detail + ")" : " # " + result.detail;
    return line + "\n";
}

std::string xmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out += "\xEF\xBF\xBD";
            else
                out += c;
        }
    }
    return out;
}

namespace {

// One testsuite element, without the XML declaration.
std::string testsuiteXml(const RunReport& report) {
    int failures = 0;
    int errors = report.bailOut ? 1 : 0;
    double total = 0;
    for (const StepResult& r : report.results) {
        failures += !r.ok && !r.error ? 1 : 0;
        errors += !r.ok && r.error ? 1 : 0;
        total += r.seconds;
    }
    const std::string name = xmlEscaped(report.suite);
    const auto attribute = [](std::string_view key, std::string_view value) {
        return " " + std::string(key) + "=\"" + xmlEscaped(value) + "\"";
    };
    const std::size_t cases = report.results.size() + (report.bailOut ? 1 : 0);
    std::string xml =
        "<testsuite" + attribute("name", report.suite) + attribute("timestamp", report.timestamp) +
        attribute("hostname", report.hostname.empty() ? "localhost" : report.hostname) +
        attribute("tests", std::to_string(cases)) +
        attribute("failures", std::to_string(failures)) +
        attribute("errors", std::to_string(errors)) + attribute("time", seconds(total)) +
        ">\n  <properties>\n";
    for (const auto& [key, value] : report.properties)
        xml += "    <property" + attribute("name", key) + attribute("value", value) + "/>\n";
    xml += "  </properties>\n";
    const auto testcase = [&](std::string_view caseName, double time, const char* element,
                              std::string_view type, std::string_view message) {
        xml += "  <testcase classname=\"" + name + "\"" + attribute("name", caseName) +
               attribute("time", seconds(time));
        if (!element) {
            xml += "/>\n";
            return;
        }
        xml += ">\n    <" + std::string(element) + attribute("message", message) +
               attribute("type", type) + ">" +
               xmlEscaped(std::string(caseName) + ": " + std::string(message)) + "</" + element +
               ">\n  </testcase>\n";
    };
    for (const StepResult& r : report.results)
        testcase(std::to_string(r.number) + " - " + r.text, r.seconds,
                 r.ok      ? nullptr
                 : r.error ? "error"
                           : "failure",
                 r.type, r.detail);
    if (report.bailOut)
        testcase("Bail out!", 0, "error", "bail-out", *report.bailOut);
    xml += "  <system-out>" + xmlEscaped(report.output) + "</system-out>\n";
    xml += "  <system-err></system-err>\n</testsuite>\n";
    return xml;
}

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

} // namespace

std::string junitXml(const RunReport& report) {
    return std::string(kXmlDeclaration) + testsuiteXml(report);
}

std::string junitXml(const std::vector<RunReport>& reports) {
    std::string xml = std::string(kXmlDeclaration) + "<testsuites>\n";
    for (const RunReport& report : reports)
        xml += testsuiteXml(report);
    return xml + "</testsuites>\n";
}

std::string junitTimestamp(std::chrono::system_clock::time_point time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    return buffer;
}

std::string hostName() {
    char buffer[256] = {};
#ifdef _WIN32
    DWORD size = sizeof buffer;
    if (!GetComputerNameA(buffer, &size))
        buffer[0] = 0;
#else
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        buffer[0] = 0;
#endif
    return buffer[0] ? buffer : "localhost";
}

namespace {

// Replaces `target` by `source`; nothing, or the system's reason.
std::optional<std::string> replaceFile(const std::string& source, const std::string& target) {
    std::error_code error;
    std::filesystem::rename(pathOf(source), pathOf(target), error);
    if (!error)
        return std::nullopt;
    return reasonOf(error);
}

// Removes a file by its UTF-8 path, if it is there.
void removeFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(pathOf(path), ignored);
}

int processId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

} // namespace

ReportFile::ReportFile(std::string target)
    : target_(std::move(target))
    , temporary_(target_ + "." + std::to_string(processId()) + ".tmp")
    , sink_(std::make_unique<Sink>(temporary_)) {
    if (sink_->failed()) {
        problem_ = "cannot write " + target_ + ": " + sink_->reason();
        return;
    }
    removeFile(target_);
}

ReportFile::~ReportFile() {
    if (sink_) {
        sink_.reset();
        removeFile(temporary_);
    }
}

bool ReportFile::ready() const {
    return problem_.empty();
}

bool ReportFile::commit(std::string_view text) {
    if (!sink_)
        return false;
    const bool written = sink_->write(text) && sink_->close(true);
    if (!written)
        problem_ = "cannot write " + target_ + ": " + sink_->reason();
    sink_.reset();
    if (written)
        if (const auto why = replaceFile(temporary_, target_))
            problem_ = "cannot write " + target_ + ": " + *why;
    if (!problem_.empty())
        removeFile(temporary_);
    return problem_.empty();
}

} // namespace vm::ctl
