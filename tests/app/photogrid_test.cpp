// The photo grid in the window: album nodes, tile placement and pictures, paging, ticking with
// its counts, damaged containers, the handheld through the simulated device, and device
// messages that arrive while a page is built.
#include "device/PhotoDb.h"
#include "handheld/Iphone.h"
#include "platform/Library.h"
#include "platform/PostMessage.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "tests/app/window_helpers.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/SimLibraries.h"
#include "tests/fixtures/ThumbWriter.h"
#include "widgets/PhotoControl.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <thread>

namespace {

// One large format wider than the small one, cheap to write, so the small one is chosen.
int32_t LargeFor(int32_t smallId) {
    return smallId == 3004 || smallId == 1036 || smallId == 1032 ? 1066 : 1016;
}

bool Near(QRgb a, QColor b, int tolerance = 8) {
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

// The tile shows photo `seed`'s four quadrants in their places.
void ExpectQuadrants(const QImage& picture, int seed) {
    ASSERT_FALSE(picture.isNull());
    const int w = picture.width(), h = picture.height();
    const QPoint at[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    for (int q = 0; q < 4; ++q)
        EXPECT_TRUE(Near(picture.pixel(at[q]), fixtures::QuadrantColour(seed, q)))
            << "photo " << seed << " quadrant " << q << ": " << std::hex << picture.pixel(at[q]);
}

class PhotoGridTest : public WindowTest {
protected:
    // A disk-mode iPod on E: with the window's tracks and `set`'s photos.
    fixtures::DeviceTree MakePhotoIpod(const fixtures::PhotoSet& set) {
        fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
        fixtures::WritePhotoSet(tree, set, false);
        return tree;
    }

    QTreeWidgetItem* PhotoRoot() {
        for (int i = 0; i < Window->PlayLstList->topLevelItemCount(); ++i)
            if (TZozoDodiFrm::NodeKindOf(Window->PlayLstList->topLevelItem(i)) == TZozoDodiFrm::nkPhotoRoot)
                return Window->PlayLstList->topLevelItem(i);
        return nullptr;
    }

    // Chooses the photo root (album 0) or its album-th child, as a click in the tree does.
    void ChooseAlbum(int album) {
        QTreeWidgetItem* root = PhotoRoot();
        ASSERT_NE(root, nullptr);
        Window->PlayLstList->setCurrentItem(album == 0 ? root : root->child(album - 1));
    }

    std::vector<TPhotoControl*> Tiles() const { return Window->PhotoTiles(); }

    // Image ids of the tiles shown, in order.
    std::vector<uint32_t> TileImageIds() const {
        std::vector<uint32_t> ids;
        for (TPhotoControl* t : Tiles())
            ids.push_back(Window->PhotoDb->Photos.GetItem(t->Id)->ImageId);
        return ids;
    }

    int CountTicked() const {
        int n = 0;
        for (int k = 0; k < Window->PhotoDb->Photos.Count(); ++k)
            n += Window->PhotoDb->Photos.GetItem(k)->Selected ? 1 : 0;
        return n;
    }

    int TickedTiles() const {
        const auto tiles = Tiles();
        return int(std::count_if(tiles.begin(), tiles.end(), [](TPhotoControl* t) { return t->Selected(); }));
    }

    QString RootText() { return PhotoRoot() ? PhotoRoot()->text(0) : QString(); }

    // The page bar as "page/pages", then "<" and ">" for the buttons shown.
    QString PageBar() const {
        return Window->SelectPage->text() + QLatin1Char('/') + Window->MaxPage->text() +
               QLatin1String(Window->PrvBtn->isHidden() ? "" : " <") +
               QLatin1String(Window->NxtBtn->isHidden() ? "" : " >");
    }
};

// 15 photos: album 0 lists all but the last, "Ten" the first ten, "Five" the next five,
// "Nothing" an id without a photo; photo 115 is in no album.
fixtures::PhotoSet AlbumSet() {
    fixtures::PhotoSet set = fixtures::MakePhotoSet(LargeFor(3004), 3004, 16, false);
    fixtures::FixtureAlbum all{QStringLiteral("Library"), true, {}, {}};
    fixtures::FixtureAlbum ten{QStringLiteral("Ten"), true, {}, {}};
    fixtures::FixtureAlbum five{QStringLiteral("Five"), true, {}, {}};
    fixtures::FixtureAlbum nothing{QStringLiteral("Nothing"), true, {999}, {}};
    for (uint32_t id = 100; id < 115; ++id) {
        all.ImageIds.push_back(id);
        (id < 110 ? ten : five).ImageIds.push_back(id);
    }
    set.Db.Albums = {all, ten, five, nothing};
    return set;
}

} // namespace

TEST_F(PhotoGridTest, AlbumNodesSwitchBetweenTheGridAndTheTrackList) {
    MakePhotoIpod(fixtures::MakePhotoSet(LargeFor(3004), 3004, 12, false));
    TZozoDodiFrm& w = OpenShown();
    QTreeWidgetItem* root = PhotoRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("All photos (0/12)"));
    // Album 0 is the root itself; the second album is its only child.
    ASSERT_EQ(root->childCount(), 1);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("First"));
    EXPECT_TRUE(w.PicPnl->isHidden());

