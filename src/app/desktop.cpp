#include "app/desktop.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace vantrel::app {

namespace {

// "Videos (*.mp4 *.MP4 *.mov *.MOV)": name filters are case-sensitive in some
// dialogs, and cameras write CLIP.MOV.
QString nameFilter(const QString& label, const QStringList& fileTypes) {
    QStringList patterns;
    for (const auto& type : fileTypes) {
        patterns << "*." + type.toLower();
        if (type.toUpper() != type.toLower())
            patterns << "*." + type.toUpper();
    }
    return label + " (" + patterns.join(' ') + ")";
}

} // namespace

std::optional<QString> SystemDesktop::runPanel(QWidget* parent, const PanelRequest& request) {
    QFileDialog dialog(parent);
    if (request.kind == PanelRequest::Kind::open) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(nameFilter(request.fileTypeLabel, request.fileTypes));
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        QStringList filters;
        for (const auto& type : request.fileTypes)
            filters << nameFilter(type.toUpper(), {type});
        dialog.setNameFilters(filters);
        if (!request.fileTypes.isEmpty())
            dialog.setDefaultSuffix(request.fileTypes.first());
        // A name typed without extension gets the one of the chosen type.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, &request, filters](const QString& filter) {
                             auto index = filters.indexOf(filter);
                             if (index >= 0)
                                 dialog.setDefaultSuffix(request.fileTypes.at(index));
                         });
        dialog.selectFile(request.proposedName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

bool SystemDesktop::confirm(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, QString(), question) == QMessageBox::Yes;
}

void SystemDesktop::reveal(const QString& path) {
    const auto fileUrl = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    const auto folderUrl = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    auto call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                               "/org/freedesktop/FileManager1",
                                               "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{fileUrl.toString()} << QString();
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folderUrl);
        return;
    }
    // Asynchronous, so that a slow or absent file manager never freezes the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folderUrl](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             QDesktopServices::openUrl(folderUrl);
                         finished->deleteLater();
                     });
}

} // namespace vantrel::app
