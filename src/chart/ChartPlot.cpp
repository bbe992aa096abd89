#include "chart/ChartPlot.h"

#include "chart/ChartWidget.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

namespace
{
/// Angle of one step of a mouse wheel, in eighths of a degree.
constexpr double WheelStepAngle = 120.0;
} // namespace

ChartPlot::ChartPlot(ChartWidget *owner) : QWidget(owner), m_owner(owner)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setContextMenuPolicy(Qt::NoContextMenu); // right clicks go on to the owner
    setFocusPolicy(Qt::ClickFocus);          // Esc drops a box being drawn
    setAccessibleName(QCoreApplication::translate("ChartWidget", "曲线图"));
}

void ChartPlot::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    m_owner->paintPlot(painter, event->region());
    if (m_boxing) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor(0x30, 0x60, 0xc0), 1, Qt::DashLine));
        painter.setBrush(QColor(0x30, 0x60, 0xc0, 40));
        painter.drawRect(box());
    }
}

void ChartPlot::resizeEvent(QResizeEvent *)
{
    m_owner->layoutPlot();
}

void ChartPlot::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || !m_owner->toolsAtHand() ||
        !m_owner->m_view.map().area().contains(pos)) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragFrom = m_dragTo = pos;
    if (m_owner->m_panEnabled) {
        m_panning = true;
        setCursor(Qt::ClosedHandCursor);
    } else {
        m_boxing = true;
        setCursor(Qt::CrossCursor);
    }
    event->accept();
}

void ChartPlot::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_panning && m_owner->m_panEnabled && m_owner->toolsAtHand()) {
        m_owner->panDrag(m_dragTo, pos);
        m_dragTo = pos;
    } else if (m_boxing) {
        m_dragTo = pos;
        update();
    }
    m_owner->mouseMovedTo(pos);
    QWidget::mouseMoveEvent(event);
}

void ChartPlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !(m_panning || m_boxing)) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (m_boxing) {
        m_dragTo = event->position().toPoint();
        const QRect chosen = box();
        m_boxing = false;
        update();
        if (m_owner->toolsAtHand())
            m_owner->boxZoom(chosen);
    }
    m_panning = false;
    unsetCursor();
    event->accept();
}

void ChartPlot::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && m_boxing) { // drop the box being drawn
        m_boxing = false;
        unsetCursor();
        update();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ChartPlot::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / WheelStepAngle;
    if (steps == 0 || !m_owner->toolsAtHand()) {
        QWidget::wheelEvent(event);
        return;
    }
    m_owner->wheelAt(event->position().toPoint(), steps);
    event->accept();
}

void ChartPlot::leaveEvent(QEvent *event)
{
    m_owner->mouseLeft();
    QWidget::leaveEvent(event);
}
