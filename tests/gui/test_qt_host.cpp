// The Qt backend's services on their own, called as the dialog calls them.
#include "GuiTestSupport.h"

#include "Colour.h"
#include "Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>

namespace lustra::guitest {
namespace {

std::vector<XChar> xtext(const char *text) {
    std::vector<XChar> out(text, text + std::strlen(text));
    out.push_back(0);
    return out;
}

uint16_t u16(const GuiMessage &message, size_t offset) {
    uint16_t value;
    std::memcpy(&value, message.bytes + offset, 2);
    return value;
}
int32_t s32(const GuiMessage &message, size_t offset) {
    int32_t value;
    std::memcpy(&value, message.bytes + offset, 4);
    return value;
}

class QtHostTest : public ::testing::Test {
  protected:
    QtHostTest() : script(std::make_shared<ScriptedRequesters::Script>()) {
        gui::ScreenSetup setup;
        setup.width = 800;
        setup.height = 600;
        host = std::make_unique<gui::QtDialogHost>(setup,
                                                   std::make_unique<ScriptedRequesters>(script));
        queue = host->createQueue(10, sizeof(GuiMessage), 0);
        request.width = 800;
        request.height = 600;
        request.queue = queue;
        EXPECT_EQ(host->createRequest(&request), 0);
        panel = host->createPanel(request.handle, 10, 10, 388, 200, 0x40, 0x800, 0);
    }
    ~QtHostTest() override { host->deleteRequest(&request); }
    // The next message, or kind 0 when none is waiting.
    GuiMessage next() {
        GuiMessage message{};
        host->onIdle = [this] {
            host->postGadgetEvent(0, 0, 0); // nothing waiting: a marker
            return true;
        };
        host->receiveMessage(queue, &message, -1);
        host->onIdle = nullptr;
        return message;
    }

    std::shared_ptr<ScriptedRequesters::Script> script;
    std::unique_ptr<gui::QtDialogHost> host;
    MsgQueue *queue = nullptr;
    DreqRequest request{};
    DgId panel = 0;
};

TEST_F(QtHostTest, SliderDragCoalescesAndEndsWithTheFinalValue) {
    const auto label = xtext("Depth"), format = xtext("%d %%");
    const DgId id = host->addSlider(panel, 178, 8, 202, 24, 0, 100, 50, label.data(), format.data(),
                                    0x130000, nullptr);
    auto *slider = dynamic_cast<gui::ValueSlider *>(host->widgetOf(id));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->format(42), "42 %");
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 5), QPointF(2, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &press);
    for (int x : {40, 80, 120}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 5), QPointF(x, 5), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(120, 5), QPointF(120, 5),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &release);
    // The changing values waiting in the queue gave way to the final one.
    GuiMessage last = next();
    EXPECT_EQ(u16(last, 8), 4);
    EXPECT_EQ(s32(last, 12), id);
    EXPECT_EQ(u16(last, 16), 4);
    EXPECT_EQ(s32(last, 20), slider->value());
    EXPECT_EQ(slider->value(), 60); // 118 of 198 pixels along 0..100
    EXPECT_EQ(s32(next(), 12), 0);  // nothing more
    key(slider, Qt::Key_Home);
    GuiMessage keyed = next();
    EXPECT_EQ(u16(keyed, 16), 3);
    EXPECT_EQ(s32(keyed, 20), 0);
}

TEST_F(QtHostTest, PopupShowsItsItemsAndReportsTheChosenIndex) {
    const auto a = xtext("Plain"), b = xtext("Metal");
    // The list library's nodes: next at 0, flags 0x201 at 12, text at 16.
    struct Node {
        Node *next;
        char pad[4];
        uint32_t flags;
        const XChar *text;
        char rest[20];
    } nodes[2] = {};
    nodes[0] = Node{&nodes[1], {}, 0x201, a.data(), {}};
    nodes[1] = Node{nullptr, {}, 0x201, b.data(), {}};
    void *header[2] = {&nodes[0], &nodes[1]};
    const DgId id = host->addPopup(panel, 178, 40, 202, 24, header, 1, nullptr, 0, 0);
    auto *popup = qobject_cast<QComboBox *>(host->widgetOf(id));
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(popup->count(), 2);
    EXPECT_EQ(popup->itemText(0), "Plain");
    EXPECT_EQ(popup->currentIndex(), 1);
    emit popup->activated(0);
    GuiMessage message = next();
    EXPECT_EQ(s32(message, 12), id);
    EXPECT_EQ(message.bytes[20], 0);
}