    w.SrEdit->setText(QStringLiteral("alpha"));
    ChooseAlbum(0);
    EXPECT_FALSE(w.PicPnl->isHidden());
    EXPECT_TRUE(w.SongPnl->isHidden());
    EXPECT_FALSE(w.SrEdit->isVisible());
    EXPECT_TRUE(w.SrEdit->text().isEmpty());
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 12 photos"));
    ASSERT_EQ(Tiles().size(), 12u);
    // The scroll box's content is one row wide and ends below the last row.
    EXPECT_EQ(w.PhotoPage->size(), QSize(76 * 9, 96 + 56 + 20));
    EXPECT_TRUE(w.PlayLstList->isEnabled() && w.PhotoBox->isEnabled());
    ChooseAlbum(1);
    EXPECT_EQ(TileImageIds(), (std::vector<uint32_t>{100, 101}));

    w.PlayLstList->setCurrentItem(w.PlayLstList->topLevelItem(0));
    EXPECT_TRUE(w.PicPnl->isHidden());
    EXPECT_FALSE(w.SongPnl->isHidden());
    EXPECT_TRUE(w.SrEdit->isVisible());
}

TEST_F(PhotoGridTest, EverySmallFormatShowsItsPicturesAndATickedFrame) {
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    for (int32_t id : {3004, 3011, 1036, 1015, 1032, 1009}) { // 1009: any other id
        SCOPED_TRACE(id);
        fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(LargeFor(id), id, 13, false), false);
        Window.reset();
        OpenShown();
        ASSERT_EQ(Window->PhotoDb->Small.Id, id);
        ChooseAlbum(0);
        const auto tiles = Tiles();
        ASSERT_EQ(tiles.size(), 13u);
        for (size_t i = 0; i < tiles.size(); ++i)
            ExpectQuadrants(tiles[i]->Picture(), int(i));
        // On screen a black frame that turns white when ticked.
        EXPECT_EQ(tiles[1]->grab().toImage().pixel(0, 0) & 0xFFFFFF, 0u);
        QTest::mouseClick(tiles[1], Qt::LeftButton);
        EXPECT_EQ(tiles[1]->grab().toImage().pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
        EXPECT_EQ(RootText(), QStringLiteral("All photos (1/13)"));
    }
}

