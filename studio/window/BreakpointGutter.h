// The 20-pixel margin left of an editor: breakpoint squares and, while the debugger is paused,
// the current-line arrow.
#pragma once

#include <QPointer>
#include <QWidget>

class CSspView;

class CBreakpointGutter : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 20;
    static constexpr int kMostMarks = 128;
    static inline const QColor kBreakpointColor{127, 0, 0};
    static inline const QColor kCurrentColor{0, 255, 0};
    static inline const QColor kCallerColor{0, 128, 128};

    explicit CBreakpointGutter(QWidget* parent = nullptr);
    void SetView(CSspView* view);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintBorder(QPainter& painter);
    // The top of `line` in this margin, or -1 when it is not shown or too low.
    int MarkTop(int line) const;

    QPointer<CSspView> m_view;
};
