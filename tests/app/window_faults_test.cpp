// The window as a user meets it: its chrome, what fits on screen, header clicks, the folder
// fields and pickers, the eject question and a damaged track database.
#include "tests/app/window_helpers.h"

#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

namespace {

// The label's top-left pixel as the title bar shows it.
QRgb Corner(QLabel* label) {
    return label->parentWidget()->grab(label->geometry()).toImage().pixel(0, 0);
}

} // namespace

TEST_F(WindowTest, WhatTheUserSeesAndDoesBeforeATransfer) {
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
    TZozoDodiFrm* w = &OpenShown();
    QTreeWidget* t = w->PlayLstList;
    ASSERT_EQ(t->topLevelItemCount(), 2);
    t->topLevelItem(0)->setText(0, "All music & videos (8888/8888)");
    t->topLevelItem(1)->setText(0, "All photos (8888/8888)");
    EXPECT_LE(static_cast<QAbstractItemView*>(t)->sizeHintForColumn(0), t->viewport()->width());
    // The window grew with the pane: a full row of photos still fits beside it.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->topLevelItem(1)).center());
    EXPECT_LE(w->PhotoPage->width(), w->PhotoBox->viewport()->width());
    const int wide = w->width();
    w->close();
    ASSERT_EQ(BoxesStarting("Do you want to eject your iPod now?"), 1);
    EXPECT_TRUE(Boxes.back().Text.endsWith("You can also eject it from iTunes or your file manager later."));
    w = &OpenShown();
    EXPECT_EQ(w->width(), wide); // the saved pane width gives the same window

    for (auto [label, hover] : {std::pair{w->Weblb, qRgb(0x75, 0x75, 0x75)}, {w->AboutLb, qRgb(0x80, 0x80, 0x80)}}) {
        const QRgb resting = Corner(label);
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(label, &enter);
        EXPECT_EQ(Corner(label), hover);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(label, &leave);
        EXPECT_EQ(Corner(label), resting);
    }

    // The name column takes the spare width, so the last column stays in view.
    QHeaderView* h = w->MusicList->header();
    const int name = h->sectionSize(TrackListModel::ColName);
    w->resize(w->width() + 150, w->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(h->sectionSize(TrackListModel::ColName), name + 150);
    EXPECT_EQ(h->length(), w->MusicList->viewport()->width());
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          {h->sectionViewportPosition(TrackListModel::ColName) + name / 2, 5});
    EXPECT_EQ(Titles(), QStringList({"Echo alpha", "delta", "Charlie", "bravo", "Alpha"}));
    EXPECT_TRUE(h->isSortIndicatorShown());
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);

    // Songs and photos ticked: the summary's four lines and every field show whole.
    w->CheckAllTracks();
    for (int i = 0; i < 2; ++i)
        w->PhotoDb->Photos.GetItem(i)->Selected = 1;
    w->FCheckedPhotos = 2;
    QTest::mouseClick(w->ExportBtn, Qt::LeftButton);
    ASSERT_EQ(w->NotePgc->currentWidget(), w->SetTab);
    for (QWidget* c : w->ErrPnl->findChildren<QWidget*>()) {
        if (!c->isVisibleTo(w->ErrPnl) || c->parentWidget() == w->NotePgc)
            continue;
        EXPECT_TRUE(w->ErrPnl->rect().contains({c->mapTo(w->ErrPnl, QPoint(0, 0)), c->size()}))
            << c->metaObject()->className();
        EXPECT_GE(c->height(), c->minimumSizeHint().height()) << c->metaObject()->className();
    }
    EXPECT_GE(w->Trlb->height(), w->Trlb->sizeHint().height());

    // The picker opens at the nearest folder the field names, else at home.
    const QString have = Temp.filePath("have");
    ASSERT_TRUE(QDir().mkpath(have));
    for (const auto& [field, start] : {std::pair{have + "/not/yet", have}, {QString(" \x01"), QDir::homePath()}}) {
        w->OutEdit->setText(field);
        QString opened;
        QTimer::singleShot(0, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                opened = d->directory().absolutePath(), d->reject();
        });
        QTest::mouseClick(w->BrowseBtn, Qt::LeftButton);
        EXPECT_EQ(opened, start) << field.toStdString();
        EXPECT_EQ(w->OutEdit->text(), field);
    }

    // Start trims the field as start-up does; with the device gone it stops after the folders.
    const QString out = Temp.filePath("out") + QChar(0xA0); // a no-break space is part of a name
    w->OutEdit->setText("\x01 " + out + " \t");
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    QTest::mouseClick(w->ExpBtn, Qt::LeftButton);
    EXPECT_EQ(w->OutEdit->text(), out + "/");
    EXPECT_TRUE(QFileInfo(out).isDir());
    EXPECT_EQ(BoxesStarting("Lost connection to the iPod device."), 1);
}

TEST_F(WindowTest, DamagedTrackDatabaseListsWhatWasReadAndSaysSoOnce) {
    fixtures::TrackDbLayout at;
    const QByteArray good = fixtures::WriteTrackDb(WindowDb(), &at);
    const fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    // Where a length is broken, and the tracks and tree nodes still listed.
    for (const auto [pos, value, tracks, nodes] : {std::tuple{at.TrackSection + 8, 0u, 5, 2},
                                                   {at.PlaylistItems[1][1] + 8, 0u, 5, 4},
                                                   {at.Tracks[3] + 8, 0xFFFFFFF0u, 3, 4}}) {
        QByteArray bytes = good;
        fixtures::PutU32(bytes, pos, value);
        tree.WriteTrackDb(bytes);
        Boxes.clear();
        TZozoDodiFrm& w = Open();
        EXPECT_EQ(w.MusicModel->Count(), tracks) << pos;
        EXPECT_EQ(w.PlayLstList->topLevelItem(0)->childCount(), nodes) << pos;
        ASSERT_EQ(Boxes.size(), 1u) << pos;
        EXPECT_TRUE(Boxes[0].Text.startsWith("The iPod's music database is damaged")) << pos;
        Window.reset();
    }
}

TEST_F(WindowTest, DamagedHandheldDatabaseIsListedWithoutTheUnreadableNotice) {
    fixtures::TrackDbLayout at;
    QByteArray bytes = fixtures::WriteTrackDb(WindowDb(), &at);
    fixtures::PutU32(bytes, at.Tracks[3] + 8, 0xFFFFFFF0);
    device::SetHandheldFileReader([&](const QByteArray& path, QByteArray& out) {
        out = bytes;
        return path.endsWith("/iTunesDB");
    });
    const auto ready = [](bool on) {
        QMutexLocker lock(&handheld::IphoneLock());
        handheld::IphoneMgr.Ready = on;
    };
    TZozoDodiFrm& w = Open();
    ready(true);
    w.WMIphoneNotify();
    EXPECT_EQ(w.MusicModel->Count(), 3);
    EXPECT_EQ(w.ErrLb->text(), "Waiting for iPod ...");
    EXPECT_EQ(BoxesStarting("The music database of the iPhone/iPod touch is damaged"), 1);
    ready(false);
    device::SetHandheldFileReader(nullptr);
}
