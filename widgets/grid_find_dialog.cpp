// The grid's find dialog: the text, match case, direction, "&Find Next" and "Cancel".
#include "widgets/grid_find_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

GridFindDialog::GridFindDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Find"));
    setObjectName(QStringLiteral("FindDialog"));
    auto* label = new QLabel(QStringLiteral("Fi&nd what:"), this);
    m_edit = new QLineEdit(this);
    label->setBuddy(m_edit);
    m_matchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    auto* down = new QRadioButton(QStringLiteral("&Down"), this);
    m_up = new QRadioButton(QStringLiteral("&Up"), this);
    down->setChecked(true);
    m_findNext = new QPushButton(QStringLiteral("&Find Next"), this);
    m_findNext->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* left = new QVBoxLayout;
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_edit);
    left->addLayout(row);
    auto* options = new QHBoxLayout;
    options->addWidget(m_matchCase);
    options->addWidget(m_up);
    options->addWidget(down);
    left->addLayout(options);
    auto* right = new QVBoxLayout;
    right->addWidget(m_findNext);
    right->addWidget(cancel);
    right->addStretch();
    auto* all = new QHBoxLayout(this);
    all->addLayout(left);
    all->addLayout(right);

    connect(m_findNext, &QPushButton::clicked, this,
            [this] { emit findNext(m_edit->text(), m_matchCase->isChecked(), m_up->isChecked()); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
