// `lustra edit` as a user runs it: command-line mistakes and unreadable
// inputs are reported before any window opens.
#include "GuiTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace lustra::guitest {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// Runs lustra through the shell with `environment` prefixed ("" for none).
Outcome lustra(const std::string &arguments, const std::string &environment = "") {
    const std::string command =
        environment + " " + std::string(LUSTRA_PROGRAM) + " " + arguments + " 2>&1";
    Outcome run;
    std::FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 512> buffer;
    while (std::fgets(buffer.data(), int(buffer.size()), pipe)) run.output += buffer.data();
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(EditCommand, MistakesAreUsageErrors) {
    Home home;
    Outcome run = lustra("edit --background '#202020'");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("edit needs --title"), std::string::npos) << run.output;
    run = lustra("edit --title t.png --background '#2020'");
    EXPECT_EQ(run.exitCode, 2);
    run = lustra("edit --title t.png --background b.png --screen 640x480");
    EXPECT_EQ(run.exitCode, 2);
    run = lustra("edit --title t.png --background b.png --gui-monitor 3");
    EXPECT_EQ(run.exitCode, 2);
    run = lustra("edit --title t.png --background b.png --instance a/b");
    EXPECT_EQ(run.exitCode, 2);
    run = lustra("edit --help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("--gui-monitor"), std::string::npos);
}

TEST(EditCommand, UnreadableInputsAndNoDisplayAreFailures) {
    Home home;
    Outcome run = lustra("edit --title /nonexistent/title.png --background '#202020'",
                         "QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("/nonexistent/title.png"), std::string::npos) << run.output;
    // A real picture, but nowhere to show the dialog.
    const std::string title = home.path() + "/programs/lustra/title.png";
    QImage picture(64, 36, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(picture.save(QString::fromStdString(title)));
    run = lustra("edit --title " + title + " --background '#202020'",
                 "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("needs a display"), std::string::npos) << run.output;
}

} // namespace
} // namespace lustra::guitest
