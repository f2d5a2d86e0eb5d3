#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace korvane::app {

void QtDialogs::ShowError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Korvane"), text);
}

QString QtDialogs::AskOpenFile(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

}  // namespace korvane::app
