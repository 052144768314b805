// The command line: arguments, numbers, files and device failures, as a user
// sees them: exact standard output, exit status, nothing on standard error.
#include "runner.h"
#include "texts.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *name;
    std::vector<std::string> args;  // "@" in an argument stands for the test's directory
    std::vector<std::pair<std::string, std::string>> env;
    std::string expected;           // after the banner; "@" as above
    int status;
};

std::string expand(std::string text, const std::string &dir)
{
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size()))
        text.replace(at, 1, dir);
    return text;
}

}  // namespace

TEST(CommandLine, RefusesBadArgumentsAndReportsDeviceFailures)
{
    const Case cases[] = {
        {"no arguments", {}, {}, usage, 255},
        {"mode alone", {"-w"}, {}, usage, 255},
        {"unknown mode", {"-x", "@/in.bin"}, {}, "File not found @/in.bin.\n", 255},
        {"read without length", {"-r", "@/new.bin"}, {}, "Missing data length.\n", 255},
        {"write missing file", {"-w", "@/none.bin"}, {},
         "send data from file @/none.bin to SDRAM ...\nFile not found @/none.bin.\n", 255},
        {"write missing file with offset", {"-w", "@/none.bin", "100"}, {},
         "send data from file @/none.bin to SDRAM ...\nMemory address offset : 0x00000100\n"
         "File not found @/none.bin.\n",
         255},
        {"read into a directory that isn't there", {"-r", "@/no/such.bin", "10"}, {},
         "Receive 16 bytes data from SDRAM to file @/no/such.bin ...\nFile not found @/no/such.bin.\n",
         255},
        {"device count fails", {"-w", "@/in.bin"}, {{"QZ4826_SIM_FAULT", "list"}},
         "send data from file @/in.bin to SDRAM ...\nFT_ListDevices failed\n", 255},
        {"device open fails", {"-w", "@/in.bin"}, {{"QZ4826_SIM_FAULT", "open"}},
         "send data from file @/in.bin to SDRAM ...\n"
         "FT_ListDevices OK, number of devices is 1. \nFT_Open failed\n",
         255},
        {"no device attached", {"-r", "@/new.bin", "1000"}, {{"QZ4826_SIM_DEVICES", "0"}},
         "Receive 4096 bytes data from SDRAM to file @/new.bin ...\n"
         "FT_ListDevices OK, number of devices is 0. \nFT_Open failed\n",
         255},
        {"large length shown unsigned", {"-r", "@/new.bin", "80000000"}, {{"QZ4826_SIM_DEVICES", "0"}},
         "Receive 2147483648 bytes data from SDRAM to file @/new.bin ...\n"
         "FT_ListDevices OK, number of devices is 0. \nFT_Open failed\n",
         255},
        {"read offset has no prefix", {"-r", "@/new.bin", "10", "0x100"}, {{"QZ4826_SIM_DEVICES", "0"}},
         "Receive 16 bytes data from SDRAM to file @/new.bin ...\nMemory address offset : 00000100\n"
         "FT_ListDevices OK, number of devices is 0. \nFT_Open failed\n",
         255},
        {"two devices", {"-W", "@/in.bin", "0X100", "extra", "ignored"}, {{"QZ4826_SIM_DEVICES", "2"}},
         "send data from file @/in.bin to SDRAM ...\nMemory address offset : 0x00000100\n"
         "FT_ListDevices OK, number of devices is 2. \nFT_Open OK, use ftHandle to access device\n\n",
         0},
        {"capital read mode", {"-R", "@/new.bin", "0"}, {},
         "Receive 0 bytes data from SDRAM to file @/new.bin ...\n" + deviceOpened +
             "\nData length must not be 0.\n\n",
         0},
        {"bad write offset", {"-w", "@/in.bin", "0x"}, {},
         "send data from file @/in.bin to SDRAM ...\nInvalid hexadecimal number 0x.\n", 255},
        {"offset above FFFFFFFF", {"-w", "@/in.bin", "100000000"}, {},
         "send data from file @/in.bin to SDRAM ...\nInvalid hexadecimal number 100000000.\n", 255},
        {"bad length", {"-r", "@/new.bin", "12g"}, {}, "Invalid hexadecimal number 12g.\n", 255},
        {"empty length", {"-r", "@/new.bin", ""}, {}, "Invalid hexadecimal number .\n", 255},
        {"bad read offset", {"-r", "@/new.bin", "10", "-5"}, {},
         "Receive 16 bytes data from SDRAM to file @/new.bin ...\nInvalid hexadecimal number -5.\n",
         255},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string root = dir.path("");
        root.pop_back();
        writeFile(dir.path("in.bin"), "");
        std::vector<std::string> args;
        for (const auto &a : c.args)
            args.push_back(expand(a, root));
        RunOptions options;
        options.env = c.env;
        options.env.push_back({"QZ4826_SIM_SDRAM", dir.path("sdram.bin")});
        RunResult r = runTool(args, options);
        EXPECT_EQ(banner + expand(c.expected, root), r.out);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ("", r.err);
    }
}

