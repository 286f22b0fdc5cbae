// The settings record (defaults, files) and its translation into the render
// job (colours, percentages, derived flags, second layers, bad values).
#include "driver/RenderJob.h"
#include "driver/SourceImages.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace lustra;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> recordBytes() {
    std::vector<uint8_t> bytes(kSettingsSize);
    std::memcpy(bytes.data(), &settings, kSettingsSize);
    return bytes;
}

// A VXHOME in a temporary directory, with the settings directory.
struct ScratchHome {
    std::string path;
    ScratchHome() {
        char pattern[] = "/tmp/lustra-unit-XXXXXX";
        path = mkdtemp(pattern);
        fs::create_directories(path + "/programs/lustra/settings");
        setenv("VXHOME", path.c_str(), 1);
        operatorState.settingsName = kDefaultSettingsName;
    }
    ~ScratchHome() {
        unsetenv("VXHOME");
        fs::remove_all(path);
    }
    std::string settingsFile() const { return path + kDefaultSettingsName; }
};

void expectRgb(const Rgb &rgb, int r, int g, int b) {
    EXPECT_EQ(rgb.r, r);
    EXPECT_EQ(rgb.g, g);
    EXPECT_EQ(rgb.b, b);
}

} // namespace

TEST(Settings, DefaultsMatchTheRecordLayoutByteForByte) {
    std::memset(&settings, 0, sizeof settings);
    resetSettings();
    std::vector<uint8_t> expected(kSettingsSize, 0);
    const uint8_t head[36] = {0,   0,  0,    0,   0,    0,    0,    0,    0,    0,    0,    8,
                              100, 7,  0xFF, 0,   0,    0,    10,   100,  100,  0,    0,    5,
                              100, 30, 1,    128, 0xEE, 0xFF, 0xFF, 0xFF, 0xEE, 0xFF, 0xFF, 0xFF};
    std::memcpy(expected.data(), head, 36);
    auto word = [&](size_t offset, uint32_t value) { std::memcpy(&expected[offset], &value, 4); };
    for (size_t offset : {148, 274, 658, 788}) word(offset, 0x00640064);
    word(404, 0x801092FF);
    word(408, 0xEB8080FF);
    word(412, 0x108080FF);
    expected[416] = 0;
    expected[417] = 1;
    word(532, 0x7A8080FF);
    word(536, 0xEB8080FF);
    word(540, 0x108080FF);
    expected[544] = 25;
    expected[545] = 1;
    word(662, 0x0000FFFF);
    word(792, 0x0000FFFF);
    word(808, 0xD21092FF);
    word(812, 0x515AF0FF);
    word(816, 0x108080FF);
    EXPECT_EQ(recordBytes(), expected);
}

TEST(Settings, ResetLeavesReservedBytesAndThePreviewFrameAlone) {
    std::memset(&settings, 0xAB, sizeof settings);
    resetSettings();
    const std::vector<uint8_t> bytes = recordBytes();
    for (size_t offset : {278, 279, 402, 403, 530, 531, 798, 799, 820, 821, 822, 823})
        EXPECT_EQ(bytes[offset], 0xAB) << offset;
    EXPECT_EQ(bytes[4], 0) << "the reserved byte 4 lies in the first nine words";
}

TEST(Settings, FilesRoundTripAndShortFilesReplaceOnlyTheirBytes) {
    ScratchHome home;
    for (size_t i = 0; i < kSettingsSize; ++i)
        reinterpret_cast<uint8_t *>(&settings)[i] = uint8_t(i * 7 + 3);
    const std::vector<uint8_t> written = recordBytes();
    ASSERT_TRUE(writeSettingsFile());
    EXPECT_EQ(fs::file_size(home.settingsFile()), kSettingsSize);
    std::memset(&settings, 0, sizeof settings);
    readSettingsFile();
    EXPECT_EQ(recordBytes(), written);

    // A 10-byte file changes only offsets 0..9; a longer file only 824 bytes.
    std::ofstream(home.settingsFile(), std::ios::binary).write("ABCDEFGHIJ", 10);
    readSettingsFile();
    std::vector<uint8_t> expected = written;
    std::memcpy(expected.data(), "ABCDEFGHIJ", 10);
    EXPECT_EQ(recordBytes(), expected);

    std::ofstream(home.settingsFile(), std::ios::binary) << std::string(900, 'z');
    readSettingsFile();
    EXPECT_EQ(recordBytes(), std::vector<uint8_t>(kSettingsSize, 'z'));
}

