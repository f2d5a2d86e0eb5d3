#include "app/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
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

void ConfigureFileDialog(QFileDialog& dialog, const QString& filter, bool save) {
    dialog.setDirectory(QDir::currentPath());
    dialog.setNameFilter(QtFilter(filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The caller asks about an existing file itself, once, knowing whether it
    // is the file the data came from.
    if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // Qt's own dialog names file types from the system's type list, which
    // has no Russian names ("Folder", "unknown"): that column is left out.
    auto hideTypes = [&dialog] {
        if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView")))
            view->hideColumn(2);
    };
    hideTypes();
    QTimer::singleShot(0, &dialog, hideTypes);
}

namespace {

QString RunFileDialog(QWidget* parent, const QString& title, const QString& filter, bool save) {
    QFileDialog dialog(parent, title);
    ConfigureFileDialog(dialog, filter, save);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

}  // namespace

QString QtDialogs::AskOpenFile(QWidget* parent, const QString& title, const QString& filter) {
    return RunFileDialog(parent, title, filter, false);
}

QString QtDialogs::AskSaveFile(QWidget* parent, const QString& title, const QString& filter) {
    return RunFileDialog(parent, title, filter, true);
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
