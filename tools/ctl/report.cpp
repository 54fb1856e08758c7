#include "ctl/report.h"

#include <cstdio>

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

std::string junitXml(std::string_view suite, const std::vector<StepResult>& results,
                     std::string_view timestamp, const Properties& properties) {
    int failures = 0;
    double total = 0;
    for (const StepResult& r : results) {
        failures += r.ok ? 0 : 1;
        total += r.seconds;
    }
    const std::string name = xmlEscaped(suite);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuite name=\"" + name + "\" tests=\"" + std::to_string(results.size()) +
           "\" failures=\"" + std::to_string(failures) + "\" errors=\"0\" skipped=\"0\" time=\"" +
           seconds(total) + "\" timestamp=\"" + xmlEscaped(timestamp) + "\">\n";
    if (!properties.empty()) {
        xml += "  <properties>\n";
        for (const auto& [key, value] : properties)
            xml += "    <property name=\"" + xmlEscaped(key) + "\" value=\"" + xmlEscaped(value) +
                   "\"/>\n";
        xml += "  </properties>\n";
    }
    for (const StepResult& r : results) {
        xml += "  <testcase classname=\"" + name + "\" name=\"" + std::to_string(r.number) + " - " +
               xmlEscaped(r.text) + "\" time=\"" + seconds(r.seconds) + "\"";
        if (r.ok) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n    <failure message=\"" + xmlEscaped(r.detail) + "\">" +
               xmlEscaped(r.text + ": " + r.detail) + "</failure>\n  </testcase>\n";
    }
    xml += "</testsuite>\n";
    return xml;
}

} // namespace vm::ctl
