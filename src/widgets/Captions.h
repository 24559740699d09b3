#pragma once

// The caption tables of both languages, by dialog item id, and the one way a page applies them.
// Every control carries its item id as its object name ("1003", widgets/ItemIds.h), so a table names its controls
// by id alone. What stays English whatever the language (message boxes, dialog titles, lamps,
// units) is not here.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>

class QWidget;

/// One caption: the item id (an ItemId) and its English and Chinese text (nullptr: the same in both). In a
/// list table (column titles, list entries) the id is the index.
struct Caption
{
    int nId;
    const char16_t* pszEnglish;
    const char16_t* pszChinese;
};

/// The caption's text in the language of the flag (0 English, anything else Chinese).
QString CaptionText(const Caption& caption, bool bChinese);

/// Sets the caption of every item of `table` that `page` holds, found by object name among its
/// descendants: a label's or button's text, a group box's title.
void ApplyCaptions(QWidget& page, std::span<const Caption> table, bool bChinese);

/// The texts of a list table, in index order.
QStringList CaptionList(std::span<const Caption> table, bool bChinese);

/// True when `pLanguage` (a page's pointer to the main window's flag) asks for Chinese.
inline bool IsChinese(const std::uint16_t* pLanguage)
{
    return pLanguage != nullptr && *pLanguage != 0;
}

namespace captions {

// ---- Control page ----
/// Every caption as the page is made, in English, before a language is chosen.
extern const std::span<const Caption> kControlStart;
/// The language list's entries, the same in both languages.
extern const std::span<const Caption> kLanguages;
/// Every caption the language list switches, except the two that follow the link.
extern const std::span<const Caption> kControl;
/// IDC_CONNECTION and IDC_CONNECT while the link is open, and while it is closed, as the language
/// list sets them.
extern const std::span<const Caption> kControlLinkOpen;
extern const std::span<const Caption> kControlLinkClosed;
/// IDC_MAX_VOLTAGE, IDC_MAX_CURRENT, IDC_CONNECTION and IDC_CONNECT as opening and closing the link
/// write them.
extern const std::span<const Caption> kControlConnected;
extern const std::span<const Caption> kControlDisconnected;
/// Item IDC_CONNECTION while a run tries to reach its supply again.
extern const std::span<const Caption> kControlReconnecting;

// ---- Program page ----
extern const std::span<const Caption> kProgram;
/// The step list's four column titles.
extern const std::span<const Caption> kProgramColumns;

// ---- DataRecord page ----
extern const std::span<const Caption> kRecord;
/// The wave-type list (IDC_WAVE_TYPE); the time-scale list (IDC_TIME_SCALE) takes its texts from
/// device/TimeScales.h.
extern const std::span<const Caption> kRecordWaveTypes;
/// The display list (IDC_DISPLAY), English in both languages.
extern const std::span<const Caption> kRecordDisplay;

// ---- Main window ----
/// The three tabs' texts, English in both languages.
extern const std::span<const Caption> kTabs;

} // namespace captions