TEST(CommandLine, RefusedNumbersLeaveFilesAndDeviceAlone)
{
    TempDir dir;
    writeFile(dir.path("old.bin"), "keep me");
    const std::vector<std::vector<std::string>> runs = {
        {"-r", dir.path("new.bin"), "xyz"},
        {"-r", dir.path("new.bin"), "10", "0x"},
        {"-r", dir.path("old.bin"), "10", "1 0"},
        {"-w", dir.path("old.bin"), "ffffffff0"},
    };
    for (const auto &args : runs) {
        RunOptions options;
        options.env = {{"QZ4826_SIM_SDRAM", dir.path("sdram.bin")},
                       {"QZ4826_SIM_TRACE", dir.path("trace.bin")}};
        RunResult r = runTool(args, options);
        EXPECT_EQ(255, r.status);
        EXPECT_FALSE(fileExists(dir.path("new.bin")));
        EXPECT_EQ("keep me", readFile(dir.path("old.bin")));
        EXPECT_EQ("", readFile(dir.path("trace.bin"))) << "bytes went to the device";
        EXPECT_EQ(std::string::npos, r.out.find("FT_")) << "the device was opened";
        EXPECT_EQ(std::string::npos, r.out.find("Overwrite")) << "asked before the numbers were checked";
    }
}

TEST(CommandLine, FailedDeviceLeavesTheNewReadFileEmpty)
{
    TempDir dir;
    RunOptions options;
    options.env = {{"QZ4826_SIM_FAULT", "open"}, {"QZ4826_SIM_SDRAM", dir.path("sdram.bin")}};
    RunResult r = runTool({"-r", dir.path("new.bin"), "100"}, options);
    EXPECT_EQ(255, r.status);
    EXPECT_TRUE(fileExists(dir.path("new.bin")));
    EXPECT_EQ("", readFile(dir.path("new.bin")));
}

TEST(Simulator, RefusesBadSettingsOnStandardError)
{
    const std::pair<std::string, std::string> bad[] = {
        {"QZ4826_SIM_DEVICES", "two"},
        {"QZ4826_SIM_DEVICES", "-1"},
        {"QZ4826_SIM_DEVICES", ""},
        {"QZ4826_SIM_FAULT", "bogus"},
        {"QZ4826_SIM_FAULT", "stall:"},
        {"QZ4826_SIM_FAULT", "stall:12x"},
        {"QZ4826_SIM_FAULT", "stale,"},
        {"QZ4826_SIM_TRACE", ""},
        {"QZ4826_SIM_SDRAM", ""},
        {"QZ4826_SIM_SDRAM", "/no/such/dir/sdram.bin"},
    };
    for (const auto &setting : bad) {
        RunOptions options;
        options.env = {setting};
        RunResult r = runTool({}, options);
        EXPECT_NE(0, r.status) << setting.first << "=" << setting.second;
        EXPECT_NE(255, r.status) << "a simulator error looks like a tool failure";
        EXPECT_EQ("", r.out) << "the tool ran with a bad setting";
        EXPECT_EQ(0u, r.err.find("qz4826s1-sim: " + setting.first)) << r.err;
    }
}
