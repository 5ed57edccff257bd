// The page frame: status label, text file dialogs, header and footer codes, text input dialog.
#include "page_frame.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

#include "filedialog.h"
#include "vcf1.h"

// ---------------------------------------------------------------------------------------------
// StatusLabel

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent), m_timer(new QTimer(this)) {
    setAutoFillBackground(true);
    connect(m_timer, &QTimer::timeout, this, &StatusLabel::flashTick);
    restyle();
}

void StatusLabel::restyle() {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, currentBackground());
    pal.setColor(QPalette::WindowText, currentTextColour());
    setPalette(pal);
    if (m_sunken)
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
    else if (m_border)
        setFrameStyle(QFrame::Box | QFrame::Plain);
    else
        setFrameStyle(QFrame::NoFrame);
    setLineWidth(m_sunken && m_border ? 2 : 1);
    repaint();
}

void StatusLabel::setStatusText(const QString& text) {
    setText(text);
    repaint();
}

void StatusLabel::setTextColours(QColor on, QColor off) {
    m_textOn = on;
    m_textOff = off;
    restyle();
}

void StatusLabel::setBackgroundColours(QColor on, QColor off) {
    m_bgOn = on;
    m_bgOff = off;
    restyle();
}

void StatusLabel::setBackgroundState(bool on) {
    m_backgroundState = on;
    restyle();
}

void StatusLabel::setFontSpec(const QString& face, int points, int weight) {
    QFont f(face, points);
    f.setWeight(weight >= 700 ? QFont::Bold : QFont::Normal);
    setFont(f);
    repaint();
}

void StatusLabel::setBorder(bool on) {
    m_border = on;
    restyle();
}

void StatusLabel::setSunken(bool on) {
    m_sunken = on;
    restyle();
}

void StatusLabel::setFlashing(bool on, double periodSeconds, bool state) {
    m_flashing = on;
    if (on) {
        if (periodSeconds > 0) m_period = periodSeconds;
        m_timer->start(static_cast<int>(m_period * 1000.0 + 0.5));
    } else {
        m_timer->stop();
        m_flashState = state;
    }
    restyle();
}

void StatusLabel::flashTick() {
    m_flashState = !m_flashState;
    restyle();
}

void SetupStatusLabel(StatusLabel* label) {
    label->setAlignment(Qt::AlignCenter);
    label->setBackgroundColours(QColor(192, 192, 192), QColor(192, 192, 192));
    label->setBorder(true);
    label->setFontSpec(QStringLiteral("Arial"), 16, 700);
    label->setTextColours(QColor(255, 0, 0), QColor(0, 0, 0));
    label->setFlashing(false, 1.0, true); // start in the "on" state
    label->setFlashing(true, 1.0);
    label->setSunken(true);
}

// ---------------------------------------------------------------------------------------------
// Text file dialogs

namespace {

const QString TEXT_FILE_FILTERS =
    QStringLiteral("Text files (*.txt);;Bin Files (*.bin);;All Files (*)");

// The name each dialog chose last, for the whole run.
QString lastOpenName, lastSaveName;

int askTextFile(bool save, QWidget* owner, QString* path) {
    const QString before = QDir::currentPath();
    QString selected = TEXT_FILE_FILTERS.section(QStringLiteral(";;"), 0, 0);
    QString& last = save ? lastSaveName : lastOpenName;
    QString chosen = save ? FileDialog::getSaveFileName(owner, QStringLiteral("Save a File"), last,
                                                        TEXT_FILE_FILTERS, &selected)
                          : FileDialog::getOpenFileName(owner, QStringLiteral("Open a File"), last,
                                                        TEXT_FILE_FILTERS, &selected);
    QDir::setCurrent(before);
    if (chosen.isEmpty()) return -1;
    // The default extension: a name typed without one gets ".txt".
    if (save && QFileInfo(chosen).suffix().isEmpty()) chosen += QStringLiteral(".txt");
    chosen = QFileInfo(chosen).absoluteFilePath();
    last = chosen;
    if (path) *path = chosen;
    return 0;
}

} // namespace

int AskOpenTextFile(QWidget* owner, QString* path) {
    return askTextFile(false, owner, path);
}

int AskSaveTextFile(QWidget* owner, QString* path) {
    return askTextFile(true, owner, path);
}

// ---------------------------------------------------------------------------------------------
// Header and footer codes

PrintHeaderParts RenderPrintCodes(const QString& codes, int page, int pageCount,
                                  const QDateTime& now) {
    CVCF1::HeaderParts parts = CVCF1::ExpandHeaderCodes(codes, page, pageCount, now);
    return {parts.left, parts.center, parts.right};
}

// ---------------------------------------------------------------------------------------------
// TextInputDialog

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

namespace {

struct QueuedText {
    bool ok;
    QString typed;
};
QList<QueuedText> queuedTextAnswers;

} // namespace

void TextInputDialog::queueAnswer(bool ok, const QString& typed) {
    queuedTextAnswers.append({ok, typed});
}

void TextInputDialog::clearAnswers() {
    queuedTextAnswers.clear();
}

int TextInputDialog::exec() {
    if (queuedTextAnswers.isEmpty()) return QDialog::exec();
    QueuedText answer = queuedTextAnswers.takeFirst();
    setResult(Rejected);
    setWindowTitle(m_title);
    m_field->setText(answer.typed);
    if (answer.ok)
        accept();
    else
        reject();
    return result();
}
