/* The transfer tests read what the operations wrote to the log: a log file at
 * the most detailed level in a scratch folder, split back into messages. */
#pragma once
#include <string>
#include <vector>

namespace transfer_test {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    /* Every message written so far as "TAG message" (the tag without brackets,
     * the message with its own line ends), in order. */
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

}  // namespace transfer_test
