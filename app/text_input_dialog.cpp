// The text input dialog: one line of at most 255 characters.
#include "app/text_input_dialog.h"

#include <optional>

#include <QLineEdit>
#include <QPushButton>

#include "widgets/dialog_answers.h"

namespace {
constexpr int TEXT_INPUT_MAX = 255;
}

TextInputDialog::TextInputDialog(QWidget* parent)
    : QDialog(parent), m_field(new QLineEdit(this)),
      m_ok(new QPushButton(QStringLiteral("&Ok"), this)),
      m_cancel(new QPushButton(QStringLiteral("&Mégsem"), this)) {
    setFont(QFont(QStringLiteral("System"), 8));
    m_field->setObjectName(QStringLiteral("field1510"));
    m_field->setMaxLength(TEXT_INPUT_MAX);
    // 138 x 14 dialog units of an 8-point dialog font: about 207 x 23 pixels.
    m_field->setGeometry(12, 12, 207, 23);
    m_ok->setDefault(true);
    m_ok->setGeometry(12, 46, 96, 26);
    m_cancel->setGeometry(123, 46, 96, 26);
    setFixedSize(231, 84);
    connect(m_ok, &QPushButton::clicked, this, &TextInputDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &TextInputDialog::reject);
}

void TextInputDialog::setTitle(const QString& title) {
    m_title = title.left(TEXT_INPUT_MAX);
    setWindowTitle(m_title);
}

void TextInputDialog::setText(const QString& text) {
    m_text = text.left(TEXT_INPUT_MAX);
    m_field->setText(m_text);
}

void TextInputDialog::showEvent(QShowEvent* event) {
    setWindowTitle(m_title);
    m_field->setText(m_text);
    m_field->setFocus();
    QDialog::showEvent(event);
}

void TextInputDialog::accept() {
    m_text = m_field->text().left(TEXT_INPUT_MAX);
    QDialog::accept();
}

void TextInputDialog::reject() {
    m_text.clear();
    QDialog::reject();
}

int TextInputDialog::exec() {
    std::optional<DialogAnswers::Answer> answer =
        DialogAnswers::take(DialogAnswers::Dialog::TextInput, true);
    if (!answer && !DialogAnswers::testMode()) return QDialog::exec();
    setResult(Rejected);
    setWindowTitle(m_title);
    if (!answer) { // test mode without an answer: cancelled
        reject();
        return result();
    }
    m_field->setText(answer->texts.value(0));
    if (answer->ok)
        accept();
    else
        reject();
    return result();
}
