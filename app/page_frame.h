// The frame every page shares: the common buttons, the flashing status label, group captions,
// the text file dialogs, printing a spreadsheet range, and the small text input dialog.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QString>

class RoundButton;
class CzCExtGroup;
class CVCF1;
class QLineEdit;
class QPrinter;
class QPushButton;
class QTimer;

// "&Súgó" at (5, 385) 100 x 40, icon right of centre, black text, RGB(184, 181, 118).
void SetupHelpButton(RoundButton* button, const QIcon& icon);
// "&Nyomtat" at (490, 385) 120 x 40, icon left, black text, RGB(120, 140, 210).
void SetupPrintButton(RoundButton* button, const QIcon& icon);
// "&Frissít" at (490, 385) 120 x 40, icon left, white text, RGB(0, 128, 0).
void SetupRefreshButton(RoundButton* button, const QIcon& icon);
// Sets both radii of a rounded button whatever its radii were before.
void SetRoundButtonRadii(RoundButton* button, int outerRadius, int innerRadius);
// Any other action button: text centred, shading coefficient 10.0, moved to the given place.
void SetupActionButton(RoundButton* button, int x, int y, int w, int h, const QString& text,
                       QColor textColour, QColor buttonColour, int outerRadius, int innerRadius);

// A page's status line. Every setter repaints the label.
class StatusLabel : public QLabel {
    Q_OBJECT
  public:
    explicit StatusLabel(QWidget* parent = nullptr);

    void setStatusText(const QString& text); // shows it at once
    void setTextColours(QColor on, QColor off);
    void setBackgroundColours(QColor on, QColor off);
    void setBackgroundState(bool on);
    void setFontSpec(const QString& face, int points, int weight); // weight 400 or 700
    void setBorder(bool on);
    void setSunken(bool on);
    // On: a timer with the period (seconds) toggles the text-flash state on every tick. Off:
    // the timer stops and the text-flash state is fixed to `state`.
    void setFlashing(bool on, double periodSeconds = 1.0, bool state = true);

    bool flashing() const { return m_flashing; }
    double flashPeriod() const { return m_period; }
    bool flashState() const { return m_flashState; }
    bool backgroundState() const { return m_backgroundState; }
    bool border() const { return m_border; }
    bool sunken() const { return m_sunken; }
    QColor textColourOn() const { return m_textOn; }
    QColor textColourOff() const { return m_textOff; }
    QColor backgroundOn() const { return m_bgOn; }
    QColor backgroundOff() const { return m_bgOff; }
    // The colours drawn now (following the flash and background states).
    QColor currentTextColour() const { return m_flashState ? m_textOn : m_textOff; }
    QColor currentBackground() const { return m_backgroundState ? m_bgOn : m_bgOff; }

  public slots:
    // One tick of the flash timer: toggles the text-flash state.
    void flashTick();

  private:
    void restyle();

    QTimer* m_timer;
    QColor m_textOn{Qt::black}, m_textOff{Qt::black};
    QColor m_bgOn{192, 192, 192}, m_bgOff{192, 192, 192};
    bool m_flashing = false, m_flashState = true, m_backgroundState = true;
    bool m_border = false, m_sunken = false;
    double m_period = 1.0;
};

// The common look: centred, grey background, border, "Arial" 16 bold, red/black text flashing
// once a second starting "on", sunken.
void SetupStatusLabel(StatusLabel* label);

// Caption font of a group frame: "System", RGB(0, 0, 128), size 18, the given style flag.
void SetGroupCaptionFont(CzCExtGroup* group, int flag);

// Standard text file dialogs ("Open a File" / "Save a File") through the file dialog seam: 0 and
// the chosen full path, or -1 when cancelled. Each of the two keeps its own last file name for
// the run; the current directory is restored afterwards, also after a cancel.
int AskOpenTextFile(QWidget* owner, QString* path);
int AskSaveTextFile(QWidget* owner, QString* path);

// The three sections of a printed header or footer after its codes are rendered.
struct PrintHeaderParts {
    QString left, centre, right;
};
// Renders a header or footer text: &L, &C, &R start the left, centre and right sections; &D the
// date, &T the time, &P the page number, &N the page count, && an ampersand.
PrintHeaderParts RenderPrintCodes(const QString& codes, int page, int pageCount,
                                  const QDateTime& now);

// Prints the range (row1, col1)-(row2, col2) of a sheet with the common header (date and time,
// title, "page / pages") and footer (date and time, footer text); an absent title or footer
// leaves the sheet's own in place. With no printer given the print dialog is shown. Texts are
// UTF-8. 0 printed; -1 cancelled or failed.
int PrintSheet(CVCF1* sheet, int row1, int col1, int row2, int col2, const char* title,
               const char* footer, QPrinter* printer = nullptr);

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

    // Shows the dialog modally; a queued answer is taken instead without showing anything.
    int exec() override;
    // Test seam: queues the answer of the next dialog (OK with the text typed, or Cancel).
    static void queueAnswer(bool ok, const QString& typed = {});
    static void clearAnswers();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QString m_title, m_text;
    QLineEdit* m_field;
    QPushButton *m_ok, *m_cancel;
};
