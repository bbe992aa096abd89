#pragma once
// The chart's axes: which ticks a range gets and how they are labelled, where
// the plot area lies so that the labels fit beside it, and the grid, frame,
// ticks and labels drawn around it. Labels are kept as small pictures, drawn
// once and then copied.

#include <QFont>
#include <QHash>
#include <QImage>
#include <QLocale>
#include <QRectF>
#include <QStringList>

#include <functional>
#include <vector>

class ChartMap;
class QPainter;

/// Numbers as the operator's locale writes them, without digit grouping:
/// tick labels and the data cursor.
QLocale ChartNumberLocale();

class ChartAxes
{
public:
    struct Tick {
        double value;
        QString label;
    };

    /// Chooses the ticks of `axis` for the range from `low` to `high`: whole
    /// multiples of a 1-2-5 step, labelled in the notation of the default
    /// locale.
    void setRange(Qt::Orientation axis, double low, double high);
    /// Labels of the horizontal ticks from their values (all at once);
    /// without one, the numbers.
    using Labeller = std::function<QStringList(const std::vector<double> &values)>;
    void setHorizontalLabeller(Labeller labeller) { m_xLabeller = std::move(labeller); }
    const std::vector<Tick> &ticks(Qt::Orientation axis) const;
    /// Tick labels of the axis, lowest first.
    QStringList labels(Qt::Orientation axis) const;

    /// The plot area in a widget of `size` whose labels are written in
    /// `font`: room on the left for the widest vertical label and on the right
    /// for half the last horizontal one. It grows at once and shrinks only by
    /// a good step, so the plot does not twitch as the labels change.
    QRectF plotArea(const QSize &size, const QFont &font);
    /// How far a horizontal label reaches beside its tick (half the widest,
    /// as plotArea() last found it).
    int labelReach() const { return m_xLabelHalf; }

    /// Grid lines, frame, ticks and labels around `map`'s plot area, on a
    /// white picture of pixel ratio `ratio`.
    /// Only what reaches into `part` is drawn (the painter is clipped to it).
    void paint(QPainter &painter, const ChartMap &map, const QFont &font, qreal ratio, const QRect &part);

private:
    const QImage &labelPicture(const QString &text, const QFont &font, qreal ratio);

    Labeller m_xLabeller;
    std::vector<Tick> m_xTicks;
    std::vector<Tick> m_yTicks;
    int m_yLabelWidth = 0;
    int m_xLabelHalf = 0;
    QHash<QString, QImage> m_labelCache;
    QHash<QString, int> m_labelWidths; // in m_widthFont
    QFont m_widthFont;
    qreal m_labelRatio = 0;
    QFont m_labelFont;
};
