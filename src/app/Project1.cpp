// Program entry: the application, the main window, the message loop.
#include <QApplication>

#include "app/MainForm.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    korvane::app::TForm1 form;
    form.show();
    return QApplication::exec();
}
