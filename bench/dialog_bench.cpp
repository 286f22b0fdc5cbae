// Dialog benchmark: the time from a gadget event to the drawn preview for each
// preview step, at 720 x 576 and 1920 x 1080, through the settings dialog with
// a host that answers at once.
//
//   lustra_dialog_bench [--events N]
//
// Prints the median wall-clock milliseconds (of N events per step, default 15)
// from the moment the dialog receives the event to the end of the last
// overlay draw it causes: with the preview rectangle only (two GUI monitors)
// and with the full-screen picture on monitor 2 as well.
#include "support/MemoryHost.h"
#include "support/TitleShape.h"
#include "lustrafex/host_backend.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// One scripted message: a gadget found by its label text id (or a page
// button by its image id), the value, the event code, and whether it is timed.
struct Event {
    int32_t label = 0;
    int32_t pageImage = 0;
    bool headerSwitch = false;
    bool frameSlider = false;
    int32_t value = 0;
    uint16_t code = 4;
    int32_t timedStep = -2; // the step it measures, or -2
};

class BenchHost : public lustra::tools::MemoryHost {
  public:
    int32_t screenW = 1920, screenH = 1080, monitors = 2, monitorW = 720, monitorH = 576;
    std::vector<Event> script;
    size_t next = 0;
    std::map<int32_t, std::vector<double>> timings; // by step
    Clock::time_point eventStart{}, lastDraw{};
    int32_t pendingStep = -2;

    DgId createPanel(DgId, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t,
                     int32_t) override {
        return ++ids_;
    }
    DgId addSlider(DgId, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                   const XChar *label, const XChar *, uint32_t, DgGadgetExt *extension) override {
        const DgId id = ++ids_;
        if (extension && extension->formatter) frameSlider_ = id;
        remember(label, id);
        return id;
    }
    DgId addCheckBox(DgId, int32_t x, int32_t y, int32_t, int32_t, int32_t, uint32_t,
                     DgGadgetExt *extension) override {
        const DgId id = ++ids_;
        if (extension)
            remember(extension->label, id);
        else if (x == 8 && y == 8)
            headerSwitch_ = id;
        return id;
    }
    DgId addPopup(DgId, int32_t, int32_t, int32_t, int32_t, void *, int32_t, const XChar *label,
                  uint32_t, int32_t) override {
        const DgId id = ++ids_;
        remember(label, id);
        return id;
    }
    DgId addTextButton(DgId, int32_t, int32_t, int32_t, int32_t, const XChar *text, uint32_t,
                       int32_t) override {
        const DgId id = ++ids_;
        remember(text, id);
        return id;
    }
    DgId addImageButton(DgId, int32_t, int32_t, int32_t, int32_t, const void *image, uint32_t,
                        const DgGadgetExt *) override {
        const DgId id = ++ids_;
        auto found = imageIds_.find(image);
        if (found != imageIds_.end()) byImage_[found->second] = id;
        return id;
    }
    DgId addTextGadget(DgId, int32_t, int32_t, int32_t, int32_t, const XChar *, int32_t,
                       DgGadgetExt *) override {
        return ++ids_;
    }
    DgId addPaletteButton(DgId, int32_t, int32_t, int32_t, int32_t, const XChar *label, uint32_t,
                          uint32_t, int32_t) override {
        const DgId id = ++ids_;
        remember(label, id);
        return id;
    }
    DgId boxText(DgId, const XChar *, int32_t, int32_t, int32_t, int32_t, int32_t) override {
        return ++ids_;
    }
    DgGadgetExt *allocGadgetExt() override { return new DgGadgetExt{}; }
    void freeGadgetExt(DgGadgetExt *extension) override { delete extension; }
    int32_t changeElement(DgId, DgId, int32_t, intptr_t, int32_t) override { return 0; }
    int32_t screenWidth() override { return screenW; }
    int32_t screenHeight() override { return screenH; }
    int32_t screenWidthMonitor(int32_t) override { return monitorW; }
    int32_t screenHeightMonitor(int32_t) override { return monitorH; }
    int32_t connectedMonitors() override { return monitors; }
    int32_t fontHeightMonitor(int32_t) override { return 14; }
    int32_t addHeight() override { return 4; }
    MsgQueue *createQueue(int32_t, int32_t, int32_t) override {
        return reinterpret_cast<MsgQueue *>(&token_);
    }
    int32_t createRequest(DreqRequest *request) override {
        request->handle = 1;
        return 0;
    }
    int32_t deleteRequest(DreqRequest *) override { return 0; }
    const XChar *string(ResTable *table, int32_t id) override {
        const XChar *text = HostBackend::string(table, id);
        if (text) textIds_[text] = id;
        return text;
    }
    const void *image(ResTable *table, int32_t id) override {
        const void *image = HostBackend::image(table, id);
        if (image) imageIds_[image] = id;
        return image;
    }
    void drawOverlay(const uint32_t *, int32_t, int32_t, int32_t, int32_t, int32_t,
                     int32_t) override {
        lastDraw = Clock::now();
    }
    void drawOverlayMonitor(const uint32_t *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                            int32_t) override {
        lastDraw = Clock::now();
    }

