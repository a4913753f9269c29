// What the window remembers between runs: the four column widths and the main window's place,
// in the console's profile (section "Column Width": Number, Name, Status, Time; section "Main
// Window Position": X, Y, W, H).
#pragma once

#include <array>
#include <string>

class QFontMetrics;
class QRect;

using ColumnWidths = std::array<int, 4>;

struct CWindowPlace {
    int m_x = -10;
    int m_y = -10;
    int m_w = -10;
    int m_h = -10;
};

class CViewProfile {
public:
    // The profile under the user's configuration folder.
    CViewProfile();
    explicit CViewProfile(std::string path) : m_path(std::move(path)) {}

    ColumnWidths ReadColumnWidths() const;
    void WriteColumnWidths(const ColumnWidths& widths) const;
    CWindowPlace ReadWindowPlace() const;
    void WriteWindowPlace(const CWindowPlace& place) const;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Saved widths are used only when the first is at least 2, the others at least 4, and none
// above 900.
bool ColumnWidthsUsable(const ColumnWidths& widths);
// The widths of the samples "999", "Due Date Reminder", a long schedule and a time stamp.
ColumnWidths SampleColumnWidths(const QFontMetrics& metrics);
// A saved place is used only when it starts at -9 or more, is wider than 100 and taller than
// 80, and starts left of and above the desktop's right and bottom edges.
bool WindowPlaceUsable(const CWindowPlace& place, const QRect& desktop);
