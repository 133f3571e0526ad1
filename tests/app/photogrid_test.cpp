// The photo grid in the window: album nodes, tile placement and pictures, paging, ticking with
// its counts, damaged containers, the handheld through the simulated device, and device
// messages that arrive while a page is built.
#include "tests/app/window_helpers.h"
#include "tests/device/DeviceTest.h"
#include "widgets/PhotoControl.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <thread>

using devtest::ExpectQuadrants;

// `count` photos of small format `small` and a wider large one, cheap to write, so the small
// one is chosen.
static fixtures::PhotoSet Photos(int count, int perContainer = 3, int32_t small = 3004, bool handheld = false) {
    const int32_t large = small == 3004 || small == 1036 || small == 1032 ? 1066 : 1016;
    return fixtures::MakePhotoSet(large, small, count, handheld, perContainer);
}

class PhotoGridTest : public WindowTest {
protected:
    QTreeWidgetItem* PhotoRoot() { return Window->PlayLstList->topLevelItem(1); }
    // Chooses the photo root (album 0) or its album-th child, as a click in the tree does.
    void ChooseAlbum(int album) {
        Window->PlayLstList->setCurrentItem(album ? PhotoRoot()->child(album - 1) : PhotoRoot());
    }
    std::vector<TPhotoControl*> Tiles() const { return Window->PhotoTiles(); }
    int TickedTiles() const { return int(std::ranges::count_if(Tiles(), &TPhotoControl::Selected)); }
    // The page bar as "page/pages", then "<" and ">" for the buttons shown.
    QString PageBar() const {
        return Window->SelectPage->text() + '/' + Window->MaxPage->text() + (Window->PrvBtn->isHidden() ? "" : " <") +
               (Window->NxtBtn->isHidden() ? "" : " >");
    }
};

