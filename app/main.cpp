// Program entry: the application titled "Marrowgate" and its one main window.
#include "app/ZozoDodiMain.h"

#include <QApplication>
#include <QScreen>
#include <csignal>

int main(int argc, char* argv[]) {
    std::signal(SIGPIPE, SIG_IGN); // a pulled device must fail its socket write, not end the program
    QApplication app(argc, argv);
    // The pictures are compiled into the static app library; keep them linked in.
    Q_INIT_RESOURCE(marrowgate);
    SetUpApplication();
    auto* window = new TZozoDodiFrm;
    window->setAttribute(Qt::WA_DeleteOnClose);
    // A frameless window gets no placement from the window manager: centre it ourselves.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    return app.exec();
}
