// Draws the report lists' cells with an over-long text cut and ended by "...", keeping a few
// pixels free after it.
#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

class CDotsElideDelegate : public QStyledItemDelegate {
public:
    // The room kept free after a cut text.
    static constexpr int kSpare = 4;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// The text as it fits in `width` pixels: whole when it fits, else its longest start followed
// by "..." that leaves kSpare pixels free (only "..." or nothing when even that is too wide).
QString CutWithDots(const QString& text, const QFontMetrics& metrics, int width);
