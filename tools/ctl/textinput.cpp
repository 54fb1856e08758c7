#include "ctl/textinput.h"

#include "ctl/native.h"

#include "protocol/utf8.h"

#include <memory>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace vm::ctl {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

} // namespace

void appendUtf8(std::string& out, unsigned code) {
    utf8::append(out, code);
}

std::string TextDecoder::feed(std::string_view bytes) {
    if (mode_ == Mode::Start) {
        pending_.append(bytes);
        // Undecided while what came so far could still be the start of a mark.
        const auto partOf = [this](std::string_view mark) {
            return pending_.size() < mark.size() && mark.starts_with(pending_);
        };
        if (partOf(kUtf8Mark) || partOf(kUtf16LeMark) || partOf(kUtf16BeMark))
            return {};
        std::string start = std::move(pending_);
        pending_.clear();
        if (start.starts_with(kUtf8Mark)) {
            mode_ = Mode::Plain;
            return start.substr(kUtf8Mark.size());
        }
        if (start.starts_with(kUtf16LeMark) || start.starts_with(kUtf16BeMark)) {
            mode_ = start.starts_with(kUtf16LeMark) ? Mode::Utf16Le : Mode::Utf16Be;
            return utf16(std::string_view(start).substr(2));
        }
        mode_ = Mode::Plain;
        return start;
    }
    if (mode_ == Mode::Plain)
        return std::string(bytes);
    return utf16(bytes);
}

std::string TextDecoder::utf16(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    pending_.append(bytes);
    std::size_t i = 0;
    for (; i + 1 < pending_.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(pending_[i]);
        const auto b1 = static_cast<unsigned char>(pending_[i + 1]);
        const unsigned unit = mode_ == Mode::Utf16Le ? (b1 << 8 | b0) : (b0 << 8 | b1);
        if (surrogate_ != 0) {
            const unsigned high = surrogate_;
            surrogate_ = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                continue;
            }
            out += kReplacement;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF)
            surrogate_ = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            out += kReplacement;
        else
            appendUtf8(out, unit);
    }
    pending_.erase(0, i);
    return out;
}

std::string TextDecoder::finish() {
    if (mode_ == Mode::Start) {
        mode_ = Mode::Plain;
        return std::exchange(pending_, {});
    }
    std::string out;
    if (surrogate_ != 0 || !pending_.empty())
        out = kReplacement;
    surrogate_ = 0;
    pending_.clear();
    return out;
}

std::string textAsUtf8(std::string_view bytes) {
    TextDecoder decoder;
    std::string text = decoder.feed(bytes);
    return text + decoder.finish();
}

std::FILE* binaryStdin() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
}

std::optional<std::string> readWhole(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    std::FILE* in = binaryStdin();
    if (path != "-") {
        file.reset(openFile(path, "rb"));
        if (!file)
            return std::nullopt;
        in = file.get();
    }
    std::string text;
    std::vector<char> chunk(1 << 16);
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0)
        text.append(chunk.data(), n);
    if (std::ferror(in))
        return std::nullopt;
    return text;
}

} // namespace vm::ctl