TEST_F(PhotoGridTest, PagesOf450Tiles) {
    // 451 photos: two pages; "First" has one page.
    MakePhotoIpod(fixtures::MakePhotoSet(LargeFor(3004), 3004, 451, false, 500));
    TZozoDodiFrm& w = OpenShown();
    // The device load already shows the page count and the next button.
    EXPECT_EQ(w.MaxPage->text(), QStringLiteral("2"));
    EXPECT_FALSE(w.NxtBtn->isHidden());

    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 450u);
    EXPECT_EQ(PageBar(), QStringLiteral("1/2 >"));

    w.StatusLb->setText(QStringLiteral("kept"));
    QTest::mouseClick(w.NxtBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(PageBar(), QStringLiteral("2/2 <"));
    EXPECT_EQ(TileImageIds(), std::vector<uint32_t>{550});
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("kept"));

    // A tick on page 2, then invert on page 1: the whole album turns, not just the page.
    QTest::mouseClick(Tiles().front(), Qt::LeftButton);
    EXPECT_EQ(w.FCheckedPhotos, 1);
    QTest::mouseClick(w.PrvBtn, Qt::LeftButton, {}, QPoint(5, 5));
    w.InvertMnuClick();
    EXPECT_EQ(CountTicked(), 450);
    EXPECT_EQ(RootText(), QStringLiteral("All photos (450/451)"));
    w.NxtBtnClick();
    ASSERT_EQ(Tiles().size(), 1u);
    EXPECT_FALSE(Tiles().front()->Selected());

    // Another album of one page after page 2 of two.
    ChooseAlbum(1);
    EXPECT_EQ(PageBar(), QStringLiteral("1/1"));
    EXPECT_EQ(Tiles().size(), 2u);
}

TEST_F(PhotoGridTest, ExactlyOnePageOf450) {
    MakePhotoIpod(fixtures::MakePhotoSet(LargeFor(3004), 3004, 450, false, 500));
    TZozoDodiFrm& w = Open();
    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 450u);
    EXPECT_EQ(PageBar(), QStringLiteral("1/1"));
    // Fifty full rows and a gap below the last: no empty row to scroll to.
    EXPECT_EQ(w.PhotoPage->height(), 20 + 76 * 49 + 56 + 20);
}

TEST_F(PhotoGridTest, TickingAcrossAlbumsKeepsOneCount) {
    MakePhotoIpod(AlbumSet());
    TZozoDodiFrm& w = OpenShown();
    // The photo in no album has no tile, not even under the root.
    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 15u);
    for (uint32_t id : TileImageIds())
        EXPECT_NE(id, 115u);

    // One tile of an album: counted on the root, in the photo, on the tile.
    ChooseAlbum(2);
    ASSERT_EQ(Tiles().size(), 5u);
    TPhotoControl* tile = Tiles()[1];
    QTest::mouseClick(tile, Qt::LeftButton);
    EXPECT_TRUE(tile->Selected());
    EXPECT_EQ(Window->PhotoDb->Photos.GetItem(tile->Id)->Selected, 1);
    EXPECT_EQ(RootText(), QStringLiteral("All photos (1/16)"));
    QTest::mouseClick(tile, Qt::LeftButton);
    EXPECT_EQ(RootText(), QStringLiteral("All photos (0/16)"));

    // Tick all on ten photos, then on five others: 15. Clear the five: 10.
    ChooseAlbum(1);
    // The photo view's menu has no "selected rows" entries.
    bool menu = false;
    w.PrepareCheckMenu(&menu);
    EXPECT_TRUE(menu && !w.CheckSMnu->isVisible());
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 10);
    EXPECT_EQ(TickedTiles(), 10);
    ChooseAlbum(2);
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 15);
    EXPECT_EQ(RootText(), QStringLiteral("All photos (15/16)"));
    w.UncheckMnuClick();
    EXPECT_EQ(CountTicked(), 10);
    EXPECT_EQ(TickedTiles(), 0);

    // Ticks outlive their tiles: the ten show ticked again, under the root too.
    ChooseAlbum(0);
    EXPECT_EQ(TickedTiles(), 10);

    // Invert on the root's page flips the fifteen; the photo in no album keeps its mark.
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 5);
    for (TPhotoControl* t : Tiles())
        EXPECT_EQ(t->Selected(), Window->PhotoDb->Photos.GetItem(t->Id)->Selected != 0);
    EXPECT_EQ(Window->PhotoDb->Photos.GetItem(15)->Selected, 0);

    // An album whose id names no photo: no tiles, no menu, and tick all changes nothing.
    ChooseAlbum(3);
    EXPECT_TRUE(Tiles().empty());
    bool showMenu = true;
    w.PrepareCheckMenu(&showMenu);
    EXPECT_FALSE(showMenu);
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 5);
    EXPECT_EQ(CountTicked(), 5);
}

