#pragma once
// What the main window's value display shows: the measured value with its
// decimals and unit, or a short status text of the window that worked on the
// line last ("读取超时！", "标定中..."), and the chart's vertical range in
// force. The device layer only reports values; the windows share this.

#include <QObject>
#include <QString>

#include <cstdint>

class ValueDisplay : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void SetText(const QString &text);
    QString Text() const { return m_text; }
    /// Shows a raw value divided by 10^decimal (as it is when decimal <= 0),
    /// with exactly `decimal` decimals in the user's locale and the unit.
    void ShowValue(std::int32_t raw, int decimal, const QString &unit);
    /// The chart's vertical range from two ends.
    void SetYRange(double yMin, double yMax) { emit yRangeChanged(yMin, yMax); }

signals:
    void textChanged(const QString &text);
    void yRangeChanged(double yMin, double yMax);

private:
    QString m_text;
};
