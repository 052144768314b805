// The overwrite question in read mode, answered on a real (pseudo) terminal.
#include "runner.h"
#include "texts.h"

#include <gtest/gtest.h>

namespace {

struct Answer {
    const char *name;
    std::string keys;
    bool accepted;
};

}  // namespace

TEST(OverwriteQuestion, OnlyYesOverwritesAndNothingLeaksToTheShell)
{
    const Answer answers[] = {
        {"y", "y", true},
        {"Y", "Y", true},
        {"n", "n", false},
        {"Ctrl-C", "\x03", false},
        {"arrow key", "\x1b[A", false},
        {"Enter", "\r", false},
    };
    for (const Answer &a : answers) {
        SCOPED_TRACE(a.name);
        TempDir dir;
        std::string file = dir.path("out.bin");
        writeFile(file, "old contents");
        RunOptions options;
        options.env = {{"QZ4826_SIM_SDRAM", dir.path("sdram.bin")}};
        options.terminal = Terminal::Control;
        options.keys = a.keys;
        RunResult r = runTool({"-r", file, "5"}, options);

        std::string asked = banner + "Receive 5 bytes data from SDRAM to file " + file +
                            " ...\nOverwrite file:" + file + " OK?(Y/N) ";
        EXPECT_EQ(asked, r.outBeforeKeys) << "the question must show before the wait";
        // standard output is not the terminal here, so the question is shown
        // there too (wine's console keeps its output off the terminal)
        if (toolRunsNatively()) {
            EXPECT_EQ("Overwrite file:" + file + " OK?(Y/N) ", r.terminalOut);
        }
        EXPECT_TRUE(r.restoredTerminal);
        EXPECT_EQ("", r.leftInTerminal);
        EXPECT_EQ("", r.err);
        if (a.accepted) {
            // the run goes on on the question's line
            EXPECT_EQ(asked + deviceOpened + progress(5, "received") + "\n", r.out);
            EXPECT_EQ(0, r.status);
            EXPECT_EQ(std::string(5, '\0'), readFile(file));
        } else {
            EXPECT_EQ(asked, r.out);
            EXPECT_EQ(255, r.status);
            EXPECT_EQ("old contents", readFile(file));
        }
    }
}

TEST(OverwriteQuestion, NoTerminalIsARefusal)
{
    TempDir dir;
    std::string file = dir.path("out.bin");
    writeFile(file, "old contents");
    RunOptions options;
    options.env = {{"QZ4826_SIM_SDRAM", dir.path("sdram.bin")}};
    options.timeoutSeconds = 10;
    RunResult r = runTool({"-r", file, "5"}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(banner + "Receive 5 bytes data from SDRAM to file " + file + " ...\nOverwrite file:" +
                  file + " OK?(Y/N) ",
              r.out);
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("old contents", readFile(file));
}

TEST(OverwriteQuestion, AcceptedAnswerEmptiesTheFileEvenWhenTheDeviceFails)
{
    TempDir dir;
    std::string file = dir.path("out.bin");
    writeFile(file, "old contents");
    RunOptions options;
    options.env = {{"QZ4826_SIM_DEVICES", "0"}, {"QZ4826_SIM_SDRAM", dir.path("sdram.bin")}};
    options.terminal = Terminal::Control;
    options.keys = "Y";
    RunResult r = runTool({"-r", file, "5"}, options);
    EXPECT_EQ(banner + "Receive 5 bytes data from SDRAM to file " + file + " ...\nOverwrite file:" +
                  file + " OK?(Y/N) FT_ListDevices OK, number of devices is 0. \nFT_Open failed\n",
              r.out);
    EXPECT_EQ(255, r.status);
    EXPECT_EQ("", readFile(file));
}
