#pragma once
// The text rules of the settings file "Data.ini" (see SettingsStore.h): how
// its bytes decode and encode, how numbers and quoted values read, and which
// section and key names can be stored.

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringView>

namespace SettingsText
{

constexpr QChar CommentSemicolon = u';';
constexpr QChar CommentHash = u'#';
constexpr QChar SectionOpen = u'[';
constexpr QChar SectionClose = u']';
constexpr QChar KeyValueSeparator = u'=';

enum class Encoding { Utf8, Utf16Le, Utf16Be, Gb18030, Latin1 };

/// The file's text, with the encoding and byte order mark it was found in:
/// UTF-16 after its byte order mark, else UTF-8 (a byte order mark
/// skipped), else GB18030, else Latin-1 (every byte kept). False when the
/// bytes are no text at all (NUL or control characters other than blanks
/// and the end-of-file mark, or UTF-16 that does not decode): such a file is
/// not a settings file this program can read or rewrite.
bool Decode(const QByteArray &bytes, QString &text, Encoding &encoding, bool &byteOrderMark);
/// Appends text in the encoding (byte order mark not included); false when
/// some character cannot be stored in it.
bool EncodeText(const QString &text, Encoding encoding, QByteArray &bytes);
/// The byte order mark written at the start of a file in this encoding.
QByteArray ByteOrderMark(Encoding encoding);

/// Whole number in decimal, or hexadecimal after "0x", "0X" or "$", with an
/// optional sign in front. Fails on anything else and on values beyond int.
bool ParseInteger(QStringView text, int &result);
/// Removes one pair of double quotes around an already trimmed value.
QString Unquote(QStringView trimmed);
/// The text written after "=": quoted when reading would otherwise change it.
QString QuoteIfNeeded(const QString &value);
/// At most `length` code units, never splitting a surrogate pair.
QString CutString(const QString &value, qsizetype length);
bool HasLineBreak(const QString &text);
/// Whether a reader takes the text for an editor's (no NUL or control
/// character but the blanks and the old end-of-file mark): what the store
/// writes must read back.
bool IsFileText(const QString &text);
/// Why a section or key name cannot be stored; empty when it can.
QString CheckSectionName(const QString &section);
QString CheckKeyName(const QString &key);

} // namespace SettingsText
