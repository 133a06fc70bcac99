#include "support/log_capture.h"

#include <stdlib.h>

#include <filesystem>
#include <regex>

#include "log/log.h"
#include "support/lines.h"
#include "support/scratch_root.h"
#include "util/locks.h"

namespace vt_test {

std::vector<std::string> SplitLogMessages(const std::string &written) {
    const std::string text = UnixLineEnds(written);
    static const std::regex prefix(
        R"(\[ \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} \] \[ -?\d+ \] \[(INFO|ERROR|DEBUG|TRACE)\] )");
    struct Start {
        size_t position;
        size_t length;
        std::string tag;
    };
    std::vector<Start> starts;
    for (std::sregex_iterator it(text.begin(), text.end(), prefix), end; it != end; ++it)
        starts.push_back({static_cast<size_t>(it->position()), static_cast<size_t>(it->length()), (*it)[1].str()});
    std::vector<std::string> messages;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t begin = starts[i].position + starts[i].length;
        const size_t end = i + 1 < starts.size() ? starts[i + 1].position : text.size();
        std::string body = text.substr(begin, end - begin);
        /* The close line of the log is no message of ours. */
        const size_t close = body.find("Log close time: ");
        if (close != std::string::npos) body.erase(close);
        messages.push_back(starts[i].tag + " " + body);
    }
    return messages;
}

LogCapture::LogCapture(int level) {
    CloseLogFile();
    ReleaseLogSettings();
    InitMutex();
    dir_ = MakeTempDir("log-capture.");
    InitLogDefaults();
    SetLogParameters("captured.log", dir_.c_str(), level);
    OpenLogFile();
    path_ = dir_ + "/captured.log";
}

LogCapture::~LogCapture() {
    CloseLogFile();
    ReleaseLogSettings();
    if (getenv("VT_KEEP_ROOTS") == nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string LogCapture::Text() const { return UnixLineEnds(ReadWholeFile(path_)); }

/* From the file as written: SplitLogMessages turns the line ends once, so a
 * message's own "\r\n" stays whole. */
std::vector<std::string> LogCapture::Messages() const { return SplitLogMessages(ReadWholeFile(path_)); }

std::vector<std::string> LogCapture::Messages(const std::string &tag) const {
    std::vector<std::string> selected;
    for (const std::string &message : Messages()) {
        if (message.compare(0, tag.size() + 1, tag + " ") == 0) selected.push_back(message.substr(tag.size() + 1));
    }
    return selected;
}

int LogCapture::Count(const std::string &tag, const std::string &message) const {
    int count = 0;
    for (const std::string &m : Messages(tag)) count += m == message ? 1 : 0;
    return count;
}

bool LogCapture::Contains(const std::string &tag, const std::string &part) const {
    for (const std::string &m : Messages(tag)) {
        if (m.find(part) != std::string::npos) return true;
    }
    return false;
}

}  // namespace vt_test
