// The far region: where the title, its glow and its shadow cannot reach, the
// output conversion lays the background fill itself instead of the stages.
// (A background lit, of metal or of a picture, the default with second
// layers, varies with the position: there the stages render the whole frame.)
// Every frame here is rendered both ways through the operator and must come
// out the same to the byte, with the title at the edges, empty, inverted,
// with maps, textures and other background fills, field by field and on odd
// sizes.
#include "driver/FrameRender.h"
#include "driver/SourceImages.h"
#include "lustrafex/host_backend.h"
#include "operator/Operator.h"
#include "operator/Settings.h"
#include "support/MemoryHost.h"
#include "support/TitleShape.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace lustra;

namespace {

using tools::hostPixel;

// A title frame: luminance 16 with a block of luminance 235 (anti-aliased at
// its left edge) at [x0, x1) x [y0, y1); an empty block gives an empty title.
std::vector<uint32_t> blockTitle(int w, int h, int x0, int x1, int y0, int y1) {
    std::vector<uint32_t> frame(size_t(w) * h, hostPixel(16, 128, 128));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            frame[size_t(y) * w + x] = hostPixel(x == x0 ? 120 : 235, 128, 128);
    return frame;
}

struct Case {
    std::string name;
    int width, height;
    std::vector<uint32_t> title;
    std::function<void(EffectSettings &)> change;
    int secondLayers = 0;
    int fieldWise = 0;
    std::vector<uint32_t> background = {}; // empty: tools::backgroundFrame
};

class FarRegion : public ::testing::Test {
  protected:
    tools::MemoryHost host;
    void SetUp() override {
        if (!std::getenv("VXHOME")) setenv("VXHOME", LUSTRA_DATA_DIR, 1);
        lustraInstallBackend(&host);
    }
    void TearDown() override {
        driverState.fuseFarRegion = 1;
        fieldWiseOption.value = 0;
        secondLayersOption.value = 0;
        lustraInstallBackend(nullptr);
    }

    // Renders one frame of the case (both fields) with or without the far region.
    std::vector<uint32_t> render(const Case &c, int fuse) {
        host.setFrames(c.width, c.height, c.title,
                       c.background.empty() ? tools::backgroundFrame(c.width, c.height)
                                            : c.background);
        OperatorContext context{};
        GetOperatorInfo();
        secondLayersOption.value = c.secondLayers;
        fieldWiseOption.value = c.fieldWise;
        context.action = 1;
        OperatorAction(&context);
        if (c.change) c.change(settings);
        driverState.fuseFarRegion = fuse;
        for (int field = 0; field < 2; ++field) {
            context.action = 3;
            context.fieldNumber = field;
            EXPECT_EQ(OperatorAction(&context), 0) << c.name;
        }
        context.action = 2;
        OperatorAction(&context);
        return host.rendered();
    }

    void expectSame(const Case &c) {
        const std::vector<uint32_t> whole = render(c, 0);
        const std::vector<uint32_t> fused = render(c, 2);
        ASSERT_EQ(whole.size(), size_t(c.width) * c.height) << c.name;
        ASSERT_EQ(fused.size(), whole.size()) << c.name;
        size_t differing = 0, first = whole.size();
        for (size_t i = 0; i < whole.size(); ++i)
            if (whole[i] != fused[i]) {
                if (differing++ == 0) first = i;
            }
        EXPECT_EQ(differing, 0u) << c.name << ": first at x " << first % c.width << " y "
                                 << first / c.width;
    }
};

void plain(EffectSettings &) {}

} // namespace

