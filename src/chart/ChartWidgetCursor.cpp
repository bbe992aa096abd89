// ChartWidget: the data cursor and saving the picture.

#include "chart/ChartPlot.h"
#include "chart/ChartWidget.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QLocale>
#include <QPixmap>

#include <exception>

namespace
{
const QString PictureSuffix = QStringLiteral("png");
} // namespace

QString ChartWidget::DataCursorText(double x, double y)
{
    const QLocale locale = ChartNumberLocale();
    return QStringLiteral("X: %1   Y: %2").arg(locale.toString(x, 'g', 10), locale.toString(y, 'g', 8));
}

QString ChartWidget::DataCursorText(const QString &channel, double x, double y)
{
    const QLocale locale = ChartNumberLocale();
    // The shortest text that reads back as the stored value.
    return QStringLiteral("%1   X: %2   Y: %3")
        .arg(channel, locale.toString(x, 'g', QLocale::FloatingPointShortest),
             locale.toString(y, 'g', QLocale::FloatingPointShortest));
}

QString ChartWidget::dataCursorText() const
{
    return m_cursorLabel->text();
}

void ChartWidget::updateDataCursor()
{
    // The drawn points are samples as stored (the thinning keeps the first,
    // lowest, highest and last of each column), so the nearest of them on
    // the screen is the sample the operator points at.
    const ChartMap &map = m_view.map();
    const QPointF mouse(m_mousePos);
    double best = double(SnapRadius) * SnapRadius;
    m_cursorChannel = -1;
    for (int ch = 0; ch < m_picture.traceCount(); ++ch) {
        const ChartTrace &t = m_picture.trace(ch);
        if (!t.visible)
            continue;
        const QList<QPointF> &points = t.points();
        const auto consider = [&](qsizetype i) {
            const QPointF p = points[i];
            const QPointF at = map.toPixel(p);
            const double d =
                (at.x() - mouse.x()) * (at.x() - mouse.x()) + (at.y() - mouse.y()) * (at.y() - mouse.y());
            if (d <= best && map.area().adjusted(-1, -1, 1, 1).contains(at)) {
                best = d;
                m_cursorChannel = ch;
                m_cursorValue = p;
            }
        };
        for (const auto &[begin, end] : t.lines())
            for (qsizetype i = begin; i < end; ++i)
                consider(i);
        // A lone point is a target only as a marker, not as a small dot.
        if (t.markers)
            for (qsizetype i : t.lone())
                consider(i);
    }
    if (m_cursorChannel >= 0) {
        m_cursorLabel->setText(
            DataCursorText(traceName(m_cursorChannel), m_cursorValue.x(), m_cursorValue.y()));
    } else {
        m_cursorValue = map.toValue(mouse);
        m_cursorLabel->setText(DataCursorText(m_cursorValue.x(), m_cursorValue.y()));
    }
    m_cursorLabel->adjustSize();
    m_cursorLabel->move(map.area().topLeft().toPoint() + QPoint(4, 4));
}

void ChartWidget::mouseMovedTo(const QPoint &pos)
{
    m_mousePos = pos;
    m_cursorInside = m_view.map().area().contains(pos);
    if (m_cursorInside && m_dataCursorVisible) {
        updateDataCursor();
        redraw();
    }
    m_cursorLabel->setVisible(m_dataCursorVisible && m_cursorInside);
}

void ChartWidget::mouseLeft()
{
    m_cursorInside = false;
    m_cursorLabel->hide();
    if (m_dataCursorVisible)
        redraw();
}

bool ChartWidget::savePicture(const QString &fileName, QString *error)
{
    const bool wasSuspended = m_suspendDepth > 0;
    if (!wasSuspended)
        refresh();
    const QImage picture = m_plot->grab().toImage();
    QImageWriter writer(fileName, "png");
    if (picture.isNull() || !writer.write(picture)) {
        if (error)
            *error = picture.isNull() ? tr("图形为空") : writer.errorString();
        return false;
    }
    return true;
}

void ChartWidget::savePictureAsked()
{
    try {
        QString name = m_fileNamePrompt ? m_fileNamePrompt(this) : QString();
        if (name.isEmpty())
            return;
        if (QFileInfo(name).suffix().isEmpty())
            name += QLatin1Char('.') + PictureSuffix;
        QString error;
        if (!savePicture(name, &error) && m_errorReport)
            m_errorReport(this, QStringLiteral("Error Saving Picture - ") + error);
    } catch (const std::exception &e) {
        if (m_errorReport)
            m_errorReport(this, QStringLiteral("Error Saving Picture - ") + QString::fromLocal8Bit(e.what()));
    }
}

void ChartWidget::setFileNamePrompt(FileNamePrompt prompt)
{
    m_fileNamePrompt = std::move(prompt);
}

void ChartWidget::setErrorReport(ErrorReport report)
{
    m_errorReport = std::move(report);
}
