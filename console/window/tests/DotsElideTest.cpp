// Over-long cells are cut and end in "...".
#include "console/window/DotsElideDelegate.h"

#include <QFont>
#include <QFontMetrics>

#include <gtest/gtest.h>

TEST(DotsElide, CutsToTheWidthAndEndsInDots) {
    const QFontMetrics metrics{QFont()};
    const QString text = "Run /opt/velmorin/webroot/script/importer.zrs every 10 min";
    const int whole = metrics.horizontalAdvance(text);
    const int dots = metrics.horizontalAdvance("...");
    const struct {
        const char* label;
        int width;
    } cases[] = {{"wide enough", whole}, {"one pixel short", whole - 1},
                 {"half", whole / 2},    {"dots and spare only", dots + CDotsElideDelegate::kSpare},
                 {"dots alone", dots},   {"nothing fits", dots - 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString cut = CutWithDots(text, metrics, c.width);
        if (c.width >= whole) {
            EXPECT_EQ(cut, text);
            continue;
        }
        if (c.width < dots) {
            EXPECT_TRUE(cut.isEmpty());
            continue;
        }
        EXPECT_TRUE(cut.endsWith("...")) << cut.toStdString();
        EXPECT_TRUE(text.startsWith(cut.chopped(3))) << cut.toStdString();
        EXPECT_LE(metrics.horizontalAdvance(cut), c.width);
        // One more character would not have fitted with the spare room.
        if (cut.size() - 3 < text.size() && c.width >= dots + CDotsElideDelegate::kSpare) {
            EXPECT_GT(metrics.horizontalAdvance(text.left(cut.size() - 2) + "..."),
                      c.width - CDotsElideDelegate::kSpare);
        }
    }
}
