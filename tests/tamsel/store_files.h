/* A started table store over files of a test's own: a scratch root with a data
 * folder, the dictionary list and definition files written there, InitTamsel on
 * it and DeInitTamsel afterwards. */
#pragma once
#include <string>
#include <vector>

namespace tamsel_test {

/* Table definitions of the store tests: Agentparams, Parent (generated
 * PARENT_ID), Child (generated CHILD_ID, PARENT_ID referring to Parent) and
 * Stamp (date and time columns). */
extern const char kTestDictionary[];

class StoreFiles {
public:
    StoreFiles();
    ~StoreFiles();
    StoreFiles(const StoreFiles &) = delete;
    StoreFiles &operator=(const StoreFiles &) = delete;

    const std::string &root() const { return root_; }
    std::string DataPath(const std::string &name) const { return root_ + "/data/" + name; }
    void WriteData(const std::string &name, const std::string &text) const;
    /* datadictionary.txt naming these files, each holding its text. */
    void WriteDictionary(const std::vector<std::pair<std::string, std::string>> &files) const;
    /* Writes one definition file with `dictionary` and starts the store. */
    bool Start(const char *dictionary = kTestDictionary);

private:
    std::string root_;
    bool started_ = false;
};

}  // namespace tamsel_test