TEST_F(PhotoGridTest, TheTicksOfTheGridAreWhatTheTransferCopies) {
    MakePhotoIpod(AlbumSet());
    TZozoDodiFrm& w = OpenShown();
    ChooseAlbum(1);
    w.CheckMnuClick();
    ChooseAlbum(2);
    QTest::mouseClick(Tiles()[0], Qt::LeftButton);
    ChooseAlbum(0);
    ASSERT_EQ(TileImageIds().front(), 100u);
    QTest::mouseClick(Tiles().front(), Qt::LeftButton);
    EXPECT_EQ(w.FCheckedPhotos, 10);
    EXPECT_EQ(RootText(), QStringLiteral("All photos (10/16)"));

    const QString pics = Temp.filePath(QStringLiteral("pictures"));
    w.PicOutEdit->setText(pics);
    ASSERT_TRUE(w.PrepareExport());
    EXPECT_TRUE(w.Trlb->text().startsWith(QStringLiteral("10 photos, approx ")))
        << w.Trlb->text().toStdString();
    w.ExpBtn->click();
    ASSERT_TRUE(w.FCopying);
    while (w.CopyThread)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QStringList expected;
    for (int id = 101; id <= 110; ++id)
        expected << QStringLiteral("%1.jpg").arg(id);
    expected.sort();
    EXPECT_EQ(QDir(pics).entryList(QDir::Files, QDir::Name), expected);
    w.CancelBtnClick();
}

TEST_F(PhotoGridTest, WhileATransferIsEndingPagesWaitAndTicksStay) {
    MakePhotoIpod(fixtures::MakePhotoSet(LargeFor(3004), 3004, 451, false, 500));
    TZozoDodiFrm& w = OpenShown();
    ChooseAlbum(0);
    ASSERT_EQ(Tiles().size(), 450u);
    // A cancelled transfer's thread that has not made its final report yet.
    QThread ending;
    w.CopyThread = &ending;
    QTest::mouseClick(Tiles()[3], Qt::LeftButton);
    EXPECT_FALSE(Tiles()[3]->Selected());
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 0);
    EXPECT_EQ(CountTicked(), 0);

    // The next page is asked for: no tiles of page 1 stand in for it.
    w.NxtBtnClick();
    EXPECT_EQ(PageBar(), QStringLiteral("2/2 <"));
    EXPECT_TRUE(Tiles().empty());
    w.TransferEnded();
    EXPECT_TRUE(Tiles().empty());

    // The thread's end builds the page that the bar shows.
    w.CopyThread = nullptr;
    w.StatusLb->setText(QStringLiteral("kept"));
    w.TransferEnded();
    EXPECT_EQ(TileImageIds(), std::vector<uint32_t>{550});
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("kept"));
    QTest::mouseClick(Tiles()[0], Qt::LeftButton);
    EXPECT_EQ(w.FCheckedPhotos, 1);
    // Once only.
    w.ClearPhotoBox();
    w.TransferEnded();
    EXPECT_TRUE(Tiles().empty());

    // A page asked for in the photo view is not built after a switch to the track view.
    w.CopyThread = &ending;
    ChooseAlbum(0);
    EXPECT_TRUE(Tiles().empty());
    w.PlayLstList->setCurrentItem(w.PlayLstList->topLevelItem(0));
    w.CopyThread = nullptr;
    w.TransferEnded();
    EXPECT_TRUE(Tiles().empty());
}

