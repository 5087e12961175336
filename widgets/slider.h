#pragma once

#include <QFont>
#include <QRect>
#include <QSlider>
#include <QString>
#include <QStringList>
#include <QVector>

class QFontMetrics;
class QMouseEvent;
class QPaintEvent;

// A horizontal slider that writes a scale over and under its tick marks: the tick numbers, or a
// row of captions spread evenly from end to end. The standard slider is painted into a smaller
// rectangle that leaves room for the text, and mouse positions are stretched back so that the
// base class behaves as if the slider filled the widget.
//
// A vertical slider, or one without ticks, paints as a plain QSlider and takes the mouse unchanged.
class Slider : public QSlider
{
    Q_OBJECT

public:
    explicit Slider(QWidget* parent = nullptr);

    // Captions of the upper and lower scale rows; fewer than two entries means tick numbers.
    // The lists may be written directly; the setters also repaint.
    QStringList captionsAbove;
    QStringList captionsBelow;

    void setCaptionsAbove(const QStringList& captions);
    void setCaptionsBelow(const QStringList& captions);

    enum class ScaleRow { Above, Below };
    struct ScaleLabel
    {
        QString text;
        int x;       // left end of the text
        int advance; // horizontal advance of the text
    };

    // Taller than a plain slider by the scale rows, so that a layout leaves room for them
    // before the first paint.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Where the slider itself was last painted; null until the first scaled paint.
    QRect grooveRect() const { return groove; }

    // The groove rectangle a paint at the current size, font and captions would use.
    QRect computeGrooveRect() const;

    // The texts of one scale row and where a paint at the current size places them: every label,
    // in scaleFont(row).
    QVector<ScaleLabel> scaleLabels(ScaleRow row) const;

    // The widget's font, made smaller when the row's labels would otherwise touch or leave the
    // widget.
    QFont scaleFont(ScaleRow row) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool hasScale() const;
    int scaleRows() const;
    int handleHalf() const;
    int scaleHeight() const;
    QVector<ScaleLabel> placeLabels(ScaleRow row, const QFontMetrics& fm) const;
    QPointF mapToFullWidget(const QPointF& pos) const;
    template <typename Handler>
    void forwardMapped(QMouseEvent* event, Handler handler);

    QRect groove;
};
