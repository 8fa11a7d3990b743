// ravel-viewer: the waveform viewer of the Ravel digitizer board.
#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // These names select the settings store, so they come before anything
    // reads settings.
    QCoreApplication::setOrganizationName("Kelvane Electronics");
    QCoreApplication::setOrganizationDomain("local");
    QCoreApplication::setApplicationName("Ravel-Viewer");

    auto* app = new QApplication(argc, argv);
    auto* window = new MainWindow;
    window->show();
    const int status = QApplication::exec();
    delete window;
    delete app;
    return status;
}