TEST_F(PhotoGridTest, EverySmallFormatShowsItsPicturesAndATickedFrame) {
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    for (int32_t id : {3004, 3011, 1036, 1015, 1032, 1009}) { // 1009: any other id
        SCOPED_TRACE(id);
        fixtures::WritePhotoSet(tree, Photos(13, 3, id), false);
        Window.reset();
        OpenShown();
        ChooseAlbum(0);
        const auto tiles = Tiles();
        ASSERT_EQ(tiles.size(), 13u);
        for (size_t i = 0; i < tiles.size(); ++i)
            ExpectQuadrants(tiles[i]->Picture(), int(i), 8);
        // On screen a ticked tile's frame turns white.
        QTest::mouseClick(tiles[1], Qt::LeftButton);
        EXPECT_EQ(tiles[1]->grab().toImage().pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
    }
}

TEST_F(PhotoGridTest, PagesOf450TilesAndAPageAskedForWhileATransferEnds) {
    fixtures::WritePhotoSet(MakeIpod('E', WindowDb()), Photos(451, 500), false);
    TZozoDodiFrm& w = OpenShown();
    w.SrEdit->setText(QStringLiteral("alpha"));
    ChooseAlbum(0);
    EXPECT_TRUE(!w.SrEdit->isVisible() && w.SrEdit->text().isEmpty() && w.SongPnl->isHidden() && PageBar() == "1/2 >");
    // Fifty full rows of nine and a gap below the last: no empty row to scroll to.
    EXPECT_EQ(w.PhotoPage->size(), QSize(76 * 9, 20 + 76 * 49 + 56 + 20));
    QTest::mouseClick(w.NxtBtn, Qt::LeftButton);
    // A tick on page 2, then invert on page 1: the whole album turns, not just the page.
    QTest::mouseClick(Tiles().front(), Qt::LeftButton);
    QTest::mouseClick(w.PrvBtn, Qt::LeftButton);
    w.InvertMnuClick();
    EXPECT_EQ(PhotoRoot()->text(0), "All photos (450/451)");

    // A cancelled transfer's thread that has not made its final report yet: no tick changes.
    QThread ending;
    w.CopyThread = &ending;
    QTest::mouseClick(Tiles()[3], Qt::LeftButton);
    w.UncheckMnuClick();
    EXPECT_EQ(TickedTiles(), 450);
    // The next page is asked for: no tiles of page 1 stand in for it.
    QTest::mouseClick(w.NxtBtn, Qt::LeftButton);
    w.TransferEnded();
    EXPECT_EQ(std::pair(PageBar(), Tiles().size()), std::pair(QString("2/2 <"), size_t(0)));
    // The thread's end builds the page that the bar shows, once only.
    w.CopyThread = nullptr;
    w.StatusLb->setText(QStringLiteral("kept"));
    w.TransferEnded();
    EXPECT_EQ(std::pair(Window->PhotoDb->Photos.GetItem(Tiles().at(0)->Id)->ImageId, w.StatusLb->text()),
              std::pair(550u, QString("kept")));
    w.ClearPhotoBox();
    w.TransferEnded();
    EXPECT_TRUE(Tiles().empty());
    // A page asked for in the photo view is not built after a switch to the track view.
    w.CopyThread = &ending;
    ChooseAlbum(0);
    w.PlayLstList->setCurrentItem(w.PlayLstList->topLevelItem(0));
    w.CopyThread = nullptr;
    w.TransferEnded();
    EXPECT_TRUE(Tiles().empty() && w.PicPnl->isHidden() && w.SrEdit->isVisible());
}

// 16 photos: album 0 lists all but the last, album 1 the first ten, album 2 the next five,
// album 3 one photo two times.
TEST_F(PhotoGridTest, TicksAcrossAlbumsKeepOneCountAndAreWhatTheTransferCopies) {
    fixtures::PhotoSet set = Photos(16);
    set.Db.Albums = std::vector<fixtures::FixtureAlbum>(4);
    set.Db.Albums[3].ImageIds = {100, 100};
    for (uint32_t id = 100; id < 115; ++id) {
        set.Db.Albums[0].ImageIds.push_back(id);
        set.Db.Albums[id < 110 ? 1 : 2].ImageIds.push_back(id);
    }
    fixtures::WritePhotoSet(MakeIpod('E', WindowDb()), set, false);
    TZozoDodiFrm& w = OpenShown();
    // Tick all on ten photos, then on five others: 15. Clear the five: 10.
    ChooseAlbum(1);
    w.CheckMnuClick();
    ChooseAlbum(2);
    w.CheckMnuClick();
    EXPECT_EQ(PhotoRoot()->text(0), "All photos (15/16)");
    w.UncheckMnuClick();
    // Ticks outlive their tiles; invert on the root's page flips the fifteen only, not the
    // photo in no album.
    ChooseAlbum(0);
    EXPECT_EQ(TickedTiles(), 10);
    w.InvertMnuClick();
    EXPECT_EQ(TickedTiles(), 5);
    // A photo listed twice is ticked on both tiles, counted once, and inverted once.
    ChooseAlbum(3);
    QTest::mouseClick(Tiles()[0], Qt::LeftButton);
    EXPECT_TRUE(Tiles()[1]->Selected());
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 5);

    const QString pics = Temp.filePath(QStringLiteral("pictures"));
    w.PicOutEdit->setText(pics);
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton, {}, w.ExportBtn->rect().center());
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    WaitForThreadEnd(w);
    EXPECT_EQ(QDir(pics).entryList(QDir::Files, QDir::Name),
              (QStringList{"110.jpg", "111.jpg", "112.jpg", "113.jpg", "114.jpg"}));
}

TEST_F(PhotoGridTest, DamagedContainersGiveShortPagesAndARemovalDuringABuildWaitsForIt) {
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    fixtures::WritePhotoSet(tree, Photos(20), false);
    const QString thumbs = QStringLiteral("Photos/Thumbs/F3004_1.ithmb");
    const QByteArray whole = tree.ReadFile(thumbs);
    // Ends inside the fourth picture: the page ends there, three tiles stay.
    tree.WriteFile(thumbs, whole.left(3 * fixtures::GeometryOf(3004).Size + 100));
    TZozoDodiFrm& w = OpenShown();
    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 3u);
    ExpectQuadrants(Tiles()[2]->Picture(), 2, 8);
    // Gone: an empty page, the controls back on.
    ASSERT_TRUE(QFile::remove(tree.Path(thumbs)));
    ChooseAlbum(1);
    EXPECT_TRUE(Tiles().empty() && w.PlayLstList->isEnabled() && w.PhotoBox->isEnabled() && w.CheckBtn->Enabled());

    // A volume removed from the build's first turn of the event loop is handled after it.
    tree.WriteFile(thumbs, whole);
    bool disabledMeanwhile = false;
    QTimer::singleShot(0, &w, [&] {
        disabledMeanwhile = !w.PlayLstList->isEnabled() && !w.PhotoBox->isEnabled() && w.LoadLb->isVisible();
        w.WMDeviceChange(TZozoDodiFrm::DBT_DEVICEREMOVECOMPLETE, TZozoDodiFrm::DBT_DEVTYP_VOLUME, 1u << 4);
    });
    ChooseAlbum(0);
    EXPECT_TRUE(disabledMeanwhile && Tiles().size() < 20 && w.PlayLstList->isEnabled() && w.LoadLb->isHidden());
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(w.StatusLb->text(), Boxes.size()), std::pair(QString("Connection Lost"), size_t(1)));
}

