// Every page and view of the dialog in both layouts: each gadget inside its
// panel, every label shown whole. With LUSTRA_GUI_SCREENSHOTS=DIR set, the
// screen of each page is saved there as a picture.
#include "GuiTestSupport.h"

#include "Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>

namespace lustra::guitest {
namespace {

using Step = std::function<void(gui::QtDialogHost &)>;

// Problems of the layout shown now: gadgets or labels outside their panel,
// cut labels, panels outside the screen.
std::vector<std::string> layoutProblems(gui::QtDialogHost &host) {
    std::vector<std::string> problems;
    QWidget *screen = host.screenWindow();
    for (auto *panel : screen->findChildren<gui::PanelFrame *>()) {
        if (!panel->isVisible()) continue;
        const QRect onScreen(panel->mapTo(screen, QPoint(0, 0)), panel->size());
        if (!screen->rect().contains(onScreen) &&
            !panel->testAttribute(Qt::WA_TransparentForMouseEvents))
            problems.push_back("a panel reaches outside the screen");
        const auto children = panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *a : children)
            for (QWidget *b : children)
                if (a < b && a->isVisible() && b->isVisible() &&
                    !dynamic_cast<gui::PanelFrame *>(a) && !dynamic_cast<gui::PanelFrame *>(b) &&
                    a->geometry().intersects(b->geometry()))
                    problems.push_back(
                        std::string("gadgets overlap: ") + a->metaObject()->className() + " and " +
                        b->metaObject()->className() + " at y " + std::to_string(a->y()));
        for (QWidget *child : children) {
            if (!child->isVisible() || dynamic_cast<gui::PanelFrame *>(child)) continue;
            if (!panel->rect().contains(child->geometry()))
                problems.push_back("a gadget reaches outside its panel");
            QString shown, whole;
            if (auto *label = qobject_cast<QLabel *>(child)) {
                shown = label->text();
                whole = label->property("fullText").toString();
            }
            if (auto *box = qobject_cast<QCheckBox *>(child)) shown = box->text();
            if (shown.endsWith(QChar(0x2026)))
                problems.push_back("label cut: " + (whole.isEmpty() ? shown : whole).toStdString());
        }
    }
    return problems;
}

void walkPages(gui::ScreenSetup screen, const std::string &layout) {
    Home home;
    const char *shots = std::getenv("LUSTRA_GUI_SCREENSHOTS");
    auto script = std::make_shared<ScriptedRequesters::Script>();
    gui::EditRequest request;
    request.title = titleClip(1280, 720, 1);
    request.background = backgroundClip(1280, 720, 1);
    request.secondLayers = true;
    request.screen = screen;
    request.quiet = true;
    request.requesters = std::make_unique<ScriptedRequesters>(script);
    std::deque<Step> steps;
    auto check = [&, shots](const std::string &name) {
        steps.push_back([&, shots, name](gui::QtDialogHost &host) {
            for (const std::string &problem : layoutProblems(host))
                ADD_FAILURE() << layout << " " << name << ": " << problem;
            if (shots)
                grabScreen(host).save(QString::fromStdString(std::string(shots) + "/" + layout +
                                                             "-" + name + ".png"));
        });
    };
    for (int page = 0; page < 10; ++page) {
        steps.push_back([page](gui::QtDialogHost &host) {
            QWidget *button = host.widgetOf(host.pageButton(page));
            ASSERT_NE(button, nullptr) << "page " << page;
            click(button);
        });
        check("page" + std::to_string(page));
        // The second view of pages that have one.
        steps.push_back([](gui::QtDialogHost &host) {
            for (QComboBox *popup : host.screenWindow()->findChildren<QComboBox *>())
                if (popup->isVisible() && popup->geometry().y() == 8 &&
                    popup->parentWidget()->height() < 3 * popup->height() &&
                    popup->currentIndex() == 0) {
                    key(popup, Qt::Key_Down);
                    return;
                }
            host.postGadgetEvent(0, 0, 0); // no second view
        });
        check("page" + std::to_string(page) + "b");
    }
    if (screen.guiMonitor == 2) {
        // The strip collapsed, then whole again at the top of the screen.
        steps.push_back([](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_X); });
        check("collapsed");
        steps.push_back([](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_X); });
        steps.push_back([](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_Y); });
        check("top");
        steps.push_back([](gui::QtDialogHost &host) {
            QWidget *screen = host.screenWindow();
            int top = screen->height();
            for (auto *panel : screen->findChildren<gui::PanelFrame *>(Qt::FindDirectChildrenOnly))
                if (panel->isVisible()) top = std::min(top, panel->y());
            EXPECT_EQ(top, 16) << "the strip is at the top of the visible area";
            host.postGadgetEvent(0, 0, 0);
        });
    }
    auto pending = std::make_shared<std::deque<Step>>(std::move(steps));
    request.prepare = [pending](gui::QtDialogHost &host) {
        host.onIdle = [pending, &host] {
            if (pending->empty()) {
                host.screenWindow()->close();
                return true;
            }
            Step step = std::move(pending->front());
            pending->pop_front();
            step(host);
            return true;
        };
    };
    EXPECT_EQ(gui::runEdit(request).exitCode, 0);
    EXPECT_TRUE(pending->empty());
}

TEST(EditPages, EveryPageFitsOnMonitorOne) {
    gui::ScreenSetup screen;
    screen.width = 1920;
    screen.height = 1080;
    walkPages(screen, "monitor1");
}

TEST(EditPages, EveryPageFitsOnMonitorTwo) {
    gui::ScreenSetup screen;
    screen.guiMonitor = 2;
    screen.monitor2Width = 1280;
    screen.monitor2Height = 720;
    walkPages(screen, "monitor2");
}

} // namespace
} // namespace lustra::guitest
