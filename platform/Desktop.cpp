#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMutex>
#include <QMutexLocker>

namespace platform {
namespace {

QMutex gHookMutex;
OpenUrlHook gHook;

bool Open(const QUrl& url) {
    if (!url.isValid() || url.isEmpty())
        return false;
    {
        QMutexLocker lock(&gHookMutex);
        if (gHook)
            return gHook(url);
    }
    // The desktop services need the GUI side of the application. Test runs (MARROWGATE_TEST)
    // never start a browser or a file manager on the developer's desktop.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
        !qEnvironmentVariableIsEmpty("MARROWGATE_TEST"))
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace

QString HelpFolder() {
    return HelpFolderFor(QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString());
}

QString HelpFolderFor(const QString& programDir) {
    if (programDir.isEmpty())
        return {};
    for (const QString& candidate :
         {programDir + QStringLiteral("/help"), programDir + QStringLiteral("/../share/marrowgate/help")}) {
        const QFileInfo info(candidate);
        if (info.isDir())
            return QDir::cleanPath(info.absoluteFilePath()) + QLatin1Char('/');
    }
    return {};
}

QUrl HelpUrl(const QString& topic) {
    const QString folder = HelpFolder();
    if (folder.isEmpty())
        return {};
    // Topics come as "::/ej.html"; only the page's own name counts.
    QString page = topic;
    if (page.startsWith(QLatin1String("::")))
        page.remove(0, 2);
    page = QFileInfo(page).fileName();
    if (page.isEmpty())
        page = QStringLiteral("index.html");
    const QString path = folder + page;
    if (!QFileInfo(path).isFile())
        return {};
    return QUrl::fromLocalFile(path);
}

QUrl ProductPage() {
    return HelpUrl();
}

bool OpenFolder(const QString& path) {
    if (path.isEmpty())
        return false;
    return Open(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool OpenPage(const QUrl& url) {
    return Open(url);
}

bool OpenHelp(const QString& topic) {
    return Open(HelpUrl(topic));
}

void SetOpenUrlHookForTesting(OpenUrlHook hook) {
    QMutexLocker lock(&gHookMutex);
    gHook = std::move(hook);
}

} // namespace platform
