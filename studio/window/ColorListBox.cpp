#include "studio/window/ColorListBox.h"

#include <QPainter>
#include <array>

namespace {

struct CColorEntry {
    const char* m_name;
    QRgb m_rgb;
};

constexpr std::array<CColorEntry, 16> kEntries = {{
    {"Black", qRgb(0, 0, 0)},
    {"Maroon", qRgb(128, 0, 0)},
    {"Green", qRgb(0, 128, 0)},
    {"Olive", qRgb(128, 128, 0)},
    {"Navy", qRgb(0, 0, 128)},
    {"Purple", qRgb(128, 0, 128)},
    {"Teal", qRgb(0, 128, 128)},
    {"Gray", qRgb(128, 128, 128)},
    {"Silver", qRgb(192, 192, 192)},
    {"Red", qRgb(255, 0, 0)},
    {"Lime", qRgb(0, 255, 0)},
    {"Yellow", qRgb(255, 255, 0)},
    {"Blue", qRgb(0, 0, 255)},
    {"Fuchsia", qRgb(255, 0, 255)},
    {"Aqua", qRgb(0, 255, 255)},
    {"White", qRgb(255, 255, 255)},
}};

// Swatch from 5 to 45 pixels, 2 pixels inside the row, the name at 50.
class CColorDelegate : public QStyledItemDelegate {
public:
    CColorDelegate(CColorListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QPalette& colors = m_list->palette();
        const bool selected = option.state & QStyle::State_Selected;
        painter->fillRect(option.rect,
                          colors.color(selected ? QPalette::Highlight : QPalette::Base));
        if (option.state & QStyle::State_HasFocus) {
            painter->setPen(QPen(colors.color(QPalette::Text), 1, Qt::DotLine));
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
        const QRect swatch(option.rect.left() + 5, option.rect.top() + 2, 40,
                           option.rect.height() - 4);
        painter->fillRect(swatch, CColorListBox::ColorOf(index.row(), m_list->ForText(), colors));
        painter->setPen(colors.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(option.rect.adjusted(50, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          index.data().toString());
    }

private:
    CColorListBox* m_list;
};

}  // namespace

CColorListBox::CColorListBox(bool forText, QWidget* parent)
    : QListWidget(parent), m_bForText(forText) {
    setItemDelegate(new CColorDelegate(this));
    for (int i = 0; i < kColors; ++i) {
        addItem(NameOf(i));
    }
}

QString CColorListBox::NameOf(int index) {
    if (index == kAutomatic) {
        return QStringLiteral("Automatic");
    }
    return index >= 0 && index < kAutomatic ? QString::fromLatin1(kEntries[index].m_name)
                                            : QString();
}

QColor CColorListBox::ColorOf(int index, bool forText, const QPalette& palette) {
    if (index >= 0 && index < kAutomatic) {
        return QColor(kEntries[index].m_rgb);
    }
    return palette.color(forText ? QPalette::Text : QPalette::Base);
}