TEST(Settings, MissingFilesAndHomesLeaveTheRecordAndTheOldFileAlone) {
    resetSettings();
    const std::vector<uint8_t> before = recordBytes();
    {
        ScratchHome home;
        fs::remove_all(home.path + "/programs");
        readSettingsFile();
        EXPECT_FALSE(writeSettingsFile()) << "the settings directory is not created";
    }
    unsetenv("VXHOME");
    readSettingsFile();
    EXPECT_FALSE(writeSettingsFile());
    EXPECT_EQ(recordBytes(), before);

    ScratchHome home;
    ASSERT_TRUE(writeSettingsFile());
    // A failing write (a file-size limit below 824 bytes, as on a full disk)
    // keeps the previous file whole and leaves no temporary file.
    struct rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit small = previous;
    small.rlim_cur = 100;
    void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    settings.bevelWidth = 3;
    const bool written = writeSettingsFile();
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    for (const auto &entry : fs::directory_iterator(fs::path(home.settingsFile()).parent_path()))
        EXPECT_EQ(entry.path(), fs::path(home.settingsFile())) << "left behind";
    EXPECT_EQ(fs::file_size(home.settingsFile()), kSettingsSize);
    std::vector<uint8_t> onDisk(kSettingsSize);
    std::ifstream(home.settingsFile(), std::ios::binary)
        .read(reinterpret_cast<char *>(onDisk.data()), kSettingsSize);
    EXPECT_EQ(onDisk, before);
}

TEST(RenderJobTranslation, PercentagesBecomeSignedBytes) {
    const std::pair<int16_t, int8_t> cases[] = {{25, -128}, {100, 0}, {400, 127}, {250, 63},
                                                {50, -86},  {99, -2}, {101, 0}};
    for (const auto &[percent, expected] : cases)
        EXPECT_EQ(percentToSigned(percent), expected) << percent;
    // Values outside the dialog's range keep their low 8 bits, without overflow.
    EXPECT_EQ(percentToSigned(32767), static_cast<int8_t>(static_cast<uint8_t>(32667 * 127 / 300)));
    EXPECT_EQ(percentToSigned(-32768),
              static_cast<int8_t>(static_cast<uint8_t>(-32793 * 128 / 75 - 128)));
}

TEST(RenderJobTranslation, ColoursAreConvertedInSinglePrecisionAndClamped) {
    expectRgb(colourToRgb(0x801092FF), 153, 153, 0);
    expectRgb(colourToRgb(0xEB8080FF), 235, 235, 235);
    expectRgb(colourToRgb(0x108080FF), 16, 16, 16);
    expectRgb(colourToRgb(0xD21092FF), 235, 235, 11);
    expectRgb(colourToRgb(0x515AF0FF), 238, 14, 13);
    const Rgb bright = colourToRgb(0xFF80FF00); // Y 255, Cr 255: R 433 clamps
    EXPECT_EQ(bright.r, 255);
    EXPECT_EQ(colourToRgb(0x00000000).b, 0) << "-226.8 clamps to 0";
}

TEST(RenderJobTranslation, BulkPixelConversionMatchesTheColourFormulaEverywhere) {
    std::vector<uint32_t> host(65536), rgb(65536);
    for (uint32_t y = 0; y < 256; ++y) {
        for (uint32_t i = 0; i < 65536; ++i) host[i] = (y << 24) | (i << 8) | 0x33;
        hostPixelsToRgb(host.data(), rgb.data(), host.size());
        for (uint32_t i = 0; i < 65536; ++i) {
            const Rgb expected = colourToRgb(host[i]);
            ASSERT_EQ(rgb[i],
                      (uint32_t(expected.r) << 16) | (uint32_t(expected.g) << 8) | expected.b)
                << y << " " << i;
        }
    }
}

