/* The log of the code under test, captured: a log file in a fresh temporary
 * folder for the life of the object (removed afterwards unless VT_KEEP_ROOTS is
 * set), read back as messages. */
#pragma once
#include <string>
#include <vector>

namespace vt_test {

/* Splits a log text into "TAG message" entries (the tag without brackets, the
 * message with its own line ends, each "\n"), in order; the log's close line is dropped. */
std::vector<std::string> SplitLogMessages(const std::string &text);

class LogCapture {
public:
    /* Opens the log at `level` (3 debug, 4 trace). */
    explicit LogCapture(int level);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    /* The log text so far, its lines ending in "\n" on every host. */
    std::string Text() const;
    /* Every message written so far, as SplitLogMessages gives them. */
    std::vector<std::string> Messages() const;
    /* Messages with the tag, without the tag. */
    std::vector<std::string> Messages(const std::string &tag) const;
    /* Number of messages equal to `message` with that tag. */
    int Count(const std::string &tag, const std::string &message) const;
    /* True when some message with the tag contains `part`. */
    bool Contains(const std::string &tag, const std::string &part) const;

private:
    std::string dir_;
    std::string path_;
};

}  // namespace vt_test
