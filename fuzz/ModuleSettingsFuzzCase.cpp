// The module's settings read paths: the input is written as the instance's
// settings file, which the set-up reads (a short file replaces only its
// leading bytes, a long one only the first 824), and a small frame is then
// rendered with the record read; the same file is then loaded as a preset
// is in the dialog and rendered by the preview.
#include "FuzzCases.h"
#include "FuzzHost.h"

#include "driver/FrameRender.h"
#include "driver/PreviewRender.h"
#include "driver/SourceImages.h"
#include "engine/Engine.h"
#include "operator/FieldRendering.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace lustra::fuzz {

namespace {

// What loading a preset does in the dialog: the record is read from the
// file, the sources are loaded again and the preview is set up and rendered
// whole, then one stage and the shading again, as after a change.
void previewPreset(FuzzHost &host, const std::string &path) {
    HostBackend *previous = lustraInstallBackend(&host);
    GetOperatorInfo();
    if (readSettingsFrom(path.c_str())) {
        fieldState.inputFrame0 = host.frames[0].data();
        fieldState.inputFrame1 = host.frames[1].data();
        fieldState.projectFrameWidth = host.width;
        fieldState.projectFrameHeight = host.height;
        std::vector<uint32_t> preview(host.frames[1].size(), 0x000000FFu);
        previewTarget.frame = preview.data();
        previewTarget.display = nullptr;
        driverState.engineError = 0;
        driverState.maskBuilt = 0;
        operatorState.sourcesCached = 0; // every loader asks the host again
        for (auto load : {loadMap1Source, loadMap2Source, loadFill1Source, loadFill2Source,
                          loadTexture1Source, loadTexture2Source})
            load();
        previewNeedsSetup = 1;
        renderPreview(kStepAll);
        renderPreview(kStepGlow);
        renderPreview(kStepMap1);
        engineTeardown();
        driverState.engineReady = 0;
        releaseWorkBuffers();
        releaseSourceImages();
        fieldState.inputFrame0 = fieldState.inputFrame1 = nullptr;
        previewTarget = PreviewTarget{};
        previewNeedsSetup = 0;
    }
    lustraInstallBackend(previous);
}

} // namespace

void moduleSettingsFuzzCase(const uint8_t *data, size_t size) {
    const char *home = std::getenv("VXHOME");
    if (!home) return;
    FuzzHost host;
    host.settingsName = std::string(kSettingsPrefix) + "fuzz-" + std::to_string(getpid()) + ".prf";
    const std::string path = home + host.settingsName;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (written) {
        // A 24 x 16 frame: a bright ellipse on a dark ground over a grey
        // background, and 9 x 7 source pictures for every layer.
        host.width = 24;
        host.height = 16;
        for (auto &frame : host.frames) frame.resize(size_t(host.width) * host.height);
        for (int y = 0; y < host.height; ++y)
            for (int x = 0; x < host.width; ++x) {
                const int ex = (x - 12) * 2, ey = (y - 8) * 3;
                const uint32_t luminance = ex * ex + ey * ey <= 400 ? 235 : 16;
                host.frames[1][size_t(y) * host.width + x] =
                    (luminance << 24) | 0x808000u | luminance;
                host.frames[0][size_t(y) * host.width + x] = 0x80808000u | 0xFFu;
            }
        host.sourceSizes = {9, 7};
        host.sourceSeed = 0x2545;
        const int32_t choices[3] = {1, 0, 0};
        OperatorContext context{};
        context.scaleNumerator = context.scaleDenominator = 1;
        context.fieldCount = 2;
        context.pixelAspect = 1000;
        renderBothFields(host, choices, context, nullptr);
        host.sourceRequest = 0;
        previewPreset(host, path);
    }
    std::remove(path.c_str());
}

} // namespace lustra::fuzz