class HandheldPhotoGridTest : public PhotoGridTest {
protected:
    // Connects a phone with the window's tracks and `count` photos.
    TZozoDodiFrm& OpenWithPhone(int count, int perContainer = 3) {
        Phone.WriteHandheldTrackDb(fixtures::WriteTrackDb(WindowDb()), true);
        fixtures::WritePhotoSet(Phone, Photos(count, perContainer, 3004, true), true);
        return WindowTest::OpenWithPhone(Phone);
    }
    // The phone connects anew.
    void Reload() {
        SimControl("arrive", nullptr, 0);
        SimControl("wait", nullptr, 0);
        QCoreApplication::processEvents();
    }
    fixtures::DeviceTree Phone{Temp.filePath(QStringLiteral("phone"))};
};

TEST_F(HandheldPhotoGridTest, TilesComeThroughTheLinkAndAReloadStartsThemAfreshAfterTheBuild) {
    TZozoDodiFrm& w = OpenWithPhone(451, 500);
    ChooseAlbum(1);
    QTest::mouseClick(Tiles()[0], Qt::LeftButton);
    // The link says the phone is ready again while the root's page is being built.
    const device::TPhotoDb* before = Window->PhotoDb.get();
    bool sameDbMeanwhile = false;
    QTimer::singleShot(0, &w, [&] {
        Reload();
        sameDbMeanwhile = Window->PhotoDb.get() == before && w.PhotoPageBuilding();
    });
    ChooseAlbum(0);
    // The build stopped early and closed its file; the reload has not run yet.
    EXPECT_TRUE(sameDbMeanwhile && Tiles().size() < 450 && w.FCheckedPhotos == 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(PhotoRoot()->text(0), Tiles().size()), std::pair(QString("All photos (0/451)"), size_t(0)));
    // The link's one file is free again: the next page reads through it, in RGB 555.
    ChooseAlbum(0);
    ASSERT_EQ(Tiles().size(), 450u);
    for (TPhotoControl* t : Tiles())
        ExpectQuadrants(t->Picture(), t->Id, 8);
    // The phone now holds one page of photos, loaded while another phone comes and goes: the
    // load and its tiles keep to the phone, and there is no way to page on from the old page 2.
    QTest::mouseClick(w.NxtBtn, Qt::LeftButton);
    fixtures::WritePhotoSet(Phone, Photos(10, 3, 3004, true), true);
    SimControl("hold AFCFileRefRead", nullptr, 0);
    std::thread other([&] {
        const QByteArray at = Temp.filePath("other").toUtf8();
        for (const QByteArray& c : {QByteArray("held"), "arrive " + at, QByteArray("wait"), "leave " + at,
                                    QByteArray("wait"), QByteArray("release")})
            SimControl(c.constData(), nullptr, 0);
    });
    Reload();
    other.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(PageBar(), Tiles().size()), std::pair(QString("1/1"), size_t(0)));
    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 10u);
    // A reload whose photo database cannot be read leaves no tile of the photos before it.
    ASSERT_TRUE(QFile::remove(Phone.MediaPath(QStringLiteral("/Photos/Photo Database"))));
    Reload();
    EXPECT_TRUE(PhotoRoot() == nullptr && !w.PhotoGridHasTiles());
    // The phone's connection dies in the middle of a page: the connection is lost, said once.
    fixtures::WritePhotoSet(Phone, Photos(10, 3, 3004, true), true);
    Reload();
    SimControl(("fail AFCFileRefRead " + std::to_string(mobiledevice::ErrNoDevice)).c_str(), nullptr, 0);
    ChooseAlbum(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(BoxesStarting("Lost connection to the iPod device."), w.FDeviceKind),
              std::pair(1, TZozoDodiFrm::dkNone));
}

TEST_F(HandheldPhotoGridTest, ClosingTheWindowDuringABuildEndsIt) {
    TZozoDodiFrm& w = OpenWithPhone(30);
    bool closed = false;
    QTimer::singleShot(0, &w, [&] { closed = w.close(); });
    ChooseAlbum(0);
    EXPECT_TRUE(closed && !w.PhotoPageBuilding() && Tiles().size() < 30);
}
