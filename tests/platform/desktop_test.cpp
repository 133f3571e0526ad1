#include "platform/Desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;

namespace {

// Stands in for the desktop's own file handler.
class UrlHandler : public QObject {
    Q_OBJECT
public:
    int Opened = 0;
public slots:
    void Open(const QUrl&) { ++Opened; }
};

} // namespace

// Every topic the window opens, and the start page, lie beside the program; a topic cannot
// leave the help folder. An install keeps them in share/marrowgate/help/ beside bin/.
TEST(Desktop, HelpPagesLieBesideTheProgram) {
    EXPECT_EQ(QDir(HelpFolder()).absolutePath(), QDir(QStringLiteral(MG_BIN_DIR "/help")).absolutePath());
    for (const char* topic :
         {"::/ej.html", "::/disk.html", "::/ts.html", "::/diag.html", "", "::/x/y/ej.html"}) {
        QFile page(HelpUrl(QString::fromLatin1(topic)).toLocalFile());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << topic;
        EXPECT_TRUE(page.readAll().contains("<h1>")) << topic;
    }
    EXPECT_EQ(HelpUrl(QStringLiteral("::/x/y/ej.html")), HelpUrl(QStringLiteral("::/ej.html")));
    for (const char* topic : {"::/no-such-page.html", "::/../../../../etc/hostname"})
        EXPECT_FALSE(HelpUrl(QString::fromLatin1(topic)).isValid()) << topic;
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("usr/bin") && QDir(root.path()).mkpath("usr/share/marrowgate/help"));
    EXPECT_EQ(HelpFolderFor(root.filePath("usr/bin")), root.filePath("usr/share/marrowgate/help/"));
    EXPECT_EQ(HelpFolderFor(QString()), QString());
}

// Opening goes through the hook, missing targets open nothing, and test runs never reach the
// desktop even when there is one.
TEST(Desktop, OpeningGoesThroughTheHookAndNeverReachesTheDesktopInTests) {
    std::vector<QUrl> opened;
    SetOpenUrlHookForTesting([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_TRUE(OpenHelp(QStringLiteral("::/ej.html")));
    EXPECT_TRUE(OpenHelp());
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/missing.html")));
    EXPECT_FALSE(OpenFolder(QString()));
    QTemporaryDir dir;
    EXPECT_TRUE(OpenFolder(dir.path()));
    EXPECT_TRUE(OpenPage(ProductPage()));
    SetOpenUrlHookForTesting({});
    EXPECT_EQ(opened, (std::vector<QUrl>{HelpUrl(QStringLiteral("::/ej.html")), HelpUrl(),
                                         QUrl::fromLocalFile(dir.path()), HelpUrl()}));
    ASSERT_TRUE(qobject_cast<QGuiApplication*>(QCoreApplication::instance()));
    UrlHandler desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "Open");
    const QByteArray before = qgetenv("MARROWGATE_TEST");
    qputenv("MARROWGATE_TEST", "1");
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/ej.html")));
    EXPECT_FALSE(OpenFolder(QStringLiteral("/")));
    EXPECT_EQ(desktop.Opened, 0);
    qputenv("MARROWGATE_TEST", before);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

#include "desktop_test.moc"
