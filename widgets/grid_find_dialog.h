// The find dialog of a grid.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The find dialog of a grid: a text, match case, direction, "&Find Next" and "Cancel".
class GridFindDialog : public QDialog {
    Q_OBJECT
  public:
    explicit GridFindDialog(QWidget* parent);
    QLineEdit* findEdit() const { return m_edit; }
    QCheckBox* matchCaseBox() const { return m_matchCase; }
    QRadioButton* upButton() const { return m_up; }
    QPushButton* findNextButton() const { return m_findNext; }
  signals:
    void findNext(const QString& text, bool matchCase, bool up);

  private:
    QLineEdit* m_edit;
    QCheckBox* m_matchCase;
    QRadioButton* m_up;
    QPushButton* m_findNext;
};
