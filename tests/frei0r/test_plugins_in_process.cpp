// The plug-ins driven in-process through their frei0r entry points, as a
// frei0r host drives them, checked pixel for pixel against the module
// rendered through the test host with the same settings.
#include "Frei0rTestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>

using namespace lustra::frei0rtest;
using lustra::clitest::backgroundPicture;
using lustra::clitest::maxDifference;
using lustra::clitest::ReferenceOptions;
using lustra::clitest::referenceRender;
using lustra::clitest::titlePicture;
using lustra::clitest::Workspace;

// The plug-ins take a process holding this MLT function for an MLT host
// (the test binary exports it), which may cut frames into strips.
extern "C" int mlt_slices_count_normal() {
    return 2;
}

namespace {

constexpr int kWidth = 96, kHeight = 64;

std::vector<uint8_t> readBytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A settings record written by `lustra settings set`.
std::string settingsFile(const Workspace &workspace, const std::string &name,
                         const std::vector<std::string> &assignments) {
    std::vector<std::string> command = {"settings", "set", workspace.path(name)};
    command.insert(command.end(), assignments.begin(), assignments.end());
    const auto result = workspace.lustra(command);
    if (result.exitCode != 0) throw std::runtime_error("lustra settings set: " + result.err);
    return workspace.path(name);
}

Picture reference(const Picture &title, const Picture &background,
                  const ReferenceOptions &options = {}) {
    return referenceRender({withAlpha(title)}, {background}, options).at(0);
}

// The picture with alpha 255: what the plug-ins write by default.
Picture opaque(Picture picture) {
    picture = withAlpha(picture);
    for (size_t i = 3; i < picture.bytes.size(); i += 4) picture.bytes[i] = 255;
    return picture;
}

class Frei0rPlugins : public ::testing::Test {
  protected:
    Plugin filter{LUSTRA_FILTER_PLUGIN};
    Plugin mixer{LUSTRA_MIXER_PLUGIN};
};

} // namespace

