#include "Options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

using namespace korvan::sim;

namespace {

std::string Parse(std::initializer_list<const char*> args, Options& options) {
    std::vector<std::string> storage{"korvan-sim"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(storage.size()), argv.data(), options);
}

} // namespace

TEST(Options, DefaultsSortAfterTheMachinesPortsAndDeriveTheirPaths) {
    Options o;
    EXPECT_EQ(Parse({}, o), "");
    EXPECT_EQ(o.linkPath, "/dev/ttyZSIM0");
    EXPECT_EQ(o.controlPath, "/tmp/korvan-sim-ttyZSIM0.sock");
    EXPECT_EQ(o.dumpPath, "/tmp/korvan-sim-ttyZSIM0.regs");
    EXPECT_EQ(o.network.address, 1);
    EXPECT_EQ(o.network.baud, 9600);
    EXPECT_EQ(o.network.firmwareMajor, 3);
    EXPECT_TRUE(o.network.scenario);
    EXPECT_FALSE(o.help);
}

TEST(Options, DerivedPathsFollowTheLinkName) {
    Options o;
    EXPECT_EQ(Parse({"--link", "/tmp/run/ttyE2E"}, o), "");
    EXPECT_EQ(o.controlPath, "/tmp/korvan-sim-ttyE2E.sock");
    EXPECT_EQ(o.dumpPath, "/tmp/korvan-sim-ttyE2E.regs");
}

TEST(Options, ValuesOutsideWhatAUnitCanBeAreRefused) {
    for (auto args : std::vector<std::vector<const char*>>{{"--address", "0"},
                                                           {"--address", "248"},
                                                           {"--address", "1x"},
                                                           {"--baud", "9601"},
                                                           {"--baud", "115200"},
                                                           {"--units", "11"},
                                                           {"--units", "-1"},
                                                           {"--firmware", "3."},
                                                           {"--firmware", "x"},
                                                           {"--registers", "100"},
                                                           {"--refuse-write", "128"},
                                                           {"--drop", "101"},
                                                           {"--corrupt", "-1"},
                                                           {"--period", "0.5"},
                                                           {"--silence", "-1"},
                                                           {"--nonsense"},
                                                           {"--address"},
                                                           {"stray"}}) {
        Options o;
        std::vector<std::string> storage{"korvan-sim"};
        storage.insert(storage.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        EXPECT_NE(ParseOptions(static_cast<int>(storage.size()), argv.data(), o), "") << args[0];
    }
}

TEST(Options, HelpStopsParsing) {
    Options o;
    EXPECT_EQ(Parse({"--help", "--baud", "nonsense"}, o), "");
    EXPECT_TRUE(o.help);
    EXPECT_NE(UsageText().find("--firmware"), std::string::npos);
}

TEST(Options, FirmwareVersionIsMajorDotMinor) {
    int major = -1;
    int minor = -1;
    EXPECT_TRUE(ParseFirmware("3.05", major, minor));
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 5);
    EXPECT_TRUE(ParseFirmware("3.120", major, minor));
    EXPECT_EQ(minor, 120);
    EXPECT_TRUE(ParseFirmware("10", major, minor));
    EXPECT_EQ(major, 10);
    EXPECT_EQ(minor, 0);
    EXPECT_FALSE(ParseFirmware("3.256", major, minor));
    EXPECT_FALSE(ParseFirmware("256.1", major, minor));
    EXPECT_FALSE(ParseFirmware(".5", major, minor));
    EXPECT_FALSE(ParseFirmware("3.-1", major, minor));
    EXPECT_EQ(major, 10) << "a refused version changes nothing";
}
