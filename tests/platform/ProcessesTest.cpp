#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/Processes.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A stand-in program that writes each argument it receives on a line of its own, then
// renames the record into place so the test never reads it half-written.
fs::path MakeRecorder(const fs::path& dir, const fs::path& record) {
    fs::path program = dir / "recorder";
    std::ofstream(program) << "#!/bin/sh\n"
                              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                           << record.string() << ".tmp'\nmv '" << record.string() << ".tmp' '"
                           << record.string() << "'\n";
    chmod(program.c_str(), 0700);
    return program;
}

bool WaitFor(const fs::path& file) {
    for (int i = 0; i < 500; ++i) {
        if (fs::exists(file)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(StartDetached, EveryArgumentArrivesWholeWithoutAShell) {
    test::ScratchDir dir;
    fs::path record = dir.Path() / "argv.txt";
    fs::path program = MakeRecorder(dir.Path(), record);
    std::vector<std::string> names = {"my photo.jpg",
                                      "it's \"quoted\".png",
                                      "$(touch ozm_injected).bmp",
                                      "*",
                                      "-rf",
                                      "图片 1.gif",
                                      "a;b|c&d"};
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), names.begin(), names.end());
    ASSERT_TRUE(StartDetached(argv));
    ASSERT_TRUE(WaitFor(record));
    std::string expected;
    for (const std::string& n : names) expected += n + "\n";
    EXPECT_EQ(ReadText(record), expected);
    EXPECT_FALSE(fs::exists("ozm_injected"));
    EXPECT_FALSE(fs::exists(dir.Path() / "ozm_injected"));
}

TEST(StartDetached, MissingProgramIsReportedAndNothingRuns) {
    EXPECT_FALSE(StartDetached({}));
    EXPECT_FALSE(StartDetached({""}));
    EXPECT_FALSE(StartDetached({"/nonexistent/ozm-no-such-program", "a"}));
    EXPECT_FALSE(StartDetached({"ozm-no-such-program-on-path"}));
}

}  // namespace
}  // namespace ozm
