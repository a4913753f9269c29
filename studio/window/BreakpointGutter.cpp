#include "studio/window/BreakpointGutter.h"

#include <QPainter>
#include <QPolygon>

#include "studio/DebugController.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"

CBreakpointGutter::CBreakpointGutter(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("status"));
    setFixedWidth(kWidth);
}

void CBreakpointGutter::SetView(CSspView* view) {
    m_view = view;
    update();
}

void CBreakpointGutter::PaintBorder(QPainter& painter) {
    const QPalette& colors = palette();
    const int right = width() - 1;
    const int bottom = height() - 1;
    painter.setPen(colors.color(QPalette::Mid));
    painter.drawLine(0, 0, right, 0);
    painter.drawLine(0, 0, 0, bottom);
    painter.setPen(colors.color(QPalette::Shadow));
    painter.drawLine(1, 1, right, 1);
    painter.drawLine(1, 1, 1, bottom);
    painter.setPen(colors.color(QPalette::Midlight));
    painter.drawLine(0, bottom - 1, right, bottom - 1);
    painter.setPen(colors.color(QPalette::Light));
    painter.drawLine(0, bottom, right, bottom);
    painter.drawLine(2, 2, 2, bottom - 1);
    // Inside: the halftone of the highlight and scroll-bar colours.
    const QRect inside(3, 2, width() - 3, height() - 4);
    painter.fillRect(inside, colors.color(QPalette::Button));
    painter.fillRect(inside, QBrush(colors.color(QPalette::Light), Qt::Dense4Pattern));
}

int CBreakpointGutter::MarkTop(int line) const {
    const int top = m_view->LineTop(line);
    if (top < 0) {
        return -1;
    }
    const int y = m_view->mapTo(window(), QPoint(0, top)).y() - mapTo(window(), QPoint(0, 0)).y();
    return y < height() - 20 ? y : -1;
}

void CBreakpointGutter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintBorder(painter);
    if (!m_view || m_view->Doc()->Path().isEmpty()) {
        return;
    }
    const std::string path = m_view->Doc()->Path().toStdString();
    for (int line : theDebugger.GetBreakpointLines(path, kMostMarks)) {
        const int y = MarkTop(line);
        if (y >= 0) {
            painter.fillRect(QRect(4, y + 2, 14, 15), kBreakpointColor);
        }
    }
    if (!theDebugger.IsPaused()) {
        return;
    }
    const int line = theDebugger.GetLineInFile(path);
    const int y = line >= 1 ? MarkTop(line) : -1;
    if (y < 0) {
        return;
    }
    const QPolygon arrow({QPoint(4, y + 6), QPoint(9, y + 6), QPoint(9, y + 2), QPoint(15, y + 9),
                          QPoint(9, y + 16), QPoint(9, y + 12), QPoint(4, y + 12)});
    painter.setPen(Qt::black);
    painter.setBrush(theDebugger.IsCurrentFile(path) ? kCurrentColor : kCallerColor);
    painter.drawPolygon(arrow);
}
