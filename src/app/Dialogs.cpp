#include "app/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace korvane::app {

void QtDialogs::ShowError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Korvane"), text);
}

namespace {

// "name|pattern|name|pattern" becomes Qt's "name (pattern);;name (pattern)".
QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return entries.isEmpty() ? filter : entries.join(QStringLiteral(";;"));
}

}  // namespace

QString QtDialogs::AskOpenFile(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, QDir::currentPath(), QtFilter(filter));
}

QString QtDialogs::AskSaveFile(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, title, QDir::currentPath(), QtFilter(filter));
}

bool QtDialogs::Confirm(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, QStringLiteral("Korvane"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

SaveChanges QtDialogs::AskSaveChanges(QWidget* parent, const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Korvane"), question,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return SaveChanges::Save;
        case QMessageBox::No:
            return SaveChanges::Discard;
        default:
            return SaveChanges::Cancel;
    }
}

}  // namespace korvane::app