TEST_F(QtHostTest, DisabledStatesHelpAndKeys) {
    const auto label = xtext("Glow");
    DgGadgetExt *extension = host->allocGadgetExt();
    extension->label = label.data();
    const DgId box = host->addCheckBox(panel, 178, 8, 32, 24, 1, 2, extension);
    host->freeGadgetExt(extension);
    auto *check = qobject_cast<QCheckBox *>(host->widgetOf(box));
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->isChecked());
    EXPECT_FALSE(check->isEnabled());
    host->enableElement(panel, box);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(host->changeElement(panel, box, 57, 'g', 0), 0);
    EXPECT_EQ(host->changeElement(panel, box, 57, gui::kKeyShift | gui::kKeyDelete, 0), 0);
    EXPECT_TRUE(check->toolTip().contains("Shift+Del")) << check->toolTip().toStdString();
    EXPECT_EQ(host->changeElement(panel, 999, 40, 1, 0), -1); // no such gadget
}

TEST_F(QtHostTest, OverlayShowsHostPixelsAsRgb) {
    const uint32_t pixels[4] = {cli::hostPixel(255, 128, 128), cli::hostPixel(0, 128, 128),
                                cli::rgbToHost(200, 40, 30), cli::hostPixel(128, 128, 128)};
    host->drawOverlay(pixels, 0, 8, 500, 400, 2, 2);
    const QImage shown = grabScreen(*host);
    EXPECT_EQ(shown.pixel(500, 400), qRgb(255, 255, 255));
    EXPECT_EQ(shown.pixel(501, 400), qRgb(0, 0, 0));
    uint8_t rgb[3];
    cli::hostToRgb(pixels[2], rgb);
    EXPECT_EQ(shown.pixel(500, 401), qRgb(rgb[0], rgb[1], rgb[2]));
    // Rectangles reaching outside the screen are clipped, not written past it.
    host->drawOverlay(pixels, 0, 8, 799, 599, 2, 2);
    host->drawOverlay(pixels, 0, 8, -1, -1, 2, 2);
    EXPECT_EQ(grabScreen(*host).pixel(0, 0), qRgb(128, 128, 128));
}

TEST_F(QtHostTest, PaletteRequestConvertsTheColourBothWaysAndKeepsAlpha) {
    script->colours.push_back(QColor(10, 200, 60));
    DreqPaletteRequest palette{};
    palette.colour = cli::rgbToHost(90, 90, 200, 0x7F);
    palette.value25600 = 25600;
    EXPECT_EQ(host->paletteRequest(&palette), 0);
    EXPECT_EQ(palette.result, 1);
    EXPECT_EQ(palette.colour, cli::rgbToHost(10, 200, 60, 0x7F));
    ASSERT_EQ(script->coloursAsked.size(), 1u);
    uint8_t rgb[3];
    cli::hostToRgb(cli::rgbToHost(90, 90, 200), rgb);
    EXPECT_EQ(script->coloursAsked[0], QColor(rgb[0], rgb[1], rgb[2]));
    DreqPaletteRequest cancelled{};
    cancelled.colour = 0x12345678;
    EXPECT_EQ(host->paletteRequest(&cancelled), 0);
    EXPECT_EQ(cancelled.result, 0);
    EXPECT_EQ(cancelled.colour, 0x12345678u);
}

