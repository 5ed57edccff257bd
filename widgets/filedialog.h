// File-dialog seam: open and save dialogs that tests answer in advance.
#pragma once

#include <QFileDialog>
#include <QList>
#include <QString>

class FileDialog {
  public:
    // One dialog as it was asked for.
    struct Request {
        bool save = false;
        QString caption;
        QString dir; // the directory or file name the dialog opened with
        QString filter;
    };

    // Wrappers of QFileDialog::getOpenFileName / getSaveFileName with the same arguments. They
    // return the chosen path, or an empty string when cancelled. A queued name
    // (DialogAnswers::fileName) is returned at once without a dialog; in the answer queue's test
    // mode an unanswered dialog counts as cancelled.
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter, QString* selectedFilter = nullptr,
                                   QFileDialog::Options options = {});
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter, QString* selectedFilter = nullptr,
                                   QFileDialog::Options options = {});

    // The last dialog asked for, and all since clearRequests.
    static Request lastRequest();
    static QList<Request> requests();
    // Forgets the recorded dialogs.
    static void clearRequests();

  private:
    static QString ask(bool save, QWidget* parent, const QString& caption, const QString& dir,
                       const QString& filter, QString* selectedFilter,
                       QFileDialog::Options options);
};
