#include "Requesters.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace lustra::gui {

bool Requesters::text(QWidget *parent, const QString &text, bool question) {
    if (question)
        return QMessageBox::question(parent, QStringLiteral("lustra"), text,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    QMessageBox::information(parent, QStringLiteral("lustra"), text);
    return true;
}

std::optional<QColor> Requesters::colour(QWidget *parent, const QColor &initial) {
    const QColor chosen = QColorDialog::getColor(initial, parent, QStringLiteral("Colour"));
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

std::optional<QString> Requesters::file(QWidget *parent, FileMode mode, const QString &directory,
                                        const QString &defaultName) {
    const QString start = directory + "/" + defaultName;
    const QString filter = QStringLiteral("Presets (*.prf);;All files (*)");
    QString path;
    switch (mode) {
    case FileMode::Load: {
        // The shipped looks lie in the folder looks/ of the presets folder:
        // both are offered as places beside the user's usual ones.
        QFileDialog dialog(parent, QStringLiteral("Load preset"), directory, filter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        QList<QUrl> places = dialog.sidebarUrls();
        places << QUrl::fromLocalFile(directory);
        if (QFileInfo(directory + "/looks").isDir())
            places << QUrl::fromLocalFile(directory + "/looks");
        dialog.setSidebarUrls(places);
        dialog.selectFile(defaultName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
        break;
    }
    case FileMode::Save: {
        // The ending is added here already, so that the question whether to
        // replace an existing preset is asked about the file really written.
        QFileDialog dialog(parent, QStringLiteral("Save preset"), directory, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("prf"));
        dialog.selectFile(defaultName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
        break;
    }
    case FileMode::Delete:
        path = QFileDialog::getOpenFileName(parent, QStringLiteral("Delete preset"), start, filter);
        break;
    }
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<PresetAction> Requesters::presets(QWidget *parent, const QString &title) {
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Presets hold complete settings."), &dialog));
    auto *row = new QHBoxLayout;
    layout->addLayout(row);
    std::optional<PresetAction> chosen;
    auto add = [&](const QString &text, PresetAction action) {
        auto *button = new QPushButton(text, &dialog);
        row->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, &dialog, [&chosen, &dialog, action] {
            chosen = action;
            dialog.accept();
        });
    };
    add(QStringLiteral("&Load..."), PresetAction::Load);
    add(QStringLiteral("&Save..."), PresetAction::Save);
    add(QStringLiteral("&Delete..."), PresetAction::Delete);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    row->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    dialog.exec();
    return chosen;
}

std::optional<QString> Requesters::clip(QWidget *parent, const QString &current) {
    const QString path = QFileDialog::getOpenFileName(
        parent, QStringLiteral("Picture source"), current.isEmpty() ? QString() : current,
        QStringLiteral("Pictures and video (*.png *.jpg *.jpeg *.bmp *.tif *.tiff *.webp *.mp4 "
                       "*.mov *.mkv *.avi);;All files (*)"));
    if (path.isEmpty()) return std::nullopt;
    return QFileInfo(path).absoluteFilePath();
}

} // namespace lustra::gui