TEST_F(QtHostTest, FileRequestFillsPathAndNameAndRefusesWhatDoesNotFit) {
    Home home;
    script->files.push_back(QString::fromStdString(home.path()) + "/programs/lustra/a.prf");
    char path[256] = {};
    XChar name[256] = {};
    XChar defaultName[64] = {'d', 'e', 'f', 0};
    DreqFileRequest file{};
    file.directory = "/programs/lustra/";
    file.defaultName = defaultName;
    file.mode = 2;
    file.path = path;
    file.pathSize = 256;
    file.name = name;
    file.nameSize = 256;
    EXPECT_EQ(host->fileRequest(&file), 0);
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(std::string(path), home.path() + "/programs/lustra/a.prf");
    EXPECT_EQ(name[0], 'a');
    EXPECT_EQ(name[5], 0);
    EXPECT_EQ(script->defaultNamesAsked.back(), "def");
    // A path longer than the buffer is refused with a message.
    script->files.push_back(QString::fromStdString(home.path()) + "/" + QString(300, 'x'));
    DreqFileRequest tooLong = file;
    tooLong.status = 0;
    EXPECT_EQ(host->fileRequest(&tooLong), 0);
    EXPECT_EQ(tooLong.status, 0);
    EXPECT_EQ(script->textsAsked.size(), 1u);
}

TEST_F(QtHostTest, TransferStoresTheChosenPictureInTheDescriptor) {
    script->clips.push_back("/pictures/wood.jpg");
    script->clips.push_back("/" + QString(200, 'p') + ".png");
    TxRequest *transfer = host->allocTransfer(0);
    ASSERT_NE(transfer, nullptr);
    char descriptor[LFX_SOURCE_DESCRIPTOR_SIZE];
    std::memset(descriptor, 'z', sizeof descriptor);
    host->setTransferPrefs(transfer, descriptor);
    EXPECT_EQ(host->runTransfer(transfer, 0), 0);
    EXPECT_EQ(host->transferStatus(transfer), 1);
    host->getTransferPrefs(transfer, descriptor, LFX_SOURCE_DESCRIPTOR_SIZE);
    EXPECT_STREQ(descriptor, "/pictures/wood.jpg");
    EXPECT_EQ(descriptor[LFX_SOURCE_DESCRIPTOR_SIZE - 1], 0);
    // Too long for the descriptor: refused, the old one stays.
    EXPECT_EQ(host->runTransfer(transfer, 0), 0);
    EXPECT_EQ(host->transferStatus(transfer), 0);
    host->getTransferPrefs(transfer, descriptor, LFX_SOURCE_DESCRIPTOR_SIZE);
    EXPECT_STREQ(descriptor, "/pictures/wood.jpg");
    host->freeTransfer(transfer);
}

TEST_F(QtHostTest, ClosingTheWindowSendsTheCloseMessage) {
    host->screenWindow()->close();
    GuiMessage message{};
    EXPECT_EQ(host->receiveMessage(queue, &message, -1), 0);
    EXPECT_EQ(u16(message, 8), 7);
    // A queue that is not the host's fails.
    EXPECT_EQ(host->receiveMessage(reinterpret_cast<MsgQueue *>(&message), &message, -1), -1);
}

TEST_F(QtHostTest, RemovingAPanelRemovesItsGadgetsAndPanels) {
    const DgId inner = host->createPanel(panel, 4, 4, 100, 50, 0x40, 0, 0);
    const auto text = xtext("1, 2");
    const DgId gadget = host->addTextGadget(inner, 8, 8, 80, 24, text.data(), 1, nullptr);
    ASSERT_NE(host->widgetOf(gadget), nullptr);
    EXPECT_EQ(qobject_cast<QLineEdit *>(host->widgetOf(gadget))->text(), "1, 2");
    host->removePanel(panel);
    EXPECT_EQ(host->widgetOf(gadget), nullptr);
    EXPECT_EQ(host->widgetOf(inner), nullptr);
    EXPECT_TRUE(host->liveGadgets().empty());
    EXPECT_EQ(host->addTextButton(panel, 0, 0, 10, 10, text.data(), 0, 0), 0); // panel is gone
}

} // namespace
} // namespace lustra::guitest