TEST_F(PhotoGridTest, APhotoListedTwiceIsCountedOnce) {
    fixtures::PhotoSet set = fixtures::MakePhotoSet(LargeFor(3004), 3004, 3, false);
    set.Db.Albums = {{QStringLiteral("Library"), true, {100, 101, 100, 102}, {}}};
    MakePhotoIpod(set);
    TZozoDodiFrm& w = OpenShown();
    ChooseAlbum(0);
    auto tiles = Tiles();
    ASSERT_EQ(tiles.size(), 4u);
    ASSERT_EQ(tiles[0]->Id, tiles[2]->Id);
    QTest::mouseClick(tiles[0], Qt::LeftButton);
    EXPECT_TRUE(tiles[2]->Selected());
    QTest::mouseClick(tiles[2], Qt::LeftButton);
    EXPECT_EQ(w.FCheckedPhotos, 0);
    EXPECT_FALSE(tiles[0]->Selected());
    // Invert turns the photo on once, not on and off again.
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedPhotos, 3);
    EXPECT_EQ(CountTicked(), 3);
}

TEST_F(PhotoGridTest, DamagedContainersGiveShortOrEmptyPages) {
    const fixtures::PhotoSet set = fixtures::MakePhotoSet(LargeFor(3004), 3004, 6, false);
    fixtures::DeviceTree tree = MakePhotoIpod(set);
    const QString thumbs = QStringLiteral("Photos/Thumbs/F3004_1.ithmb");
    const QByteArray whole = tree.ReadFile(thumbs);
    const int imageBytes = fixtures::GeometryOf(3004).Size;
    ASSERT_EQ(whole.size(), 6 * imageBytes);

    // Ends inside the fourth picture: the page ends there, three tiles stay.
    tree.WriteFile(thumbs, whole.left(3 * imageBytes + 100));
    TZozoDodiFrm& w = OpenShown();
    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 3u);
    ExpectQuadrants(Tiles()[2]->Picture(), 2);
    EXPECT_TRUE(w.PlayLstList->isEnabled());
    EXPECT_TRUE(w.PhotoBox->isEnabled());
    EXPECT_TRUE(Boxes.empty());

    // Shorter than 12 bytes, or gone: an empty page, the controls back on.
    tree.WriteFile(thumbs, QByteArray(11, 'x'));
    ChooseAlbum(1);
    EXPECT_TRUE(Tiles().empty());
    EXPECT_TRUE(w.PlayLstList->isEnabled());
    ASSERT_TRUE(QFile::remove(tree.Path(thumbs)));
    ChooseAlbum(0);
    EXPECT_TRUE(Tiles().empty());
    EXPECT_TRUE(w.CheckBtn->Enabled());
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 6 photos"));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(PhotoGridTest, AVolumeRemovedDuringABuildIsHandledAfterIt) {
    MakePhotoIpod(fixtures::MakePhotoSet(LargeFor(3004), 3004, 20, false));
    TZozoDodiFrm& w = OpenShown();
    bool disabledMeanwhile = false;
    size_t boxesMeanwhile = 99;
    // Runs from the build's first turn of the event loop.
    QTimer::singleShot(0, &w, [&] {
        disabledMeanwhile = !w.PlayLstList->isEnabled() && !w.PhotoBox->isEnabled() &&
                            !w.CheckBtn->Enabled() && !w.NxtBtn->Enabled() && !w.LoadLb->isHidden() &&
                            w.LoadLb->isVisible();
        w.WMDeviceChange(TZozoDodiFrm::DBT_DEVICEREMOVECOMPLETE, TZozoDodiFrm::DBT_DEVTYP_VOLUME, 1u << 4);
        boxesMeanwhile = Boxes.size();
    });
    ChooseAlbum(0);
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_EQ(boxesMeanwhile, 0u);
    // The build ended early; the removal has not run yet.
    EXPECT_LT(Tiles().size(), 20u);
    EXPECT_GE(Tiles().size(), 1u);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkIpod);
    EXPECT_TRUE(w.PlayLstList->isEnabled());
    EXPECT_TRUE(w.LoadLb->isHidden());
    QCoreApplication::processEvents();
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Connection Lost"));
    EXPECT_EQ(Boxes.size(), 1u);
}