TEST_F(FarRegion, TitlesAtTheEdgesEmptyAndInvertedRenderAsTheWholeFrame) {
    const int w = 161, h = 97; // odd sizes
    const std::vector<Case> cases = {
        {"centre", w, h, blockTitle(w, h, 70, 90, 40, 55), plain},
        {"left edge", w, h, blockTitle(w, h, 0, 12, 30, 60), plain},
        {"right edge", w, h, blockTitle(w, h, w - 9, w, 10, 20), plain},
        {"top edge", w, h, blockTitle(w, h, 40, 80, 0, 6), plain},
        {"bottom corner", w, h, blockTitle(w, h, w - 20, w, h - 7, h), plain},
        {"one pixel", w, h, blockTitle(w, h, 100, 101, 50, 51), plain},
        {"empty", w, h, blockTitle(w, h, 0, 0, 0, 0), plain},
        {"empty inverted", w, h, blockTitle(w, h, 0, 0, 0, 0),
         [](EffectSettings &s) { s.invertShape = 1; }},
        {"inverted", w, h, blockTitle(w, h, 60, 90, 30, 50),
         [](EffectSettings &s) { s.invertShape = 1; }},
        {"small title shape", 320, 181, blockTitle(320, 181, 0, 0, 0, 0), plain},
    };
    for (const Case &c : cases) expectSame(c);
    Case shape{"title shape", 331, 187, {}, plain};
    shape.title = tools::titleFrame(331, 187);
    expectSame(shape);
}

TEST_F(FarRegion, GlowShadowAndFillsRenderAsTheWholeFrame) {
    const int w = 203, h = 111;
    const std::vector<uint32_t> title = blockTitle(w, h, 90, 120, 40, 70);
    const std::vector<Case> cases = {
        {"glow", w, h, title,
         [](EffectSettings &s) {
             s.glowOn = 1;
             s.glowWidth = 30;
         }},
        {"long shadow", w, h, title,
         [](EffectSettings &s) {
             s.shadowOn = 1;
             s.shadowDistance = 250;
             s.shadowSoftness = 30;
             s.offsetX = -40;
             s.offsetY = 35;
         }},
        {"shadow off", w, h, title, [](EffectSettings &s) { s.shadowOn = 0; }},
        {"background colour", w, h, title, [](EffectSettings &s) { s.fill2ColourA = 0x00C08040u; }},
        {"lit background", w, h, title, [](EffectSettings &s) { s.fill2Mode = 1; }, 1},
        {"metal background", w, h, title, [](EffectSettings &s) { s.fill2Mode = 2; }, 1},
        {"background picture", w, h, title, [](EffectSettings &s) { s.fill2Mode = 3; }, 1},
    };
    for (const Case &c : cases) expectSame(c);
}

TEST_F(FarRegion, MapsTexturesAndFieldsRenderAsTheWholeFrame) {
    const int w = 187, h = 121;
    const std::vector<uint32_t> title = blockTitle(w, h, 20, 60, 70, 90);
    const std::vector<Case> cases = {
        {"maps and textures", w, h, title,
         [](EffectSettings &s) {
             s.texture1On = s.texture2On = 1;
             s.texture1Type = 1;
             s.texture2Type = 2;
             s.map1On = s.map2On = 1;
             s.map1ScaleX = s.map1ScaleY = 150;
             s.fill2Mode = 0;
         },
         1},
        {"map 2 moved", w, h, title,
         [](EffectSettings &s) {
             s.map2On = 1;
             s.fill2Mode = 0;
             s.map2OffsetX = 37;
             s.map2OffsetY = -23;
         },
         1},
        {"map 2 zoomed", w, h, title,
         [](EffectSettings &s) {
             s.map2On = 1;
             s.fill2Mode = 0;
             s.map2ScaleX = s.map2ScaleY = 300;
         },
         1},
        {"map 2 off", w, h, title,
         [](EffectSettings &s) {
             s.map2On = 0;
             s.fill2Mode = 0;
         },
         1},
        {"picture texture 2", w, h, title,
         [](EffectSettings &s) {
             s.texture2On = 1;
             s.texture2Type = 4;
             s.fill2Mode = 0;
         },
         1},
        {"field by field", w, h, title, plain, 0, 1},
        {"field by field, second layers", w, h, title,
         [](EffectSettings &s) {
             s.map2On = 1;
             s.fill2Mode = 0;
         },
         1, 1},
    };
    for (const Case &c : cases) expectSame(c);
    // The flicker filter needs the whole frame: both settings agree.
    Case flicker{"flicker filter", w, h, title, plain};
    flickerFilterOption.value = 1;
    expectSame(flicker);
    flickerFilterOption.value = 0;
}

