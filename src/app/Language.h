#pragma once
// The language of the windows: Chinese (the texts as written in the source)
// or English (the translation built into the program). The choice is kept in
// "Data.ini", section "Interface", key "Language" ("zh_CN" or "en"); it is
// read when the windows are created, so a new choice takes effect at the next
// start.

#include <QString>

class QMenu;
class QWidget;
class SettingsStore;

/// The stored choice: SettingsKeys::LanguageEnglish or LanguageChinese. A file
/// without the key (older versions) or with an unknown value gives Chinese.
QString LanguageFromSettings(const SettingsStore &settings);

/// Stores `language` (LanguageChinese or LanguageEnglish; anything else is
/// refused). True when the stored choice changed.
bool SetLanguage(SettingsStore &settings, const QString &language);

/// Makes the texts created from now on appear in `language`: English installs
/// the program's translation (and Qt's own, when the system has it), Chinese
/// removes them again. False when the English translation could not be loaded.
bool InstallTranslator(const QString &language);

/// "The choice takes effect at the next start", in both languages.
QString LanguageChangeNotice();

/// Adds the submenu "语言 / Language" (objectName "mnuLanguage") to `menu`,
/// with the checkable items "中文" ("mnuLanguageChinese") and "English"
/// ("mnuLanguageEnglish"). The check follows the stored choice; picking the
/// other language stores it and tells the operator LanguageChangeNotice().
/// These captions name each language in itself and are never translated.
QMenu *AddLanguageMenu(QMenu *menu, SettingsStore &settings, QWidget *parent);
