#include "studio/window/ChildFrame.h"

#include <QHBoxLayout>

#include "studio/window/BreakpointGutter.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"

CChildFrame::CChildFrame(CSspDoc* doc, QWidget* parent)
    : QWidget(parent),
      m_doc(doc),
      m_gutter(new CBreakpointGutter(this)),
      m_view(new CSspView(doc, this)) {
    doc->setParent(this);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_gutter);
    layout->addWidget(m_view);
    m_gutter->SetView(m_view);
    // Every scroll and edit repaints the margin.
    connect(m_view, &QPlainTextEdit::updateRequest, m_gutter, qOverload<>(&QWidget::update));
    connect(doc->Document(), &QTextDocument::modificationChanged, this, [this] { UpdateTitle(); });
    UpdateTitle();
}

CChildFrame::~CChildFrame() {
    m_doc->Document()->disconnect(this);
    m_view->disconnect(this);
}

void CChildFrame::SetNumber(int number) {
    m_number = number;
    UpdateTitle();
}

QString CChildFrame::Title() const {
    QString title = m_doc->Title();
    if (m_doc->IsModified()) {
        title += QStringLiteral(" *");
    }
    if (m_number > 0) {
        title += QStringLiteral(":%1").arg(m_number);
    }
    return title;
}

void CChildFrame::UpdateTitle() {
    setWindowTitle(Title());
    emit TitleChanged();
}

void CChildFrame::RedrawMargin() {
    m_gutter->update();
}
