#include "app/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

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
    // The caller asks about an existing file itself, once, knowing whether it
    // is the file the data came from.
    return QFileDialog::getSaveFileName(parent, title, QDir::currentPath(), QtFilter(filter),
                                        nullptr, QFileDialog::DontConfirmOverwrite);
}

bool QtDialogs::Confirm(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, QStringLiteral("Korvane"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QTranslator* InstallRussianTranslations(QCoreApplication& app) {
    // The program speaks Russian whatever the system's language, and so do
    // Qt's own dialogs (file dialogs, standard buttons).
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    translator->setParent(&app);
    return translator.release();
}

}  // namespace korvane::app
