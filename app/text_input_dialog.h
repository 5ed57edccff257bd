// The small modal dialog that asks for one line of text.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// The small modal dialog that asks for one line of text (at most 255 characters; so is the
// title). OK keeps the field's text, Cancel empties it.
class TextInputDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TextInputDialog(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setText(const QString& text);
    QString title() const { return m_title; }
    QString text() const { return m_text; }
    int textLength() const { return static_cast<int>(m_text.size()); }

    QLineEdit* field() const { return m_field; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    void accept() override;
    void reject() override;

    // Shows the dialog modally. An answer of the answer queue (DialogAnswers::text, textCancel)
    // is taken instead without showing anything: the text is typed, then OK or Cancel pressed.
    // In the queue's test mode a dialog without an answer is cancelled.
    int exec() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QString m_title, m_text;
    QLineEdit* m_field;
    QPushButton *m_ok, *m_cancel;
};