// The shadow pushed off each edge of the frame by the light offset, and the
// glow and shadow reaching past the near box's margin: the near box must
// follow the displacement and the widest reach.
TEST_F(FarRegion, ShadowAndGlowReachAtTheFrameEdgesRenderAsTheWholeFrame) {
    const int w = 173, h = 109;
    auto shadowTowards = [](int offsetX, int offsetY, int softness) {
        return [=](EffectSettings &s) {
            s.shadowOn = 1;
            s.shadowDistance = 200;
            s.shadowSoftness = uint8_t(softness);
            s.offsetX = offsetX;
            s.offsetY = offsetY;
        };
    };
    const std::vector<Case> cases = {
        {"shadow out of the left edge", w, h, blockTitle(w, h, 0, 15, 40, 60),
         shadowTowards(60, 0, 0)},
        {"shadow out of the right edge", w, h, blockTitle(w, h, w - 15, w, 40, 60),
         shadowTowards(-60, 0, 3)},
        {"shadow out of the top", w, h, blockTitle(w, h, 60, 90, 0, 10), shadowTowards(0, 60, 30)},
        {"shadow into the frame from the bottom", w, h, blockTitle(w, h, 60, 90, h - 10, h),
         shadowTowards(-35, 50, 8)},
        {"blurred glow at a corner", w, h, blockTitle(w, h, 0, 20, 0, 20),
         [](EffectSettings &s) {
             s.glowOn = 1;
             s.glowBlurred = 1;
             s.glowWidth = 30;
             s.shadowOn = 0;
         }},
        {"narrow glow, wide bevel", w, h, blockTitle(w, h, 80, 100, 50, 60),
         [](EffectSettings &s) {
             s.glowOn = 1;
             s.glowWidth = 2;
             s.bevelWidth = 30;
             s.bevelSmoothing = 30;
         }},
    };
    for (const Case &c : cases) expectSame(c);
}

namespace {

// Everything on, over a title that fills most of the frame: it leaves data
// in every plane of the engine.
void everythingOn(EffectSettings &s) {
    s.glowOn = 1;
    s.glowWidth = 20;
    s.shadowOn = 1;
    s.shadowSoftness = 12;
    s.texture1On = s.texture2On = 1;
    s.texture1Type = 1;
    s.texture2Type = 2;
    s.map1On = s.map2On = 1;
}

} // namespace

// A frame render leaves out the planes of the stages that are off and clears
// only what the stages read unwritten; planes large enough to be kept for
// reuse come back holding an earlier frame's data. A frame rendered right
// after one with every stage on, in the same session, must equal the same
// frame rendered from fresh memory.
TEST_F(FarRegion, PlanesOfAnEarlierFrameDoNotShowThrough) {
    const int w = 640, h = 480; // byte planes above the recycler's smallest kept size
    const std::vector<uint32_t> title = blockTitle(w, h, 200, 420, 300, 380);
    const std::vector<Case> cases = {
        {"default", w, h, title, plain},
        {"no bevel width, glow profile", w, h, title,
         [](EffectSettings &s) {
             s.bevelWidth = 0;
             s.bevelSmoothing = 0;
             s.glowOn = 1;
             s.glowWidth = 12;
         }},
        {"blurred glow", w, h, title,
         [](EffectSettings &s) {
             s.glowOn = 1;
             s.glowBlurred = 1;
             s.glowWidth = 9;
         }},
        {"empty title, glow and shadow", w, h, blockTitle(w, h, 0, 0, 0, 0),
         [](EffectSettings &s) {
             s.glowOn = 1;
             s.shadowOn = 1;
         }},
        {"texture 1, unsmoothed bevel", w, h, title,
         [](EffectSettings &s) {
             s.bevelSmoothing = 0;
             s.texture1On = 1;
         }},
        {"title shape", w, h, tools::titleFrame(w, h), plain},
        {"texture 2 under a plain background", w, h, title,
         [](EffectSettings &s) {
             s.texture2On = 1;
             s.texture2Type = 3;
             s.fill2Mode = 0;
         },
         1},
    };
    for (const Case &c : cases) {
        const std::vector<uint32_t> fresh = render(c, 1);
        // One session: the frame with every stage on, then the case.
        host.setFrames(w, h, tools::titleFrame(w, h), tools::backgroundFrame(w, h));
        OperatorContext context{};
        GetOperatorInfo();
        secondLayersOption.value = c.secondLayers;
        context.action = 1;
        OperatorAction(&context);
        const EffectSettings defaults = settings;
        everythingOn(settings);
        for (int field = 0; field < 2; ++field) {
            context.action = 3;
            context.fieldNumber = field;
            ASSERT_EQ(OperatorAction(&context), 0) << c.name;
        }
        host.setFrames(w, h, c.title, tools::backgroundFrame(w, h));
        settings = defaults;
        c.change(settings);
        for (int field = 0; field < 2; ++field) {
            context.action = 3;
            context.fieldNumber = field;
            ASSERT_EQ(OperatorAction(&context), 0) << c.name;
        }
        context.action = 2;
        OperatorAction(&context);
        size_t differing = 0;
        const std::vector<uint32_t> rendered = host.rendered();
        for (size_t i = 0; i < fresh.size(); ++i) differing += fresh[i] != rendered[i];
        EXPECT_EQ(differing, 0u) << c.name;
    }
}

