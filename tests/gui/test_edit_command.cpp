// `lustra edit` as a user runs it: command-line mistakes and unreadable
// inputs are reported before any window opens; the program finds the
// command's plug-in in its two places and fails cleanly without it.
#include "GuiTestSupport.h"

#include "EditPlugin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace lustra::guitest {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// Runs lustra through the shell with `environment` prefixed ("" for none).
Outcome lustra(const std::string &arguments, const std::string &environment = "",
               const std::string &program = LUSTRA_PROGRAM) {
    const std::string command = environment + " " + program + " " + arguments + " 2>&1";
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

namespace fs = std::filesystem;

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// A copy of the program in DIR/bin, as an installation has it, with nothing
// beside it: the plug-in is looked for in DIR/bin and DIR/lib/lustra.
std::string installedCopy(const std::string &directory) {
    fs::create_directories(directory + "/bin");
    fs::create_directories(directory + "/lib/lustra");
    const std::string program = directory + "/bin/lustra";
    fs::copy_file(LUSTRA_PROGRAM, program);
    return program;
}

TEST(EditPlugin, AbsentOrBrokenPluginIsAFailureNamingThePlaces) {
    Home home;
    const std::string root = home.path() + "/install";
    const std::string program = installedCopy(root);
    const std::string beside = root + "/bin/lustra-edit.so";
    const std::string installed = root + "/lib/lustra/lustra-edit.so";

    Outcome run = lustra("edit --help", "", program);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "lustra: edit is not available")) << run.output;
    EXPECT_TRUE(contains(run.output, beside + ": cannot open shared object file")) << run.output;
    EXPECT_TRUE(contains(run.output, installed + ": cannot open shared object file")) << run.output;
    EXPECT_FALSE(contains(run.output, "usage:")) << run.output;
    // The other commands do not need the plug-in.
    EXPECT_EQ(lustra("render --help", "", program).exitCode, 0);

    // A file that is no library, and a library that is not the plug-in.
    std::ofstream(beside) << "not a library\n";
    run = lustra("edit --help", "", program);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(contains(run.output, beside + ": ")) << run.output;
    EXPECT_TRUE(contains(run.output, installed)) << run.output;
    fs::remove(beside);
    fs::copy_file(fs::path(LUSTRA_PROGRAM).parent_path() / "libLustraHost.so", installed);
    run = lustra("edit --help", "", program);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(contains(run.output, installed + ": not lustra's edit plug-in")) << run.output;
}

TEST(EditPlugin, RunsTheCommandFromTheInstallationsLibraryFolder) {
    Home home;
    const std::string root = home.path() + "/install";
    const std::string program = installedCopy(root);
    fs::copy_file(LUSTRA_EDIT_PLUGIN, root + "/lib/lustra/lustra-edit.so");
    Outcome run = lustra("edit --help", "", program);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "--gui-monitor")) << run.output;
    // Errors inside the plug-in keep their exit codes and messages.
    run = lustra("edit --background '#202020'", "", program);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.output, "lustra: edit needs --title")) << run.output;
    EXPECT_TRUE(contains(run.output, "(see lustra --help)")) << run.output;
    run = lustra("edit --title /nonexistent/title.png --background '#202020'",
                 "QT_QPA_PLATFORM=offscreen", program);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.output, "/nonexistent/title.png")) << run.output;
}

TEST(EditPlugin, EntryRefusesAnotherInterfaceVersion) {
    // Kept loaded: the plug-in's copy of the dialog code shares Qt with this
    // process.
    void *plugin = dlopen(LUSTRA_EDIT_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << dlerror();
    const auto entry = reinterpret_cast<cli::EditPluginEntry>(dlsym(plugin, cli::kEditPluginEntry));
    ASSERT_NE(entry, nullptr);
    const char *const arguments[] = {"--help", nullptr};
    EXPECT_EQ(entry(cli::kEditPluginInterface + 1, 1, arguments), cli::kEditPluginRefused);
    EXPECT_EQ(entry(cli::kEditPluginInterface, -1, arguments), cli::kEditPluginRefused);
}

} // namespace
} // namespace lustra::guitest
