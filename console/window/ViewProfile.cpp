#include "console/window/ViewProfile.h"

#include <QFontMetrics>
#include <QRect>
#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr const char* kColumnKeys[4] = {"Number", "Name", "Status", "Time"};
constexpr const char* kColumnSection = "Column Width";
constexpr const char* kPlaceSection = "Main Window Position";
// A column's text keeps this much room beside it.
constexpr int kColumnMargin = 16;

int ReadInt(QSettings& settings, const char* key, int fallback) {
    bool ok = false;
    const int value = settings.value(key, fallback).toInt(&ok);
    return ok ? value : fallback;
}

}  // namespace

CViewProfile::CViewProfile()
    : m_path(QStandardPaths::writableLocation(QStandardPaths::ConfigLocation).toStdString() +
             "/Tormalek/Brackmoor.conf") {}

ColumnWidths CViewProfile::ReadColumnWidths() const {
    QSettings settings(QString::fromStdString(m_path), QSettings::IniFormat);
    settings.beginGroup(kColumnSection);
    ColumnWidths widths{};
    for (size_t i = 0; i < widths.size(); ++i) {
        widths[i] = ReadInt(settings, kColumnKeys[i], -1);
    }
    return widths;
}

void CViewProfile::WriteColumnWidths(const ColumnWidths& widths) const {
    QSettings settings(QString::fromStdString(m_path), QSettings::IniFormat);
    settings.beginGroup(kColumnSection);
    for (size_t i = 0; i < widths.size(); ++i) {
        settings.setValue(kColumnKeys[i], widths[i]);
    }
}

CWindowPlace CViewProfile::ReadWindowPlace() const {
    QSettings settings(QString::fromStdString(m_path), QSettings::IniFormat);
    settings.beginGroup(kPlaceSection);
    return {ReadInt(settings, "X", -10), ReadInt(settings, "Y", -10), ReadInt(settings, "W", -10),
            ReadInt(settings, "H", -10)};
}

void CViewProfile::WriteWindowPlace(const CWindowPlace& place) const {
    QSettings settings(QString::fromStdString(m_path), QSettings::IniFormat);
    settings.beginGroup(kPlaceSection);
    settings.setValue("X", place.m_x);
    settings.setValue("Y", place.m_y);
    settings.setValue("W", place.m_w);
    settings.setValue("H", place.m_h);
}

bool ColumnWidthsUsable(const ColumnWidths& widths) {
    for (size_t i = 0; i < widths.size(); ++i) {
        if (widths[i] < (i == 0 ? 2 : 4) || widths[i] > 900) {
            return false;
        }
    }
    return true;
}

ColumnWidths SampleColumnWidths(const QFontMetrics& metrics) {
    constexpr const char* kSamples[4] = {
        "999", "Due Date Reminder", "Run C:\\abc\\webroot\\script\\importer.zrs every 10 min...",
        "12/01 24:60:60"};
    ColumnWidths widths{};
    for (size_t i = 0; i < widths.size(); ++i) {
        widths[i] = metrics.horizontalAdvance(kSamples[i]) + kColumnMargin;
    }
    return widths;
}

bool WindowPlaceUsable(const CWindowPlace& place, const QRect& desktop) {
    return place.m_x >= -9 && place.m_y >= -9 && place.m_w > 100 && place.m_h > 80 &&
           place.m_x < desktop.right() && place.m_y < desktop.bottom();
}
