// The studio's user settings as they stand in the user's profile (QSettings, INI, user scope,
// "Tormalek" / "Velmorin Studio"): read once when the main window is made, written once when
// it goes.
#pragma once

#include <QFont>
#include <QRect>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

struct CFontDescription {
    int m_height = 0;  // negative pixel height; 0: the system's fixed font
    int m_weight = 0;  // 100 to 900
    int m_italic = 0;
    int m_underline = 0;
    int m_pitchAndFamily = 0;
    int m_charSet = 1;
    QString m_faceName = QStringLiteral("System");
};

class CStudioProfile {
public:
    static constexpr int kAutomaticColor = 16;
    static constexpr int kUnset = -10;
    static constexpr int kRecentFiles = 4;
    static constexpr const char* kDefaultFilter = ".zrp; .zrs; .html; .txt";

    // The profile of the user's settings.
    static std::unique_ptr<QSettings> OpenSettings();

    void Load(QSettings& settings);
    void Save(QSettings& settings) const;

    // The font of editors and output panes.
    QFont Font() const;
    // Takes `font` as the description (the system's fixed font clears the height).
    void SetFont(const QFont& font);

    // Whether the stored window placement may be used on a desktop of `desktop`.
    bool PlacementApplies(const QRect& desktop) const;
    // The pane sizes bounded by the client area: a third of it when out of bounds.
    static int BoundLeftPane(int width, int clientWidth);
    static int BoundBottomPane(int height, int clientHeight);
    // A Variables column width outside 20 to 1000 becomes `fallback`.
    static int BoundColumn(int width, int fallback);

    QString m_port = QStringLiteral("8085");
    bool m_ssl = false;
    QString m_fileFilter = QString::fromLatin1(kDefaultFilter);
    QString m_rootPath;
    int m_textColor = kAutomaticColor;
    int m_bkColor = kAutomaticColor;
    int m_tabStops = 4;
    CFontDescription m_font;
    bool m_placementSaved = true;  // false while minimised or maximised: not written
    int m_mainX = kUnset;
    int m_mainY = kUnset;
    int m_mainW = kUnset;
    int m_mainH = kUnset;
    int m_leftPaneW = kUnset;
    int m_bottomPaneH = kUnset;
    int m_varNameW = kUnset;
    int m_varValueW = kUnset;
    QStringList m_recentFiles;  // newest first
};
