#include "platform/Desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;

namespace {

// Catches what would go to the browser or the file manager.
struct Catcher {
    std::vector<QUrl> opened;
    Catcher() {
        SetOpenUrlHookForTesting([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    ~Catcher() { SetOpenUrlHookForTesting({}); }
};

QString Read(const QUrl& url) {
    QFile f(url.toLocalFile());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Stands in for the desktop's own file handler.
class UrlHandler : public QObject {
    Q_OBJECT
public:
    int Opened = 0;
public slots:
    void Open(const QUrl&) { ++Opened; }
};

} // namespace

TEST(Desktop, HelpPagesLieBesideTheProgram) {
    const QString folder = HelpFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(folder.endsWith(QLatin1Char('/')));
    EXPECT_EQ(QDir(folder).absolutePath(), QDir(QStringLiteral(MG_BIN_DIR "/help")).absolutePath());
    // every topic the window opens, and the start page
    for (const char* topic : {"::/ej.html", "::/disk.html", "::/ts.html", "::/diag.html", ""}) {
        const QUrl url = HelpUrl(QString::fromLatin1(topic));
        ASSERT_TRUE(url.isValid()) << topic;
        EXPECT_TRUE(url.isLocalFile()) << topic;
        EXPECT_TRUE(Read(url).contains(QLatin1String("<h1>"))) << topic;
    }
    EXPECT_TRUE(HelpUrl().toLocalFile().endsWith(QLatin1String("/index.html")));
    EXPECT_EQ(ProductPage(), HelpUrl());
    EXPECT_TRUE(Read(HelpUrl(QStringLiteral("::/ts.html"))).contains(QLatin1String("usbmuxd")));
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

TEST(Desktop, TopicsCannotLeaveTheHelpFolder) {
    EXPECT_FALSE(HelpUrl(QStringLiteral("::/no-such-page.html")).isValid());
    const QUrl escaped = HelpUrl(QStringLiteral("::/../../../../etc/hostname"));
    EXPECT_FALSE(escaped.isValid());
    // a path in the topic is reduced to the page's name
    const QUrl nested = HelpUrl(QStringLiteral("::/x/y/ej.html"));
    EXPECT_EQ(nested, HelpUrl(QStringLiteral("::/ej.html")));
}

TEST(Desktop, OpeningGoesThroughTheHookAndMissingTargetsOpenNothing) {
    Catcher c;
    EXPECT_TRUE(OpenHelp(QStringLiteral("::/ej.html")));
    EXPECT_TRUE(OpenHelp());
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/missing.html")));
    EXPECT_FALSE(OpenFolder(QString()));
    QTemporaryDir dir;
    EXPECT_TRUE(OpenFolder(dir.path()));
    EXPECT_TRUE(OpenPage(ProductPage()));
    ASSERT_EQ(c.opened.size(), 4u);
    EXPECT_TRUE(c.opened[0].toLocalFile().endsWith(QLatin1String("/help/ej.html")));
    EXPECT_TRUE(c.opened[1].toLocalFile().endsWith(QLatin1String("/help/index.html")));
    EXPECT_EQ(c.opened[2], QUrl::fromLocalFile(dir.path()));
    EXPECT_EQ(c.opened[3], c.opened[1]);
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