// ---- the handheld, through the simulated device library ----

class HandheldPhotoGridTest : public PhotoGridTest {
protected:
    void SetUp() override {
        PhotoGridTest::SetUp();
        ASSERT_TRUE(Libs.isValid());
        ASSERT_TRUE(fixtures::InstallSimulatedLibraries(QStringLiteral(MG_BIN_DIR "/mobiledevice-sim/new"),
                                                        Libs.path()));
    }
    void TearDown() override {
        PhotoGridTest::TearDown();
        platform::SetCommonProgramFilesFolderForTesting(QString());
    }

    // Opens the window (which loads the simulated library) and connects a phone serving `phone`.
    TZozoDodiFrm& OpenWithPhone(const fixtures::DeviceTree& phone) {
        TZozoDodiFrm& w = OpenShown();
        auto control = reinterpret_cast<PFN_MobileDeviceSimControl>(
            platform::GetProcAddress(handheld::IphoneState().MobileDeviceModule, "MobileDeviceSimControl"));
        EXPECT_NE(control, nullptr);
        if (!control) return w;
        Control = control;
        Sim("root " + phone.Root().toUtf8());
        Sim("arrive");
        Sim("wait");
        QCoreApplication::processEvents();
        return w;
    }
    int Sim(const QByteArray& command) { return Control(command.constData(), nullptr, 0); }

    // A phone's files with the window's tracks and `count` photos.
    fixtures::DeviceTree MakePhone(int count, int perContainer = 3) {
        fixtures::DeviceTree phone(Temp.filePath(QStringLiteral("phone")));
        phone.WriteHandheldTrackDb(fixtures::WriteTrackDb(WindowDb()), true);
        WritePhonePhotos(phone, count, perContainer);
        return phone;
    }
    static void WritePhonePhotos(const fixtures::DeviceTree& phone, int count, int perContainer = 3) {
        fixtures::WritePhotoSet(
            phone, fixtures::MakePhotoSet(LargeFor(3004), 3004, count, true, perContainer), true);
    }

    QTemporaryDir Libs;
    PFN_MobileDeviceSimControl Control = nullptr;
};

TEST_F(HandheldPhotoGridTest, TilesComeThroughTheLinkInRgb555OrNotAtAll) {
    fixtures::DeviceTree phone = MakePhone(11);
    TZozoDodiFrm& w = OpenWithPhone(phone);
    ASSERT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld) << handheld::IphoneLastError().constData();
    ChooseAlbum(0);
    const auto tiles = Tiles();
    ASSERT_EQ(tiles.size(), 11u);
    for (size_t i = 0; i < tiles.size(); ++i)
        ExpectQuadrants(tiles[i]->Picture(), int(i));
    // The page's file is closed again: the next page opens it anew.
    ChooseAlbum(1);
    EXPECT_EQ(Tiles().size(), 2u);
    ExpectQuadrants(Tiles()[1]->Picture(), 1);
    // A container gone from the phone gives an empty page, the controls back on.
    ASSERT_TRUE(QFile::remove(phone.MediaPath(QStringLiteral("/Photos/Thumbs/F3004_1.ithmb"))));
    ChooseAlbum(0);
    EXPECT_TRUE(Tiles().empty());
    EXPECT_TRUE(w.PlayLstList->isEnabled());
}

