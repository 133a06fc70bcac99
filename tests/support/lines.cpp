#include "support/lines.h"

#include "support/scratch_root.h"

namespace vt_test {

std::string UnixLineEnds(const std::string &text) {
#ifndef _WIN32
    return text;
#else
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
#endif
}

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    const std::string plain = UnixLineEnds(text);
    size_t start = 0;
    while (start < plain.size()) {
        size_t end = plain.find('\n', start);
        if (end == std::string::npos) end = plain.size();
        lines.push_back(plain.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> FileLines(const std::string &path) { return SplitLines(ReadWholeFile(path)); }

}  // namespace vt_test