// Map 2 showing input 0's frame is converted only where the stages read it
// when the far region is fused, into a buffer kept from earlier frames, and
// the other layers that show the frame share one picture of it: a
// frame over another background, rendered right after one in the same
// session, must equal the frame rendered whole from fresh memory, and no
// half-converted picture may stay in the layer after the call.
TEST_F(FarRegion, PicturesOfAnEarlierBackgroundDoNotShowThrough) {
    const int w = 640, h = 480; // a picture large enough to be kept for reuse
    const std::vector<uint32_t> title = blockTitle(w, h, 250, 330, 300, 360);
    std::vector<uint32_t> other = tools::backgroundFrame(w, h);
    for (uint32_t &pixel : other) pixel ^= 0xFFFFFF00u; // Y, Cb and Cr mirrored
    auto moved = [](EffectSettings &s) {
        s.map2On = 1;
        s.fill2Mode = 0;
        s.map2OffsetX = 37;
        s.map2OffsetY = -23;
    };
    auto onTheFrame = [](EffectSettings &s) {
        s.map2On = 1;
        s.fill2Mode = 0;
    };
    const std::vector<Case> cases = {
        {"default", w, h, title, plain},
        {"field by field", w, h, title, plain, 0, 1},
        {"second layers, map 2 on the frame", w, h, title, onTheFrame, 1},
        {"second layers, map 2 moved", w, h, title, moved, 1},
        {"title at the frame's corner", w, h, blockTitle(w, h, 0, 40, 0, 30), plain},
        // Both textures and the fill from the frame: one picture for the three.
        {"picture textures and fill", w, h, title,
         [](EffectSettings &s) {
             s.texture1On = s.texture2On = 1;
             s.texture1Type = s.texture2Type = 4;
             s.texture2ScaleX = s.texture2ScaleY = 50;
             s.fill1Mode = 3;
             s.fill2Mode = 0;
         },
         1},
    };
    for (Case c : cases) {
        c.background = other;
        const std::vector<uint32_t> whole = render(c, 0);
        // One session: the frame over the usual background, then over the other.
        host.setFrames(w, h, c.title, tools::backgroundFrame(w, h));
        OperatorContext context{};
        GetOperatorInfo();
        secondLayersOption.value = c.secondLayers;
        fieldWiseOption.value = c.fieldWise;
        context.action = 1;
        OperatorAction(&context);
        c.change(settings);
        driverState.fuseFarRegion = 1;
        for (int frame = 0; frame < 2; ++frame) {
            if (frame == 1) host.setFrames(w, h, c.title, other);
            for (int field = 0; field < 2; ++field) {
                context.action = 3;
                context.fieldNumber = field;
                ASSERT_EQ(OperatorAction(&context), 0) << c.name;
                EXPECT_EQ(sourceImages[kLayerMap2].deferred, 0) << c.name;
            }
        }
        context.action = 2;
        OperatorAction(&context);
        size_t differing = 0;
        const std::vector<uint32_t> rendered = host.rendered();
        for (size_t i = 0; i < whole.size(); ++i) differing += whole[i] != rendered[i];
        EXPECT_EQ(differing, 0u) << c.name;
    }
}