TEST(RenderJobTranslation, PixelConversionTablesMatchTheColourFormulaEverywhere) {
    for (uint32_t y = 0; y < 256; ++y)
        for (uint32_t cb = 0; cb < 256; ++cb)
            for (uint32_t cr = 0; cr < 256; ++cr) {
                const uint32_t pixel = (y << 24) | (cb << 16) | (cr << 8) | 0x5A;
                const Rgb rgb = colourToRgb(pixel);
                const uint32_t expected =
                    0x7F000000u | (uint32_t(rgb.r) << 16) | (uint32_t(rgb.g) << 8) | rgb.b;
                ASSERT_EQ(hostPixelToRgb(pixel, 0x7F000000u), expected)
                    << y << " " << cb << " " << cr;
            }
}

class JobFromSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        resetSettings();
        secondLayersOption.value = 0;
        fieldState.scaleNumerator = fieldState.scaleDenominator = 1;
        releaseSourceImages();
    }
    void TearDown() override { releaseSourceImages(); }
};

TEST_F(JobFromSettings, DefaultsGiveTheDocumentedJob) {
    fillRenderJob(0);
    const RenderJob &job = renderJob;
    expectRgb(job.fill[0].colourA, 153, 153, 0);
    expectRgb(job.fill[0].colourB, 235, 235, 235);
    expectRgb(job.fill[0].colourC, 16, 16, 16);
    expectRgb(job.glow.colour1, 235, 235, 11);
    expectRgb(job.glow.colour2, 238, 14, 13);
    expectRgb(job.shadow.colour, 16, 16, 16);
    EXPECT_EQ(job.glow.on, 0);
    EXPECT_EQ(job.shadow.on, 1);
    EXPECT_EQ(job.bevel.direction, kBevelRaised);
    EXPECT_EQ(job.glow.profile, kGlowDistance);
    EXPECT_EQ(job.bevel.edgeSlope, -1); // the settings byte 0xFF
    EXPECT_EQ(job.border, 30);
    EXPECT_EQ(job.bevel.on, 1);
    EXPECT_EQ(job.smoothShading, 1);
}

TEST_F(JobFromSettings, ScaledRendersScaleTheBevelRadiiUpToThirty) {
    settings.bevelWidth = 20;
    settings.bevelSmoothing = 7;
    fieldState.scaleNumerator = 2;
    fieldState.scaleDenominator = 1;
    fillRenderJob(1);
    EXPECT_EQ(renderJob.bevel.width, 30);
    EXPECT_EQ(renderJob.bevel.smoothing, 14);
    fieldState.scaleNumerator = 1;
    fieldState.scaleDenominator = 2;
    fillRenderJob(1);
    EXPECT_EQ(renderJob.bevel.width, 10);
    EXPECT_EQ(renderJob.bevel.smoothing, 3);
    // A zero denominator renders unscaled.
    fieldState.scaleDenominator = 0;
    fillRenderJob(1);
    EXPECT_EQ(renderJob.bevel.width, 20);
    // A negative ratio: the low byte of a negative result exceeds 30.
    fieldState.scaleNumerator = -1;
    fieldState.scaleDenominator = 1;
    fillRenderJob(1);
    EXPECT_EQ(renderJob.bevel.width, 30);
}

