// Message-box seam: every box of the console goes through here, so tests can answer in advance.
#pragma once

#include <QList>
#include <QString>

class QWidget;

class MessageBox {
  public:
    // Answers, numbered as the Windows dialog results the console's logic was written against.
    enum Button { NoButton = 0, Ok = 1, Cancel = 2, Yes = 6, No = 7 };
    // Button sets a box can offer.
    enum Buttons { OkOnly, OkCancel, YesNo, YesNoCancel };
    enum Kind { Information, Question, Warning, Critical, Plain };

    // One box as it was asked for.
    struct Shown {
        Kind kind = Information;
        QString title;
        QString text;
        Buttons buttons = OkOnly;
        Button answer = NoButton;
    };

    // Show a modal box with the given title and text and return the button pressed
    // (Cancel, or No for YesNo, when the box is closed otherwise). When an answer is queued
    // (DialogAnswers::button), or in the answer queue's test mode, no box appears: the queued
    // answer, else the first button of the set, is returned at once.
    static Button information(QWidget* parent, const QString& title, const QString& text,
                              Buttons buttons = OkOnly);
    static Button question(QWidget* parent, const QString& title, const QString& text,
                           Buttons buttons = YesNo);
    static Button warning(QWidget* parent, const QString& title, const QString& text,
                          Buttons buttons = OkOnly);
    static Button critical(QWidget* parent, const QString& title, const QString& text,
                           Buttons buttons = OkOnly);
    // A box without an icon.
    static Button plain(QWidget* parent, const QString& title, const QString& text,
                        Buttons buttons = OkOnly);

    // The last box asked for (empty title and text when none since clearShown).
    static Shown lastShown();
    // Every box asked for since clearShown, oldest first.
    static QList<Shown> shown();
    // Forgets the boxes shown.
    static void clearShown();

  private:
    static Button show(Kind kind, QWidget* parent, const QString& title, const QString& text,
                       Buttons buttons);
};
