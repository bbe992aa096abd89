#pragma once
// The surface the chart widget paints its plot on, with the chart's own
// mouse handling: box zoom or pan by dragging, zoom by the wheel (over an
// axis: that axis only) and the data cursor following the mouse. Right
// clicks are left to the owner (context menu). Only ChartWidget uses it.

#include <QWidget>

class ChartWidget;

class ChartPlot : public QWidget
{
public:
    explicit ChartPlot(ChartWidget *owner);

    /// The rectangle box zoom is drawing, empty when none.
    QRect box() const { return m_boxing ? QRect(m_dragFrom, m_dragTo).normalized() : QRect(); }

protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    ChartWidget *m_owner;
    bool m_panning = false;
    bool m_boxing = false;
    QPoint m_dragFrom;
    QPoint m_dragTo;
};
