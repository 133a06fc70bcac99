#include "log_capture.h"

#include <regex>

#include "log/log.h"
#include "support/scratch_root.h"
#include "util/locks.h"

namespace transfer_test {

LogCapture::LogCapture()
{
    CloseLogFile();
    ReleaseLogSettings();
    InitMutex();
    dir_ = vt_test::MakeTempDir("transfer-log.");
    InitLogDefaults();
    SetLogParameters("transfer.log", dir_.c_str(), 4);
    OpenLogFile();
    path_ = dir_ + "/transfer.log";
}

LogCapture::~LogCapture()
{
    CloseLogFile();
    ReleaseLogSettings();
}

std::vector<std::string> LogCapture::Messages() const
{
    static const std::regex prefix(
        R"(\[ \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} \] \[ -?\d+ \] \[(INFO|ERROR|DEBUG|TRACE)\] )");
    std::string text = vt_test::ReadWholeFile(path_);
    std::vector<std::string> messages;
    std::sregex_iterator it(text.begin(), text.end(), prefix), end;
    struct Start {
        size_t position;
        size_t length;
        std::string tag;
    };
    std::vector<Start> starts;
    for (; it != end; ++it)
        starts.push_back({static_cast<size_t>(it->position()), static_cast<size_t>(it->length()), (*it)[1].str()});
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t bodyBegin = starts[i].position + starts[i].length;
        size_t bodyEnd = i + 1 < starts.size() ? starts[i + 1].position : text.size();
        messages.push_back(starts[i].tag + " " + text.substr(bodyBegin, bodyEnd - bodyBegin));
    }
    return messages;
}

std::vector<std::string> LogCapture::Messages(const std::string &tag) const
{
    std::vector<std::string> selected;
    for (const std::string &m : Messages())
        if (m.compare(0, tag.size() + 1, tag + " ") == 0)
            selected.push_back(m.substr(tag.size() + 1));
    return selected;
}

int LogCapture::Count(const std::string &tag, const std::string &message) const
{
    int count = 0;
    for (const std::string &m : Messages(tag))
        if (m == message)
            ++count;
    return count;
}

bool LogCapture::Contains(const std::string &tag, const std::string &part) const
{
    for (const std::string &m : Messages(tag))
        if (m.find(part) != std::string::npos)
            return true;
    return false;
}

}  // namespace transfer_test
