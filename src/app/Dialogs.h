#pragma once
#include <QString>
#include <QStringList>

class QCoreApplication;
class QFileDialog;
class QTranslator;
class QWidget;

namespace korvane::app {

// Message boxes and file dialogs of the window, behind one seam so window
// tests can read the message or answer the dialog instead of blocking.
// The answer to "save the changes before they are dropped?".
enum class SaveChanges { Save, Discard, Cancel };

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
    // Empty when the user cancels. The filter is "name|pattern|name|pattern"
    // with the first entry chosen at first.
    virtual QString AskOpenFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    // The same for a file to write.
    virtual QString AskSaveFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    // A yes/no question; true for yes.
    virtual bool Confirm(QWidget* parent, const QString& question) = 0;
    // «Да» saves, «Нет» drops the changes, «Отмена» (or closing the box)
    // keeps everything as it is.
    virtual SaveChanges AskSaveChanges(QWidget* parent, const QString& question) = 0;
};

class QtDialogs final : public Dialogs {
  public:
    void ShowError(QWidget* parent, const QString& text) override;
    QString AskOpenFile(QWidget* parent, const QString& title, const QString& filter) override;
    QString AskSaveFile(QWidget* parent, const QString& title, const QString& filter) override;
    bool Confirm(QWidget* parent, const QString& question) override;
    SaveChanges AskSaveChanges(QWidget* parent, const QString& question) override;
};

// Sets up a file dialog as the window asks for files: the working folder,
// the filter ("name|pattern|..."), no question of its own before an existing
// file is replaced, and no column whose texts Qt cannot give in Russian.
void ConfigureFileDialog(QFileDialog& dialog, const QString& filter, bool save);

// Loads Qt's own Russian texts (the distribution's translations) into the
// application, which owns them. Null when none were found: the standard
// dialogs then stay in English.
QTranslator* InstallRussianTranslations(QCoreApplication& app);

// For tests: records every message, answers file dialogs from a queue.
class RecordingDialogs final : public Dialogs {
  public:
    QStringList errors;
    QStringList fileAnswers;
    QStringList fileFilters;  // the filter of every file dialog asked for
    QStringList questions;    // every yes/no question asked
    bool answerYes = true;
    QStringList saveQuestions;  // every "save the changes?" asked
    SaveChanges saveAnswer = SaveChanges::Discard;
    void ShowError(QWidget*, const QString& text) override { errors << text; }
    QString AskOpenFile(QWidget*, const QString&, const QString& filter) override {
        fileFilters << filter;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
    QString AskSaveFile(QWidget* parent, const QString& title, const QString& filter) override {
        return AskOpenFile(parent, title, filter);
    }
    bool Confirm(QWidget*, const QString& question) override {
        questions << question;
        return answerYes;
    }
    SaveChanges AskSaveChanges(QWidget*, const QString& question) override {
        saveQuestions << question;
        return saveAnswer;
    }
};

}  // namespace korvane::app
