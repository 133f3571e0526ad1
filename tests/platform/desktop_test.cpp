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
// leave the help folder.
TEST(Desktop, HelpPagesLieBesideTheProgram) {
    EXPECT_EQ(QDir(HelpFolder()).absolutePath(), QDir(QStringLiteral(MG_BIN_DIR "/help")).absolutePath());
    for (const char* topic :
         {"::/ej.html", "::/disk.html", "::/ts.html", "::/diag.html", "", "::/x/y/ej.html"}) {
        QFile page(HelpUrl(QString::fromLatin1(topic)).toLocalFile());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << topic;
        EXPECT_TRUE(page.readAll().contains("<h1>")) << topic;
    }
    EXPECT_EQ(HelpUrl(QStringLiteral("::/x/y/ej.html")), HelpUrl(QStringLiteral("::/ej.html")));
    EXPECT_TRUE(HelpUrl().toLocalFile().endsWith(QLatin1String("/index.html")));
    for (const char* topic : {"::/no-such-page.html", "::/../../../../etc/hostname"})
        EXPECT_FALSE(HelpUrl(QString::fromLatin1(topic)).isValid()) << topic;
}

// The build tree keeps the pages in bin/help/, an install in share/marrowgate/help/ beside
// bin/; a program finds them in either layout, the build tree's first.
TEST(Desktop, HelpFolderInTheBuildTreeAndInAnInstall) {
    QTemporaryDir root;
    const struct {
        const char* Folders; // made under root, ';'-separated
        const char* Found;   // expected under root, "" for none
    } cases[] = {{"build/bin/help", "build/bin/help/"},
                 {"usr/bin;usr/share/marrowgate/help", "usr/share/marrowgate/help/"},
                 {"both/bin/help;both/share/marrowgate/help", "both/bin/help/"},
                 {"none/bin;none/share/help", ""}};
    for (const auto& c : cases) {
        const QStringList folders = QString::fromLatin1(c.Folders).split(u';');
        for (const QString& f : folders)
            ASSERT_TRUE(QDir(root.path()).mkpath(f));
        const QString program = root.filePath(folders[0].section(u'/', 0, 1));
        const QString found = QString::fromLatin1(c.Found);
        EXPECT_EQ(HelpFolderFor(program), found.isEmpty() ? QString() : root.filePath(found)) << c.Folders;
    }
    EXPECT_EQ(HelpFolderFor(QString()), QString());
}

TEST(Desktop, OpeningGoesThroughTheHookAndMissingTargetsOpenNothing) {
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
}

// With a desktop to start them on, test runs still never reach it.
TEST(Desktop, TestRunsNeverLaunchTheDesktop) {
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
