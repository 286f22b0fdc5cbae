// The fixture of the dialog tests: a scripted host with a short clip, a home
// of its own, and the module's code set up for an effect instance.
#pragma once

#include "dialog/ScriptedHost.h"

#include "dialog/DialogServices.h"
#include "dialog/DialogState.h"
#include "driver/FrameRender.h"
#include "driver/PreviewRender.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace lustra::test {

constexpr int32_t kFrameWidth = 64, kFrameHeight = 48, kClipFrames = 3;

// Frame k of input 1: a light bar on black, moving right with k.
Frame titleFrame(int32_t k);
// Frame k of input 0: a colourful picture, different for every k.
Frame pictureFrame(int32_t k);

class DialogTest : public ::testing::Test {
  protected:
    ScriptedHost host;
    TempHome home;
    OperatorContext context{};

    void SetUp() override;
    void TearDown() override;

    // Changes the record and stores it as the settings file the dialog reads.
    void prepare(const std::function<void(EffectSettings &)> &change);
    // Runs the edit action (the dialog) to its end.
    void runDialog();
    std::vector<uint8_t> settingsFile() const { return readBytes(home.settingsPath()); }
    static std::vector<uint8_t> record();
    // The preview trace captured by `capture` calls of the script.
    std::vector<PreviewTrace> traces;
    void capture() {
        host.then([this] { traces.push_back(previewTrace); });
    }
};

} // namespace lustra::test
