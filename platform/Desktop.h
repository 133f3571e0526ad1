#pragma once
// Opening folders, web pages and the bundled help in the user's desktop applications.
#include <QString>
#include <QObject>
#include <QUrl>
#include <functional>

namespace platform {

// The help pages' folder for a program in `programDir`: "help/" beside the program (the build
// tree's bin/), else the install's share/marrowgate/help/ beside its bin/. Ends in "/"; ""
// when neither exists.
QString HelpFolderFor(const QString& programDir);
// The same for the running program.
QString HelpFolder();

// The page for a help topic such as "::/ej.html"; an empty topic is the start page
// (index.html). Only the topic's file name is used, so a topic cannot leave the help folder.
// An invalid URL when the help folder or the page is missing.
QUrl HelpUrl(const QString& topic = QString());

// The product's start page (opened on the first run and by the web labels).
QUrl ProductPage();

// Each asks the desktop (xdg-open) to open the target; the result says whether it could be handed
// over. Every failure, also one that the opener reports later, goes to the failure handler.
bool OpenFolder(const QString& path);
bool OpenPage(const QUrl& url);
bool OpenHelp(const QString& topic = QString());

// Tests catch what would be opened instead of starting a browser; an empty hook restores the
// desktop. The hook's result is what the Open functions return.
using OpenUrlHook = std::function<bool(const QUrl&)>;
void SetOpenUrlHookForTesting(OpenUrlHook hook);

// Called in the application's thread with the target that no program could open: the opener is
// missing, did not start or failed, or the target is invalid (a missing help page: an empty URL).
// It replaces the one set before and is called only while `receiver` lives.
using OpenFailedHandler = std::function<void(const QUrl&)>;
void SetOpenFailedHandler(QObject* receiver, OpenFailedHandler handler);

} // namespace platform
