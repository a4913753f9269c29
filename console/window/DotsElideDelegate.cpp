#include "console/window/DotsElideDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

QString CutWithDots(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) {
        return text;
    }
    const QString dots = "...";
    const int room = width - CDotsElideDelegate::kSpare - metrics.horizontalAdvance(dots);
    if (room < 0) {
        return metrics.horizontalAdvance(dots) <= width ? dots : QString();
    }
    qsizetype kept = text.size();
    while (kept > 0 && metrics.horizontalAdvance(text.left(kept)) > room) {
        --kept;
    }
    return text.left(kept) + dots;
}

void CDotsElideDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const QWidget* widget = cell.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    cell.text = CutWithDots(cell.text, cell.fontMetrics, textRect.width() - 2 * margin);
    cell.textElideMode = Qt::ElideNone;
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
}
