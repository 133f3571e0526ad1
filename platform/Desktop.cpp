#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

namespace platform {
namespace {

QMutex gHookMutex;
OpenUrlHook gHook;
QPointer<QObject> gFailedReceiver;
OpenFailedHandler gFailed;

bool Failed(const QUrl& url) {
    OpenFailedHandler handler;
    {
        QMutexLocker lock(&gHookMutex);
        if (gFailedReceiver)
            handler = gFailed;
    }
    if (handler)
        handler(url);
    return false;
}

// The opener's signals come from a socket notifier, inside which a modal box would not be painted.
void FailedLater(const QUrl& url) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [url] { Failed(url); }, Qt::QueuedConnection);
}

bool Open(const QUrl& url) {
    if (!url.isValid() || url.isEmpty())
        return Failed(url);
    {
        QMutexLocker lock(&gHookMutex);
        if (OpenUrlHook hook = gHook) {
            lock.unlock();
            return hook(url) || Failed(url);
        }
    }
    // Test runs (MARROWGATE_TEST) never start a browser or a file manager on the developer's
    // desktop.
    if (!QCoreApplication::instance() || !qEnvironmentVariableIsEmpty("MARROWGATE_TEST"))
        return false;
    // xdg-open is run and watched here rather than started detached: its exit code is the only
    // sign that no program on the desktop takes the page (no browser set, a broken handler).
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return Failed(url);
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, [process, url](int code, QProcess::ExitStatus status) {
        process->deleteLater();
        if (status != QProcess::NormalExit || code != 0)
            FailedLater(url);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, url](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        FailedLater(url);
    });
    process->start();
    return true;
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

void SetOpenFailedHandler(QObject* receiver, OpenFailedHandler handler) {
    QMutexLocker lock(&gHookMutex);
    gFailedReceiver = receiver;
    gFailed = std::move(handler);
}

} // namespace platform
