#pragma once
// Number <-> text rules shared by the settings file and the sample-data file.

#include <QLocale>
#include <QString>

/// Shortest general decimal form with at most 15 significant digits, without
/// trailing zeros, without group separators and with the locale's decimal
/// separator (17, 12.5, -0.25; very large or small numbers in exponent form).
QString FormatGeneral15(double value, const QLocale &locale = QLocale());

/// Parses a number written with the locale's decimal separator (as
/// FormatGeneral15 writes it). Leading and trailing blanks are allowed,
/// group separators are not. Returns false for anything else.
bool ParseLocaleDouble(const QString &text, double &value, const QLocale &locale = QLocale());