TEST_F(JobFromSettings, DerivedFlagsAndLimitsForValuesFromAFile) {
    settings.glowOn = 1;
    settings.glowWidth = 200; // negative as a signed byte
    fillRenderJob(0);
    EXPECT_EQ(renderJob.glow.on, 0);

    settings.glowWidth = 100;
    settings.glowOpacity = 120;
    settings.shadowOpacity = 127;
    settings.shadowSoftness = 255;
    settings.bevelWidth = 255;
    settings.bevelSmoothing = 31;
    fillRenderJob(0);
    EXPECT_EQ(renderJob.glow.on, 1);
    EXPECT_EQ(renderJob.glow.width, 30);
    EXPECT_EQ(renderJob.glow.opacity, 100);
    EXPECT_EQ(renderJob.shadow.opacity, 100);
    EXPECT_EQ(renderJob.shadow.softness, 30);
    EXPECT_EQ(renderJob.bevel.width, 30);
    EXPECT_EQ(renderJob.bevel.smoothing, 30);

    settings.shadowOpacity = 200;
    settings.bevelSunken = 1;
    settings.glowBlurred = 1;
    fillRenderJob(0);
    EXPECT_EQ(renderJob.shadow.on, 0);
    EXPECT_EQ(renderJob.bevel.direction, kBevelSunken);
    EXPECT_EQ(renderJob.glow.profile, kGlowBlurred);
}

TEST_F(JobFromSettings, PictureModesWithoutPicturesFallBack) {
    settings.fill1Mode = 4;
    settings.texture1Type = 5;
    settings.map1On = 1;
    fillRenderJob(0);
    EXPECT_EQ(renderJob.fill[0].mode, 0);
    EXPECT_EQ(renderJob.fill[0].image, nullptr);
    EXPECT_EQ(renderJob.texture[0].type, 0);
    EXPECT_EQ(renderJob.map[0].on, 0);
    for (uint8_t type : {200, 128, 255, 6}) {
        settings.texture1Type = type;
        fillRenderJob(0);
        EXPECT_EQ(renderJob.texture[0].type, 0) << int(type);
    }
    settings.texture1Type = 3;
    settings.fill1Mode = 9;
    fillRenderJob(0);
    EXPECT_EQ(renderJob.texture[0].type, 3);
    EXPECT_EQ(renderJob.fill[0].mode, 0);
}

TEST_F(JobFromSettings, WithoutSecondLayersTheBackgroundIsPlainWhite) {
    settings.fill2Mode = 2;
    settings.texture2Type = 3;
    settings.texture2On = 1;
    settings.map2On = 1;
    settings.map2ScaleX = 250;
    fillRenderJob(0);
    expectRgb(renderJob.fill[1].colourA, 255, 255, 255);
    expectRgb(renderJob.fill[1].colourB, 235, 235, 235);
    EXPECT_EQ(renderJob.fill[1].mode, 0);
    EXPECT_EQ(renderJob.texture[1].type, 0);
    EXPECT_EQ(renderJob.texture[1].on, 1);
    EXPECT_EQ(renderJob.map[1].on, 0) << "no picture of the current frame yet";

    // With the current frame converted, map 2 shows it at 100 % and position 0.
    uint32_t frame[4] = {0x80808000u, 0x80808000u, 0x80808000u, 0x80808000u};
    fieldState.inputFrame0 = frame;
    fieldState.projectFrameWidth = 2;
    fieldState.projectFrameHeight = 2;
    loadMap2Source();
    fieldState.inputFrame0 = nullptr;
    fillRenderJob(0);
    EXPECT_EQ(renderJob.map[1].on, 1);
    EXPECT_EQ(renderJob.map[1].zoomX, 0);
    EXPECT_EQ(renderJob.map[1].offsetX, 0);
    EXPECT_EQ(renderJob.map[1].imageWidth, 2);

    secondLayersOption.value = 1;
    fillRenderJob(0);
    EXPECT_EQ(renderJob.fill[1].mode, 2);
    EXPECT_EQ(renderJob.texture[1].type, 3);
    EXPECT_EQ(renderJob.map[1].zoomX, 63);
    expectRgb(renderJob.fill[1].colourA, 122, 122, 122);
}

TEST_F(JobFromSettings, TheDataDirectoryFollowsVxhome) {
    setenv("VXHOME", "/opt/vx", 1);
    fillRenderJob(0);
    EXPECT_STREQ(renderJob.dataDirectory, "/opt/vx/lustra/");
    setenv("VXHOME", std::string(5000, 'v').c_str(), 1);
    fillRenderJob(0);
    EXPECT_STREQ(renderJob.dataDirectory, "") << "an over-long home names no directory";
    unsetenv("VXHOME");
    fillRenderJob(0);
    EXPECT_STREQ(renderJob.dataDirectory, "");
}