TEST_F(HandheldPhotoGridTest, AReloadDuringABuildWaitsForIt) {
    fixtures::DeviceTree phone = MakePhone(30);
    TZozoDodiFrm& w = OpenWithPhone(phone);
    ASSERT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
    ChooseAlbum(1);
    QTest::mouseClick(Tiles()[0], Qt::LeftButton);
    ASSERT_EQ(w.FCheckedPhotos, 1);

    // The link says the phone is ready again while the root's page is being built.
    const device::TPhotoDb* before = Window->PhotoDb.get();
    bool sameDbMeanwhile = false;
    QTimer::singleShot(0, &w, [&] {
        platform::PostMessage(w.FWindowHandle, TZozoDodiFrm::WM_IPHONE_NOTIFY);
        QCoreApplication::processEvents();
        sameDbMeanwhile = Window->PhotoDb.get() == before && w.PhotoPageBuilding();
    });
    ChooseAlbum(0);
    EXPECT_TRUE(sameDbMeanwhile);
    // The build stopped early and closed its file; the reload has not run yet.
    EXPECT_LT(Tiles().size(), 30u);
    EXPECT_EQ(Window->PhotoDb.get(), before);
    EXPECT_EQ(w.FCheckedPhotos, 1);
    for (TPhotoControl* t : Tiles())
        ExpectQuadrants(t->Picture(), t->Id);

    QCoreApplication::processEvents();
    // Reloaded: new databases, counts zeroed, the track view shown, the old tiles gone.
    EXPECT_EQ(RootText(), QStringLiteral("All photos (0/30)"));
    EXPECT_EQ(CountTicked(), 0);
    EXPECT_TRUE(Tiles().empty());
    // The link's one file is free again: the next page reads through it.
    ChooseAlbum(0);
    EXPECT_EQ(Tiles().size(), 30u);
}

TEST_F(HandheldPhotoGridTest, AReloadStartsThePageBarAndTheTilesAfresh) {
    fixtures::DeviceTree phone = MakePhone(451, 500);
    TZozoDodiFrm& w = OpenWithPhone(phone);
    ASSERT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
    ChooseAlbum(0);
    w.NxtBtnClick();
    ASSERT_EQ(PageBar(), QStringLiteral("2/2 <"));
    ASSERT_EQ(Tiles().size(), 1u);

    // The phone now holds one page of photos: no way to page on from the old page 2.
    WritePhonePhotos(phone, 10);
    platform::PostMessage(w.FWindowHandle, TZozoDodiFrm::WM_IPHONE_NOTIFY);
    QCoreApplication::processEvents();
    ASSERT_EQ(Window->PhotoDb->Photos.Count(), 10);
    EXPECT_EQ(PageBar(), QStringLiteral("1/1"));
    EXPECT_TRUE(Tiles().empty());
    ChooseAlbum(0);
    ASSERT_EQ(Tiles().size(), 10u);
    ExpectQuadrants(Tiles()[9]->Picture(), 9);

    // A reload whose photo database cannot be read leaves no tile of the photos before it.
    ASSERT_TRUE(QFile::remove(phone.MediaPath(QStringLiteral("/Photos/Photo Database"))));
    platform::PostMessage(w.FWindowHandle, TZozoDodiFrm::WM_IPHONE_NOTIFY);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.MusicModel->Count(), 5);
    EXPECT_EQ(PhotoRoot(), nullptr);
    EXPECT_FALSE(w.PhotoGridHasTiles());
}

TEST_F(HandheldPhotoGridTest, ClosingTheWindowDuringABuildEndsItAndFreesTheLink) {
    fixtures::DeviceTree phone = MakePhone(30);
    TZozoDodiFrm& w = OpenWithPhone(phone);
    ASSERT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
    bool closed = false;
    QTimer::singleShot(0, &w, [&] { closed = w.close(); });
    ChooseAlbum(0);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(w.PhotoPageBuilding());
    EXPECT_GE(Tiles().size(), 1u);
    EXPECT_LT(Tiles().size(), 30u);
    // No thread waits for ever on the link's lock that the page's open file held.
    bool free = false;
    std::thread other([&] {
        free = handheld::IphoneLock().try_lock();
        if (free) handheld::IphoneLock().unlock();
    });
    other.join();
    EXPECT_TRUE(free);
}
