#include "app/desktop.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
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
        if (!filters.isEmpty())
            dialog.selectNameFilter(filters.first());
        dialog.selectFile(request.proposedName);
    }
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

bool SystemDesktop::confirm(QWidget* parent, const QString& question, const QString& yes,
                            const QString& no) {
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), question,
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    auto* accept = box.addButton(yes, QMessageBox::AcceptRole);
    auto* keep = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == accept;
}

QString fileUri(const QString& path) {
    return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded(QUrl::FullyEncoded));
}

void SystemDesktop::reveal(const QString& path, std::function<void()> failed) {
    const QString folder = QFileInfo(path).absolutePath();
    auto openFolder = [folder, failed] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)) && failed)
            failed();
    };
    auto call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                               "/org/freedesktop/FileManager1",
                                               "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{fileUri(QFileInfo(path).absoluteFilePath())} << QString();
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    // Asynchronous, so that a slow or absent file manager never freezes the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError())
                             openFolder();
                         finished->deleteLater();
                     });
}

void SystemDesktop::notify(const QString& summary, const QString& body) {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                               "/org/freedesktop/Notifications",
                                               "org.freedesktop.Notifications", "Notify");
    // The body may be read as markup by the service: a file name is escaped.
    call << QCoreApplication::applicationName() << 0u << QStringLiteral("vantrel") << summary
         << body.toHtmlEscaped() << QStringList() << QVariantMap() << -1;
    // No answer is awaited: without a service the call simply fails.
    bus.asyncCall(call);
}

} // namespace vantrel::app
