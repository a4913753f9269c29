#include "studio/window/StudioProfile.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace {

int ReadInt(QSettings& settings, const char* key, int fallback) {
    bool ok = false;
    const int value = settings.value(QLatin1String(key), fallback).toInt(&ok);
    return ok ? value : fallback;
}

}  // namespace

std::unique_ptr<QSettings> CStudioProfile::OpenSettings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Tormalek"),
                                       QStringLiteral("Velmorin Studio"));
}

void CStudioProfile::Load(QSettings& settings) {
    settings.beginGroup(QStringLiteral("Settings"));
    m_port = settings.value(QStringLiteral("DebuggerIpPort"), QStringLiteral("8085")).toString();
    m_ssl = ReadInt(settings, "DebuggerIsSSL", 0) == 1;
    m_fileFilter = settings.value(QStringLiteral("FileFilter"), QString::fromLatin1(kDefaultFilter))
                       .toString();
    m_rootPath = settings.value(QStringLiteral("RootPath7"), QString()).toString();
    m_textColor = ReadInt(settings, "TextColor", kAutomaticColor);
    m_bkColor = ReadInt(settings, "BkColor", kAutomaticColor);
    m_tabStops = ReadInt(settings, "TabStops", 4);
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Font"));
    m_font.m_height = ReadInt(settings, "Height", 0);
    m_font.m_weight = ReadInt(settings, "Weight", 0);
    m_font.m_italic = ReadInt(settings, "Italic", 0);
    m_font.m_underline = ReadInt(settings, "Underline", 0);
    m_font.m_pitchAndFamily = ReadInt(settings, "PitchAndFamily", 0);
    m_font.m_charSet = ReadInt(settings, "CharSet", 1);
    m_font.m_faceName =
        settings.value(QStringLiteral("FaceName"), QStringLiteral("System")).toString().left(31);
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Window Placement"));
    m_mainX = ReadInt(settings, "MAINWIN_X", kUnset);
    m_mainY = ReadInt(settings, "MAINWIN_Y", kUnset);
    m_mainW = ReadInt(settings, "MAINWIN_W", kUnset);
    m_mainH = ReadInt(settings, "MAINWIN_H", kUnset);
    m_leftPaneW = ReadInt(settings, "LEFTPANE_W", kUnset);
    m_bottomPaneH = ReadInt(settings, "BOTTOMPANE_H", kUnset);
    m_varNameW = ReadInt(settings, "VAR_NAME_W", kUnset);
    m_varValueW = ReadInt(settings, "VAR_VALUE_W", kUnset);
    settings.endGroup();

    m_recentFiles.clear();
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString file =
            settings.value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!file.isEmpty()) {
            m_recentFiles.append(file);
        }
    }
}

void CStudioProfile::Save(QSettings& settings) const {
    settings.beginGroup(QStringLiteral("Settings"));
    settings.setValue(QStringLiteral("DebuggerIpPort"), m_port);
    settings.setValue(QStringLiteral("DebuggerIsSSL"), m_ssl ? 1 : 0);
    settings.setValue(QStringLiteral("FileFilter"), m_fileFilter);
    settings.setValue(QStringLiteral("RootPath7"), m_rootPath);
    if (m_textColor >= 0 && m_textColor <= kAutomaticColor) {
        settings.setValue(QStringLiteral("TextColor"), m_textColor);
    }
    if (m_bkColor >= 0 && m_bkColor <= kAutomaticColor) {
        settings.setValue(QStringLiteral("BkColor"), m_bkColor);
    }
    settings.setValue(QStringLiteral("TabStops"), m_tabStops);
    settings.endGroup();

    if (m_font.m_height != 0) {
        settings.beginGroup(QStringLiteral("Font"));
        settings.setValue(QStringLiteral("Height"), m_font.m_height);
        settings.setValue(QStringLiteral("Weight"), m_font.m_weight);
        settings.setValue(QStringLiteral("Italic"), m_font.m_italic);
        settings.setValue(QStringLiteral("Underline"), m_font.m_underline);
        settings.setValue(QStringLiteral("PitchAndFamily"), m_font.m_pitchAndFamily);
        settings.setValue(QStringLiteral("CharSet"), m_font.m_charSet);
        settings.setValue(QStringLiteral("FaceName"), m_font.m_faceName.left(31));
        settings.endGroup();
    }

    if (m_placementSaved) {
        settings.beginGroup(QStringLiteral("Window Placement"));
        settings.setValue(QStringLiteral("MAINWIN_X"), m_mainX);
        settings.setValue(QStringLiteral("MAINWIN_Y"), m_mainY);
        settings.setValue(QStringLiteral("MAINWIN_W"), m_mainW);
        settings.setValue(QStringLiteral("MAINWIN_H"), m_mainH);
        settings.setValue(QStringLiteral("LEFTPANE_W"), m_leftPaneW);
        settings.setValue(QStringLiteral("BOTTOMPANE_H"), m_bottomPaneH);
        settings.setValue(QStringLiteral("VAR_NAME_W"), m_varNameW);
        settings.setValue(QStringLiteral("VAR_VALUE_W"), m_varValueW);
        settings.endGroup();
    }
    settings.beginGroup(QStringLiteral("Recent File List"));
    settings.remove(QString());
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        settings.setValue(QStringLiteral("File%1").arg(i + 1), m_recentFiles[i]);
    }
    settings.endGroup();
    settings.sync();
}

QFont CStudioProfile::Font() const {
    if (m_font.m_height == 0) {
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }
    QFont font(m_font.m_faceName);
    font.setPixelSize(m_font.m_height < 0 ? -m_font.m_height : m_font.m_height);
    if (m_font.m_weight >= 100 && m_font.m_weight <= 900) {
        font.setWeight(static_cast<QFont::Weight>(m_font.m_weight));
    }
    font.setItalic(m_font.m_italic != 0);
    font.setUnderline(m_font.m_underline != 0);
    return font;
}

void CStudioProfile::SetFont(const QFont& font) {
    if (font == QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
        m_font.m_height = 0;
        return;
    }
    const int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    m_font.m_height = -pixels;
    m_font.m_weight = font.weight();
    m_font.m_italic = font.italic() ? 1 : 0;
    m_font.m_underline = font.underline() ? 1 : 0;
    m_font.m_faceName = font.family().left(31);
}

bool CStudioProfile::PlacementApplies(const QRect& desktop) const {
    return m_mainX >= -9 && m_mainY >= -9 && m_mainW > 100 && m_mainH > 80 &&
           m_mainX < desktop.right() && m_mainY < desktop.bottom();
}

int CStudioProfile::BoundLeftPane(int width, int clientWidth) {
    if (width < 10 || width > clientWidth - 10) {
        return clientWidth / 3;
    }
    return width;
}

int CStudioProfile::BoundBottomPane(int height, int clientHeight) {
    if (height < 0 || height > clientHeight - 60) {
        return clientHeight / 3;
    }
    return height;
}

int CStudioProfile::BoundColumn(int width, int fallback) {
    return width < 20 || width > 1000 ? fallback : width;
}
