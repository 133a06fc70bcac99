/* The tamsel program run as users run it: a dictionary and a data file of the
 * test's own, and each way it can fail. */
#include <gtest/gtest.h>

#include <string>

#include "store_files.h"
#include "support/lines.h"
#include "support/scratch_root.h"

namespace tamsel_test {
namespace {

/* The shell's run, its output lines ending in "\n" on every host. */
vt_test::ProcessResult RunShell(const std::vector<std::string> &args)
{
    vt_test::ProcessResult run = vt_test::RunProgram(VT_TAMSEL_EXE, args);
    run.out = vt_test::UnixLineEnds(run.out);
    run.err = vt_test::UnixLineEnds(run.err);
    return run;
}

TEST(ShellTest, LoadsSelectsAndListsAndNamesWhatFailed)
{
    StoreFiles files;
    files.WriteDictionary({{"tables.xml", kTestDictionary}});
    files.WriteData("resources.xml", "<ResourceData>\n"
                                     "  <Agentparams PARAM_NAME=\"RESOURCE_ID\" param_Value=\"R-77\"/>\n"
                                     "  <Agentparams PARAM_NAME=\"SITE\" param_Value=\"north\"/>\n"
                                     "</ResourceData>\n");
    const std::string data = files.DataPath("resources.xml");

    vt_test::ProcessResult run = RunShell({"--root", files.root(), "--load", data, "--select", "Agentparams",
                                           "PARAM_NAME='RESOURCE_ID'", "--tables"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_NE(std::string::npos, run.out.find("R-77")) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("north")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("Agentparams\t2\n")) << run.out;

    struct Failure {
        std::vector<std::string> args;
        std::string message;
    };
    const Failure failures[] = {
        {{"--root", files.root() + "/nowhere"},
         "tamsel: cannot read the data dictionary " + files.root() + "/nowhere/data/datadictionary.txt\n"},
        {{"--root", files.root(), "--load", files.DataPath("absent.xml")},
         "tamsel: cannot load " + files.DataPath("absent.xml") + "\n"},
        {{"--root", files.root(), "--load", data, "--select", "Agentparams", "PARAM_NAME = = 1"},
         "tamsel: cannot select from Agentparams where PARAM_NAME = = 1\n"},
        {{"--root", files.root(), "--select", "Nothing", "A=1"}, "tamsel: cannot select from Nothing where A=1\n"},
    };
    for (const Failure &failure : failures) {
        vt_test::ProcessResult failed = RunShell(failure.args);
        EXPECT_EQ(1, failed.exitCode) << failure.message;
        EXPECT_EQ(failure.message, failed.err);
        if (failure.message.find("cannot load") != std::string::npos) {
            /* Why the load failed is in the store's log under the root. */
            EXPECT_NE(std::string::npos, vt_test::UnixLineEnds(vt_test::ReadWholeFile(files.root() + "/logs/tamsel.log"))
                                             .find("[ERROR] error: could not parse file file.xml\n"));
        }
    }
    vt_test::ProcessResult usage = RunShell({"--load", data});
    EXPECT_EQ(2, usage.exitCode);
    EXPECT_EQ(0u, usage.err.find("usage: tamsel --root DIR"));
}

}  // namespace
}  // namespace tamsel_test
