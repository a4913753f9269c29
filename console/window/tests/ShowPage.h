// Shows a page of the settings sheet as the user would and gives it as its own class.
#pragma once

#include "console/window/SettingsSht.h"

template <typename Page>
Page& Show(CSettingsSht& sheet, CSettingsSht::EPage page) {
    sheet.ShowPage(page);
    return *static_cast<Page*>(sheet.Page(page));
}