    int32_t receiveMessage(MsgQueue *, GuiMessage *message, int32_t) override {
        if (pendingStep != -2 && lastDraw > eventStart)
            timings[pendingStep].push_back(milliseconds(lastDraw - eventStart));
        pendingStep = -2;
        std::memset(message->bytes, 0, sizeof message->bytes);
        auto put16 = [message](size_t at, uint16_t v) { std::memcpy(message->bytes + at, &v, 2); };
        auto put32 = [message](size_t at, int32_t v) { std::memcpy(message->bytes + at, &v, 4); };
        if (next >= script.size()) {
            put16(8, 7);
            return 0;
        }
        const Event &event = script[next++];
        DgId id = 0;
        if (event.pageImage)
            id = byImage_[event.pageImage];
        else if (event.headerSwitch)
            id = headerSwitch_;
        else if (event.frameSlider)
            id = frameSlider_;
        else
            id = byLabel_[event.label];
        put16(8, 4);
        put32(12, id);
        put16(16, event.code);
        put32(20, event.value);
        pendingStep = event.timedStep;
        eventStart = Clock::now();
        return 0;
    }

  private:
    void remember(const XChar *text, DgId id) {
        auto found = textIds_.find(text);
        if (found != textIds_.end()) byLabel_[found->second] = id;
    }
    DgId ids_ = 0, headerSwitch_ = 0, frameSlider_ = 0;
    int token_ = 0;
    std::map<const XChar *, int32_t> textIds_;
    std::map<const void *, int32_t> imageIds_;
    std::map<int32_t, DgId> byLabel_, byImage_;
};

struct StepCase {
    int32_t step;
    const char *what;
    int32_t page;      // 101 + page: its button
    int32_t label;     // the gadget, 0 for the header switch, -1 for the frame slider
    int32_t low, high; // alternating values
};

const StepCase kCases[] = {
    {-1, "new frame (set-up + all stages)", 0, -1, 0, 0},
    {0, "all stages (texture 1 switch)", 8, 0, 1, 1},
    {1, "bevel (bevel width)", 0, 203, 8, 9},
    {2, "glow (glow width)", 2, 220, 10, 11},
    {3, "shadow (shadow softness)", 3, 241, 5, 6},
    {4, "surface texture 1 (scale)", 8, 412, 100, 110},
    {5, "surface texture 2 (scale)", 9, 442, 100, 110},
    {6, "image map 1 (scale)", 4, 267, 100, 110},
    {7, "image map 2 (scale)", 5, 287, 100, 110},
    {8, "final shading (fill zoom)", 1, 251, 128, 129},
};

void run(BenchHost &host, int width, int height, bool monitorTwo, int events) {
    host.setFrames(width, height, lustra::tools::titleFrame(width, height),
                   lustra::tools::backgroundFrame(width, height));
    host.monitors = monitorTwo ? 1 : 2;
    host.monitorW = width;
    host.monitorH = height;
    host.script.clear();
    host.next = 0;
    host.timings.clear();
    for (const StepCase &c : kCases) {
        host.script.push_back(Event{0, 101 + c.page});
        for (int i = 0; i < events; ++i) {
            Event event;
            event.value = i % 2 ? c.high : c.low;
            event.timedStep = c.step;
            if (c.label == -1) {
                event.frameSlider = true;
                event.code = 4;
            } else if (c.label == 0) {
                event.headerSwitch = true;
            } else {
                event.label = c.label;
            }
            host.script.push_back(event);
        }
    }

    OperatorContext context{};
    lustra::operatorInfo();
    lustra::secondLayersOption.value = 1;
    context.action = 1;
    lustra::operatorAction(&context);
    lustra::EffectSettings &s = lustra::settings;
    s.glowOn = s.shadowOn = s.texture1On = s.texture2On = s.map1On = s.map2On = 1;
    lustra::writeSettingsFile();
    context.action = 4;
    context.fieldCount = 50;
    context.pixelAspect = 1000;
    lustra::operatorAction(&context);
    context.action = 2;
    lustra::operatorAction(&context);

    std::printf("%d x %d, %s:\n", width, height,
                monitorTwo ? "preview rectangle + full screen on monitor 2"
                           : "preview rectangle only");
    for (const StepCase &c : kCases)
        std::printf("  step %2d  %-34s %8.2f ms\n", c.step, c.what, median(host.timings[c.step]));
}

} // namespace

int main(int argc, char **argv) {
    int events = 15;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--events" && i + 1 < argc) {
            events = std::max(1, std::atoi(argv[++i]));
        } else {
            std::printf("usage: lustra_dialog_bench [--events N]\n"
                        "Times gadget event to drawn preview for each preview step of the\n"
                        "settings dialog at 720x576 and 1920x1080 (median of N, default 15).\n");
            return argument == "--help" || argument == "-h" ? 0 : 2;
        }
    }
    // A home of its own: the data files and an empty settings directory.
    char pattern[] = "/tmp/lustra-dialog-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path home = pattern;
    fs::copy(LUSTRA_DATA_DIR, home, fs::copy_options::recursive);
    fs::create_directories(home / "programs/lustra/settings");
    setenv("VXHOME", home.c_str(), 1);

    BenchHost host;
    lustra::lustraInstallBackend(&host);
    for (bool monitorTwo : {false, true}) {
        run(host, 720, 576, monitorTwo, events);
        run(host, 1920, 1080, monitorTwo, events);
    }
    lustra::lustraInstallBackend(nullptr);
    std::error_code ignored;
    fs::remove_all(home, ignored);
    return 0;
}