TEST_F(Frei0rPlugins, DescribeThemselvesAsRgbaFilterAndMixer) {
    EXPECT_EQ(filter.info().plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(mixer.info().plugin_type, F0R_PLUGIN_TYPE_MIXER2);
    for (const Plugin *plugin : {&filter, &mixer}) {
        const f0r_plugin_info_t info = plugin->info();
        EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
        EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
        std::set<std::string> names;
        for (int i = 0; i < info.num_params; ++i) {
            const f0r_param_info_t parameter = plugin->parameterInfo(i);
            ASSERT_NE(parameter.name, nullptr);
            ASSERT_NE(parameter.explanation, nullptr);
            EXPECT_NE(parameter.type, F0R_PARAM_POSITION) << parameter.name;
            EXPECT_TRUE(names.insert(parameter.name).second) << "twice: " << parameter.name;
        }
        for (const char *name :
             {"settings", "set", "bevelWidth", "bevelDepth", "bevelSmoothing", "lightX", "lightY",
              "glowOn", "glowWidth", "glowOpacity", "shadowOn", "shadowOpacity", "shadowSoftness",
              "shadowDistance", "fillZoom", "secondLayers", "flickerFilter", "fieldWise"})
            EXPECT_EQ(names.count(name), 1u) << name;
    }
    // The filter's background comes first: ffmpeg's parameters are positional.
    EXPECT_EQ(filter.parameter("background"), 0);
    EXPECT_EQ(mixer.parameter("background"), -1);
}

// The runtime the two plug-ins share shows them its interface and nothing
// of the host code built into it, which could otherwise bind to another
// library's symbols of the same name in a host's process.
TEST(Frei0rRuntime, ShowsOnlyTheAdaptersInterface) {
    const std::string path = std::string(LUSTRA_PLUGIN_DIR) + "/../libLustraFrei0r.so";
    void *runtime = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(runtime, nullptr) << dlerror();
    EXPECT_NE(dlsym(runtime, "_ZN6lustra6frei0r10parametersEb"), nullptr); // parameters(bool)
    EXPECT_NE(dlsym(runtime, "_ZN6lustra6frei0r7Runtime6attachEv"), nullptr);
    // lustra::cli::ffmpegError(int), host code inside the runtime.
    EXPECT_EQ(dlsym(runtime, "_ZN6lustra3cli11ffmpegErrorB5cxx11Ei"), nullptr);
    dlclose(runtime);
}

TEST_F(Frei0rPlugins, FilterRendersAsTheModuleOverAColour) {
    const Picture title0 = titlePicture(kWidth, kHeight, 0, true);
    const Picture title1 = titlePicture(kWidth, kHeight, 3, true);
    const Picture colour = solid(kWidth, kHeight, 0x30, 0x60, 0xA0);
    const auto expected = referenceRender({title0, title1}, {colour, colour});
    Instance instance(filter, kWidth, kHeight);
    instance.set("background", std::string("#3060A0"));
    // The time value never changes the picture: ffmpeg's is sometimes garbage.
    EXPECT_EQ(maxDifference(instance.filter(title0, 1e300), opaque(expected[0])), 0);
    EXPECT_EQ(maxDifference(instance.filter(title1, -5), opaque(expected[1])), 0);
}

TEST_F(Frei0rPlugins, FilterReadsAPictureBackgroundOnceAndAgainWhenItChanges) {
    Workspace workspace;
    const Picture title = titlePicture(kWidth, kHeight, 0, true);
    const Picture first = backgroundPicture(kWidth, kHeight, 0);
    const Picture second = backgroundPicture(kWidth, kHeight, 9);
    lustra::clitest::writeWithFfmpeg({first}, workspace.path("first.png"));
    lustra::clitest::writeWithFfmpeg({second}, workspace.path("second.png"));
    const Picture expectedFirst = reference(title, first);
    const Picture expectedSecond = reference(title, second);

    Instance instance(filter, kWidth, kHeight);
    instance.set("alpha", std::string("title"));
    instance.set("background", workspace.path("first.png"));
    EXPECT_EQ(maxDifference(instance.filter(title), expectedFirst), 0);
    EXPECT_EQ(maxDifference(instance.filter(title), expectedFirst), 0);
    instance.set("background", workspace.path("second.png"));
    EXPECT_EQ(maxDifference(instance.filter(title), expectedSecond), 0);
    EXPECT_EQ(instance.text("background"), workspace.path("second.png"));
}

TEST_F(Frei0rPlugins, MixerRendersWithSettingsFileFieldChangesAndDirectParameters) {
    Workspace workspace;
    const std::string base = settingsFile(workspace, "base.prf", {"glowOn=on", "fill1Mode=metal"});
    // The same record as the plug-in's layers: file, then "set", then bevelWidth = 0.5.
    const std::string combined =
        settingsFile(workspace, "combined.prf",
                     {"glowOn=on", "fill1Mode=metal", "shadowOn=off", "bevelWidth=15"});
    const Picture title = titlePicture(kWidth, kHeight, 1);
    const Picture background = backgroundPicture(kWidth, kHeight, 2);
    ReferenceOptions options;
    options.settings = readBytes(combined);
    options.secondLayers = true;
    const Picture expected = reference(title, background, options);

    Instance instance(mixer, kWidth, kHeight);
    instance.set("settings", base);
    instance.set("set", std::string("shadowOn=off"));
    instance.set("bevelWidth", 0.5);
    instance.set("secondLayers", 1.0);
    EXPECT_EQ(maxDifference(instance.mix(background, title), expected), 0);
    EXPECT_DOUBLE_EQ(instance.number("bevelWidth"), 0.5);
    EXPECT_DOUBLE_EQ(instance.number("shadowOn"), 0.0);
    EXPECT_EQ(instance.text("settings"), base);
}

TEST_F(Frei0rPlugins, AlphaIsTheCompositeTheTitlesOrTheEffects) {
    Workspace workspace;
    // A title as titles with alpha come: opaque where it shows.
    Picture title = titlePicture(kWidth, kHeight, 1, true);
    for (size_t i = 0; i < title.bytes.size(); i += 4) title.bytes[i + 3] = title.bytes[i];
    const Picture black = solid(kWidth, kHeight, 0, 0, 0);
    const Picture picture = solid(kWidth, kHeight, 0x70, 0x70, 0x70);
    ReferenceOptions glowing;
    glowing.settings = readBytes(settingsFile(workspace, "g.prf", {"glowOn=on", "glowWidth=12"}));
    const Picture overBlack = reference(title, black, glowing);
    const Picture overPicture = reference(title, picture, glowing);

    Instance instance(filter, kWidth, kHeight);
    instance.set("set", std::string("glowOn:on glowWidth:12"));
    EXPECT_EQ(instance.text("alpha"), "opaque");
    EXPECT_EQ(maxDifference(instance.filter(title), opaque(overBlack)), 0);
    instance.set("alpha", std::string(" Title "));
    EXPECT_EQ(instance.text("alpha"), "title");
    const Picture titleAlpha = instance.filter(title);
    EXPECT_EQ(maxDifference(titleAlpha, overBlack), 0);

    // The effect's alpha covers the glow too: laid over the picture it
    // gives the render over that picture.
    instance.set("alpha", std::string("effect"));
    const Picture effect = instance.filter(title);
    int covered = 0, beyondTitle = 0, worst = 0;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        const uint8_t *e = &effect.bytes[size_t(i) * 4];
        const uint8_t a = e[3];
        covered += a > 0;
        beyondTitle += a > 0 && title.bytes[size_t(i) * 4 + 3] == 0;
        for (int c = 0; c < 3; ++c) {
            const double laid = (e[c] * a + picture.bytes[size_t(i) * 3 + c] * (255 - a)) / 255.0;
            const int difference = int(std::lround(
                std::fabs(laid - overPicture.bytes[size_t(i) * overPicture.channels + c])));
            worst = std::max(worst, difference);
        }
    }
    EXPECT_GT(beyondTitle, 0);
    EXPECT_LT(covered, kWidth * kHeight);
    // The module composites in its own pixels, not quite in proportion to
    // each RGB channel (a grey 112 comes out 110 where nothing covers it,
    // the shadow's blue is deeper over grey than over white): a few levels.
    EXPECT_LE(worst, 4);

    // In `set` (ffmpeg's short way to it) unless the parameter is set.
    Instance viaSet(filter, kWidth, kHeight);
    viaSet.set("set", std::string("glowOn:on glowWidth:12 alpha:title"));
    EXPECT_EQ(viaSet.text("alpha"), "title");
    EXPECT_EQ(maxDifference(viaSet.filter(title), overBlack), 0);
    viaSet.set("alpha", std::string("opaque"));
    EXPECT_EQ(maxDifference(viaSet.filter(title), opaque(overBlack)), 0);

    testing::internal::CaptureStderr();
    instance.set("alpha", std::string("premultiplied"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("alpha=premultiplied: use opaque, title or effect; using opaque"),
              std::string::npos)
        << err;
    EXPECT_EQ(maxDifference(instance.filter(title), opaque(overBlack)), 0);
}

TEST_F(Frei0rPlugins, SetTakesColonsAndSemicolonsAsMltPassesThem) {
    Workspace workspace;
    const Picture title = titlePicture(kWidth, kHeight, 2);
    const Picture background = backgroundPicture(kWidth, kHeight);
    ReferenceOptions look;
    look.settings = readBytes(settingsFile(
        workspace, "look.prf", {"glowOn=on", "fill1Mode=metal", "shadowOn=off", "bevelWidth=20"}));
    const Picture expected = opaque(reference(title, background, look));
    Instance instance(mixer, kWidth, kHeight);
    for (const char *text : {"glowOn:on fill1Mode:metal shadowOn:off bevelWidth:20",
                             "glowOn:on;fill1Mode:metal;shadowOn=off;bevelWidth=20",
                             "  glowOn=on\tfill1Mode=metal;; "
                             "shadowOn:off\nbevelWidth: 20"}) {
        testing::internal::CaptureStderr();
        instance.set("set", std::string(text));
        const Picture frame = instance.mix(background, title);
        const std::string err = testing::internal::GetCapturedStderr();
        if (std::string(text).find("bevelWidth: 20") != std::string::npos) {
            // "bevelWidth:" and "20" are two words: the field is left as it is.
            EXPECT_NE(err.find("got \"20\""), std::string::npos) << err;
            continue;
        }
        EXPECT_EQ(maxDifference(frame, expected), 0) << text;
        EXPECT_EQ(err, "") << text;
    }
    // What MLT hands over of "fill1Mode=metal": the value alone.
    testing::internal::CaptureStderr();
    instance.set("set", std::string("metal"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("expected FIELD:VALUE or FIELD=VALUE, got \"metal\" (in MLT, write "
                       "FIELD:VALUE"),
              std::string::npos)
        << err;
}

TEST_F(Frei0rPlugins, ParametersMapOntoFieldRangesAndChangesApplyToTheNextFrame) {
    Workspace workspace;
    const Picture title = titlePicture(kWidth, kHeight);
    const Picture black = solid(kWidth, kHeight, 0, 0, 0);
    ReferenceOptions glow, light;
    glow.settings = readBytes(settingsFile(workspace, "glow.prf", {"glowOn=on", "glowWidth=6"}));
    light.settings =
        readBytes(settingsFile(workspace, "light.prf", {"offsetX=100", "offsetY=-200"}));
    const Picture plain = reference(title, black);
    const Picture glowing = reference(title, black, glow);
    const Picture lit = reference(title, black, light);

    Instance instance(filter, kWidth, kHeight);
    // The defaults read back as 0..1 values of the fields' ranges.
    EXPECT_DOUBLE_EQ(instance.number("bevelWidth"), 8.0 / 30.0);
    EXPECT_DOUBLE_EQ(instance.number("lightX"), (200.0 - 18.0) / 400.0);
    EXPECT_DOUBLE_EQ(instance.number("shadowOn"), 1.0);
    EXPECT_EQ(maxDifference(instance.filter(title), opaque(plain)), 0);
    instance.set("glowOn", 1.0);
    instance.set("glowWidth", 0.2); // 6 of 0..30
    EXPECT_EQ(maxDifference(instance.filter(title), opaque(glowing)), 0);
    instance.set("glowOn", 0.0);
    instance.set("lightX", 0.75); // 100 of -200..200
    instance.set("lightY", 0.0);
    EXPECT_EQ(maxDifference(instance.filter(title), opaque(lit)), 0);
}

TEST_F(Frei0rPlugins, HostChoicesReachTheModule) {
    const Picture title = titlePicture(kWidth, kHeight, 2);
    const Picture background = backgroundPicture(kWidth, kHeight);
    ReferenceOptions fieldWise;
    fieldWise.fieldWise = true;
    ReferenceOptions flicker;
    flicker.flickerFilter = true;
    const Picture byField = reference(title, background, fieldWise);
    const Picture flickerFiltered = reference(title, background, flicker);
    ASSERT_GT(maxDifference(byField, flickerFiltered), 0);

    Instance instance(mixer, kWidth, kHeight);
    instance.set("fieldWise", 1.0);
    EXPECT_EQ(maxDifference(instance.mix(background, title), byField), 0);
    instance.set("fieldWise", 0.0);
    instance.set("flickerFilter", 1.0);
    EXPECT_EQ(maxDifference(instance.mix(background, title), flickerFiltered), 0);
}

TEST_F(Frei0rPlugins, InstancesKeepTheirOwnSettingsAcrossThreads) {
    Workspace workspace;
    const Picture title = titlePicture(kWidth, kHeight, 1);
    const Picture background = backgroundPicture(kWidth, kHeight, 1);
    ReferenceOptions sunken;
    sunken.settings = readBytes(settingsFile(workspace, "sunken.prf", {"bevelSunken=sunken"}));
    const Picture raised = reference(title, background);
    const Picture pressed = reference(title, background, sunken);
    ASSERT_GT(maxDifference(raised, pressed), 0);

    Instance a(mixer, kWidth, kHeight), b(mixer, kWidth, kHeight);
    b.set("set", std::string("bevelSunken=sunken"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(maxDifference(a.mix(background, title), raised), 0);
        EXPECT_EQ(maxDifference(b.mix(background, title), pressed), 0);
    }
    // Hosts may render instances from several threads at once: each render
    // still gets its own instance's settings.
    int wrong = 0;
    std::mutex count;
    auto work = [&](Instance &instance, const Picture &expected) {
        for (int i = 0; i < 4; ++i)
            if (maxDifference(instance.mix(background, title), expected) != 0) {
                std::lock_guard<std::mutex> lock(count);
                ++wrong;
            }
    };
    std::thread first(work, std::ref(a), std::cref(raised));
    std::thread second(work, std::ref(b), std::cref(pressed));
    first.join();
    second.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(Frei0rPlugins, StripsOfOneFrameAtOncePassThroughAndCallsInTurnRender) {
    // As MLT with threads=2: one instance of half the frame's height, both
    // halves of one buffer handed over at once with the same time. Calls
    // that happen not to overlap look like frames of their own and render;
    // from the first overlap on, the whole frame passes through, the half
    // rendered before it included.
    const int width = 320, height = 180, half = height / 2;
    const Picture title = titlePicture(width, height, 1, true);
    const std::vector<uint32_t> in = toWords(title);
    std::vector<uint32_t> out(in.size());
    const size_t strip = size_t(width) * half;
    Instance instance(filter, width, half);
    auto halfPassed = [&](size_t index) {
        return std::equal(in.begin() + long(index * strip), in.begin() + long((index + 1) * strip),
                          out.begin() + long(index * strip));
    };
    testing::internal::CaptureStderr();
    int detectedAt = -1;
    for (int frame = 0; frame < 30; ++frame) {
        std::fill(out.begin(), out.end(), 0xDEADBEEF);
        std::atomic<int> ready{0};
        auto run = [&](size_t index) {
            ++ready;
            while (ready < 2) std::this_thread::yield();
            filter.update(instance.handle(), frame, in.data() + index * strip,
                          out.data() + index * strip);
        };
        std::thread first(run, 0), second(run, 1);
        first.join();
        second.join();
        EXPECT_EQ(halfPassed(0), halfPassed(1)) << "half a frame passed through: " << frame;
        if (detectedAt < 0 && halfPassed(0) && halfPassed(1)) detectedAt = frame;
        if (detectedAt >= 0 && detectedAt < frame) {
            EXPECT_TRUE(halfPassed(0) && halfPassed(1)) << frame;
            break;
        }
    }
    const std::string err = testing::internal::GetCapturedStderr();
    RecordProperty("framesBeforeTheFirstOverlap", detectedAt);
    ASSERT_GE(detectedAt, 0) << "the strips never overlapped";
    EXPECT_NE(err.find("lustrafex: MLT hands over each frame in strips of 320x90"),
              std::string::npos)
        << err;

    // Halves handed over one after the other (as a host re-rendering one
    // frame might) are frames of their own: they render.
    Instance another(filter, width, half);
    Picture top = title;
    top.height = half;
    top.bytes.resize(strip * 4);
    const Picture expected = opaque(reference(top, solid(width, half, 0, 0, 0)));
    std::vector<uint32_t> one(in.size(), 0);
    filter.update(another.handle(), 7, in.data(), one.data());
    filter.update(another.handle(), 7, in.data() + strip, one.data() + strip);
    const std::vector<uint32_t> topWords(one.begin(), one.begin() + long(strip));
    EXPECT_EQ(maxDifference(fromWords(topWords, width, half), expected), 0);
}

TEST_F(Frei0rPlugins, OddFrameHeightsRenderAsTheFramePaddedByItsLastRow) {
    const int height = 33;
    const Picture title = titlePicture(kWidth, height, 0, true);
    Picture padded = title;
    padded.height = height + 1;
    padded.bytes.insert(padded.bytes.end(), title.bytes.end() - kWidth * 4, title.bytes.end());
    Picture expected = reference(padded, solid(kWidth, height + 1, 0, 0, 0));
    expected.height = height;
    expected.bytes.resize(size_t(kWidth) * height * 4);

    Instance instance(filter, kWidth, height);
    EXPECT_EQ(maxDifference(instance.filter(title), opaque(expected)), 0);
}

TEST_F(Frei0rPlugins, BadParametersAreReportedAndFallBack) {
    const Picture title = titlePicture(kWidth, kHeight);
    const Picture black = solid(kWidth, kHeight, 0, 0, 0);
    const Picture plain = reference(title, black);
    ReferenceOptions widest;
    Workspace workspace;
    widest.settings = readBytes(settingsFile(workspace, "w.prf", {"bevelWidth=30"}));
    const Picture wide = reference(title, black, widest);

    Instance instance(filter, kWidth, kHeight);
    testing::internal::CaptureStderr();
    instance.set("settings", std::string("/no/such/preset.prf"));
    instance.set("set", std::string("bevelWidth=99 noSuchField=1 glowOn"));
    instance.set("background", std::string("#12"));
    const Picture first = instance.filter(title);
    instance.set("background", std::string("/no/such/picture.png"));
    const Picture second = instance.filter(title);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(maxDifference(first, plain), 0);
    EXPECT_EQ(maxDifference(second, plain), 0);
    EXPECT_NE(err.find("/no/such/preset.prf: no such settings file; using the default settings"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("bevelWidth: 99 is outside"), std::string::npos) << err;
    EXPECT_NE(err.find("noSuchField"), std::string::npos) << err;
    EXPECT_NE(err.find("#12: a colour is written #RRGGBB"), std::string::npos) << err;
    EXPECT_NE(err.find("/no/such/picture.png"), std::string::npos) << err;

    testing::internal::CaptureStderr();
    instance.set("bevelWidth", 7.5);
    const Picture clamped = instance.filter(title);
    instance.set("bevelWidth", std::nan(""));
    instance.filter(title);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(maxDifference(clamped, wide), 0);
    EXPECT_NE(err.find("bevelWidth=7.5 is outside 0..1; using 1"), std::string::npos) << err;
    EXPECT_NE(err.find("bevelWidth=nan is outside 0..1; using 0"), std::string::npos) << err;
}

TEST_F(Frei0rPlugins, UnusableCallsDoNotCrash) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(filter.construct(0, 10), nullptr);
    EXPECT_EQ(mixer.construct(40000, 10), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot work on frames of 0x10"), std::string::npos) << err;
    filter.destruct(nullptr);
    double value = 0.5;
    filter.setParam(nullptr, &value, 0);
    filter.update(nullptr, 0, nullptr, nullptr);
    mixer.update2(nullptr, 0, nullptr, nullptr, nullptr, nullptr);

    Instance instance(mixer, 8, 8);
    instance.set("bevelWidth", 0.5);
    mixer.setParam(instance.handle(), &value, -1);
    mixer.setParam(instance.handle(), &value, 999);
    mixer.getParam(instance.handle(), &value, 999);
    mixer.setParam(instance.handle(), nullptr, 0);
    // A mixer called as a filter passes its input through.
    std::vector<uint32_t> in(64, 0x11223344), out(64, 0);
    mixer.update(instance.handle(), 0, in.data(), out.data());
    EXPECT_EQ(out, in);
    // Tiny frames render (or fall back) without harm.
    const Picture title = titlePicture(8, 8);
    EXPECT_EQ(instance.mix(solid(8, 8, 1, 2, 3), title).bytes.size(), 8u * 8 * 4);
}

TEST_F(Frei0rPlugins, PresetReplacesTheSettingsFileAndSetAndParametersApplyOnTop) {
    Workspace workspace;
    const std::string gold = std::string(LUSTRA_DATA_DIR) + "/presets/gold.prf";
    // The layers' record made by hand: the shipped gold with the changes.
    {
        const auto result =
            workspace.lustra({"presets", "export", "gold", workspace.path("g.prf")});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ASSERT_EQ(
            workspace
                .lustra({"settings", "set", workspace.path("g.prf"), "glowOn=on", "bevelWidth=15"})
                .exitCode,
            0);
    }
    const Picture title = titlePicture(kWidth, kHeight, 1);
    const Picture background = backgroundPicture(kWidth, kHeight, 2);
    ReferenceOptions plain, layered;
    plain.settings = readBytes(gold);
    layered.settings = readBytes(workspace.path("g.prf"));
    const Picture expectedPlain = reference(title, background, plain);
    const Picture expectedLayered = reference(title, background, layered);

    // The parameter is the last one, after alpha.
    for (const Plugin *plugin : {&filter, &mixer}) {
        const int count = plugin->info().num_params;
        EXPECT_EQ(plugin->parameter("preset"), count - 1);
        EXPECT_EQ(plugin->parameterInfo(count - 1).type, F0R_PARAM_STRING);
        EXPECT_EQ(plugin->parameter("alpha"), count - 2);
    }
    Instance instance(mixer, kWidth, kHeight);
    const std::string base = settingsFile(workspace, "base.prf", {"fill1Mode=plain"});
    testing::internal::CaptureStderr();
    instance.set("settings", base);
    instance.set("preset", std::string("gold"));
    EXPECT_EQ(maxDifference(instance.mix(background, title), expectedPlain), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("the preset is used, the settings file is not"), std::string::npos) << err;
    EXPECT_EQ(instance.text("preset"), "gold");
    instance.set("set", std::string("glowOn:on"));
    instance.set("bevelWidth", 0.5);
    EXPECT_EQ(maxDifference(instance.mix(background, title), expectedLayered), 0);

    // In ffmpeg, whose parameters are positional, preset:NAME in `set`.
    Instance viaSet(filter, kWidth, kHeight);
    viaSet.set("background", std::string("#000000"));
    viaSet.set("set", std::string("preset:gold glowOn:on bevelWidth:15"));
    const Picture black = solid(kWidth, kHeight, 0, 0, 0);
    EXPECT_EQ(
        maxDifference(viaSet.filter(withAlpha(title)), opaque(reference(title, black, layered))),
        0);

    // An unknown preset: the defaults, with the names that exist.
    Instance unknown(filter, kWidth, kHeight);
    testing::internal::CaptureStderr();
    unknown.set("preset", std::string("golden"));
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no preset \"golden\" (available: "), std::string::npos) << err;
    EXPECT_NE(err.find("using the default settings"), std::string::npos) << err;
}
