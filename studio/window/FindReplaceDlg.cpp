#include "studio/window/FindReplaceDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QTextCursor>
#include <QVBoxLayout>

#include "studio/window/MessageSeam.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"

CFindReplaceDlg::CFindReplaceDlg(QWidget* parent)
    : QDialog(parent),
      m_find(new QLineEdit(this)),
      m_replace(new QLineEdit(this)),
      m_matchCase(new QCheckBox(QStringLiteral("Match &case"), this)),
      m_wholeWord(new QCheckBox(QStringLiteral("Match &whole word only"), this)),
      m_up(new QRadioButton(QStringLiteral("&Up"), this)),
      m_down(new QRadioButton(QStringLiteral("&Down"), this)),
      m_replaceButton(new QPushButton(QStringLiteral("&Replace"), this)),
      m_replaceAllButton(new QPushButton(QStringLiteral("Replace &All"), this)) {
    m_down->setChecked(true);
    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("Fi&nd what:"), m_find);
    fields->addRow(QStringLiteral("Re&place with:"), m_replace);
    auto* next = new QPushButton(QStringLiteral("&Find Next"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    next->setDefault(true);
    connect(next, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(m_replaceButton, &QPushButton::clicked, this, &CFindReplaceDlg::ReplaceOne);
    connect(m_replaceAllButton, &QPushButton::clicked, this, [this] { ReplaceAll(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
    auto* options = new QHBoxLayout;
    options->addWidget(m_matchCase);
    options->addWidget(m_wholeWord);
    options->addWidget(m_up);
    options->addWidget(m_down);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {next, m_replaceButton, m_replaceAllButton, cancel}) {
        buttons->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(options);
    layout->addLayout(buttons);
}

void CFindReplaceDlg::Run(int command, CSspView* view) {
    m_view = view;
    if (command == kCmdFindAgain && !m_find->text().isEmpty()) {
        FindNext();
        return;
    }
    const bool replace = command == kCmdReplace;
    setWindowTitle(replace ? QStringLiteral("Replace") : QStringLiteral("Find"));
    m_replace->setVisible(replace);
    m_replaceButton->setVisible(replace);
    m_replaceAllButton->setVisible(replace);
    m_up->setEnabled(!replace);
    if (replace) {
        m_down->setChecked(true);
    }
    const QString selected = view->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) {
        m_find->setText(selected);
    }
    show();
    raise();
    m_find->setFocus();
    m_find->selectAll();
}

QTextDocument::FindFlags CFindReplaceDlg::Flags() const {
    QTextDocument::FindFlags flags;
    if (m_matchCase->isChecked()) {
        flags |= QTextDocument::FindCaseSensitively;
    }
    if (m_wholeWord->isChecked()) {
        flags |= QTextDocument::FindWholeWords;
    }
    if (m_up->isChecked() && m_up->isEnabled()) {
        flags |= QTextDocument::FindBackward;
    }
    return flags;
}

bool CFindReplaceDlg::FindNext() {
    if (!m_view || m_find->text().isEmpty()) {
        return false;
    }
    if (!m_view->find(m_find->text(), Flags())) {
        CMessageSeam::Show(this,
                           QStringLiteral("Cannot find the string '%1'.").arg(m_find->text()));
        return false;
    }
    return true;
}

void CFindReplaceDlg::ReplaceOne() {
    if (!m_view) {
        return;
    }
    QTextCursor cursor = m_view->textCursor();
    const Qt::CaseSensitivity sensitivity =
        m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (cursor.hasSelection() &&
        QString::compare(cursor.selectedText(), m_find->text(), sensitivity) == 0) {
        cursor.insertText(m_replace->text());
    }
    FindNext();
}

int CFindReplaceDlg::ReplaceAll() {
    if (!m_view || m_find->text().isEmpty()) {
        return 0;
    }
    QTextDocument* document = m_view->document();
    const QTextDocument::FindFlags flags = Flags() & ~QTextDocument::FindBackward;
    QTextCursor edit(document);
    edit.beginEditBlock();
    int replaced = 0;
    QTextCursor found = document->find(m_find->text(), 0, flags);
    while (!found.isNull()) {
        found.insertText(m_replace->text());
        ++replaced;
        found = document->find(m_find->text(), found.position(), flags);
    }
    edit.endEditBlock();
    return replaced;
}