// In a frame render the layers that show input 0's frame convert it once and
// share the picture (map 2's waits for the engine set-up); a layer loaded
// anew afterwards, or released, leaves the others a picture that is still
// there and still right. (Pictures this small go back to the system at once,
// so that a picture freed while another layer still reads it shows under the
// address sanitizer.)
TEST_F(JobFromSettings, LayersShowingTheFrameShareOnePictureThatOutlivesEachOfThem) {
    const uint32_t frame[8] = {0x80808000u, 0x10F02000u, 0xEB108000u, 0x4060A000u,
                               0x00FF00FFu, 0xFF00FF00u, 0x7F7F7F7Fu, 0x20202020u};
    uint32_t expected[8];
    hostPixelsToRgb(frame, expected, 8);
    fieldState.inputFrame0 = const_cast<uint32_t *>(frame);
    fieldState.projectFrameWidth = 4;
    fieldState.projectFrameHeight = 2;
    secondLayersOption.value = 1;
    settings.fill1Mode = 3;
    settings.map2On = 1;
    settings.map2FromSource = 0;
    settings.texture1Type = settings.texture2Type = 4;
    auto holdsTheFrame = [&](SourceLayer layer) {
        const SourceImage &image = sourceImages[layer];
        ASSERT_NE(image.pixels, nullptr) << layer;
        ASSERT_EQ(image.width, 4);
        ASSERT_EQ(image.height, 2);
        for (int i = 0; i < 8; ++i) ASSERT_EQ(image.pixels[i], expected[i]) << layer << " " << i;
    };

    deferMap2Conversion(true);
    for (auto load : {loadMap1Source, loadMap2Source, loadFill1Source, loadFill2Source,
                      loadTexture1Source, loadTexture2Source})
        load();
    deferMap2Conversion(false);
    EXPECT_EQ(sourceImages[kLayerMap2].deferred, 1) << "converted after the set-up";
    EXPECT_EQ(sourceImages[kLayerFill1].sharesPixels, 0);
    EXPECT_EQ(sourceImages[kLayerTexture1].pixels, sourceImages[kLayerFill1].pixels);
    EXPECT_EQ(sourceImages[kLayerTexture2].pixels, sourceImages[kLayerFill1].pixels);
    EXPECT_NE(sourceImages[kLayerMap2].pixels, sourceImages[kLayerFill1].pixels);
    convertDeferredMap2(true, 0, 0, 0, 0);
    EXPECT_EQ(sourceImages[kLayerMap2].deferred, 0);
    for (SourceLayer layer : {kLayerMap2, kLayerFill1, kLayerTexture1, kLayerTexture2})
        holdsTheFrame(layer);

    // The owner loaded anew outside a render: texture 1 takes the picture over.
    loadFill1Source();
    EXPECT_NE(sourceImages[kLayerFill1].pixels, sourceImages[kLayerTexture1].pixels);
    EXPECT_EQ(sourceImages[kLayerTexture1].sharesPixels, 0);
    EXPECT_EQ(sourceImages[kLayerTexture2].pixels, sourceImages[kLayerTexture1].pixels);
    for (SourceLayer layer : {kLayerFill1, kLayerTexture1, kLayerTexture2}) holdsTheFrame(layer);
    // Texture 1 switched to a pattern: texture 2 keeps the picture alone.
    settings.texture1Type = 1;
    loadTexture1Source();
    EXPECT_EQ(sourceImages[kLayerTexture1].pixels, nullptr);
    EXPECT_EQ(sourceImages[kLayerTexture2].sharesPixels, 0);
    holdsTheFrame(kLayerTexture2);
    fieldState.inputFrame0 = nullptr;
    releaseSourceImages();
    for (const SourceImage &image : sourceImages) EXPECT_EQ(image.pixels, nullptr);
}
