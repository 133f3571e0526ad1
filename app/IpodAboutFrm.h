#pragma once
// The About window: the product's name and version, its web page, and the switch of the
// music-list mode. Created on demand, shown modally, freed when it closes.
#include <QDialog>
#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class TZozoDodiFrm;

// The product's name and version as both secondary windows show it.
QString ProductTitle();

class TIpodAboutFrm : public QDialog {
    Q_OBJECT
public:
    explicit TIpodAboutFrm(TZozoDodiFrm* owner);

    void FormCreate();
    void UseDebugClick();
    void LinklbClick();

    QLabel* tilb = nullptr;
    QLabel* delb = nullptr;
    QFrame* bv = nullptr;
    QLabel* Linklb = nullptr;
    QCheckBox* UseDebug = nullptr;

    // Every way of closing ends here (close button, Escape, a click on the surface).
    void done(int result) override;

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    TZozoDodiFrm* Owner;
    bool FClosing = false;
};

// Places a secondary window over the middle of the main window.
void CentreOnOwner(QWidget* window, const QWidget* owner);
// Both secondary windows are fixed-size dialogs: a title and a close button, nothing the window
// manager could minimise or maximise.
constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
