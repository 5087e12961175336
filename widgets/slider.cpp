#include "slider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace {

QString tickText(int value)
{
    return QStringLiteral("%L1").arg(value);
}

// Space that the end labels of a row need beyond the groove's ends: a tick number or a long
// caption is centred on the end position; two or three captions are pushed inside instead.
void endWidths(const QStringList& captions, int minimum, int maximum, const QFontMetrics& fm,
               int& left, int& right)
{
    const int n = captions.size();
    if (n <= 1) {
        left = std::max(left, fm.horizontalAdvance(tickText(minimum)));
        right = std::max(right, fm.horizontalAdvance(tickText(maximum)));
    } else if (n >= 4) {
        left = std::max(left, fm.horizontalAdvance(captions.first()));
        right = std::max(right, fm.horizontalAdvance(captions.last()));
    }
}

} // namespace

Slider::Slider(QWidget* parent)
    : QSlider(parent)
{
}

void Slider::setCaptionsAbove(const QStringList& captions)
{
    captionsAbove = captions;
    update();
}

void Slider::setCaptionsBelow(const QStringList& captions)
{
    captionsBelow = captions;
    update();
}

bool Slider::hasScale() const
{
    return tickPosition() != NoTicks && orientation() == Qt::Horizontal;
}

int Slider::scaleRows() const
{
    return ((tickPosition() & TicksAbove) ? 1 : 0) + ((tickPosition() & TicksBelow) ? 1 : 0);
}

int Slider::scaleHeight() const
{
    return hasScale() ? scaleRows() * (fontMetrics().height() + 5) + 22 : 0;
}

QSize Slider::sizeHint() const
{
    const QSize plain = QSlider::sizeHint();
    return {plain.width(), std::max(plain.height(), scaleHeight())};
}

QSize Slider::minimumSizeHint() const
{
    const QSize plain = QSlider::minimumSizeHint();
    return {plain.width(), std::max(plain.height(), scaleHeight())};
}

int Slider::handleHalf() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->pixelMetric(QStyle::PM_SliderLength, &option, this) / 2;
}

QRect Slider::computeGrooveRect() const
{
    const QFontMetrics fm = fontMetrics();
    int leftWidth = 0;
    int rightWidth = 0;
    if (tickPosition() & TicksAbove)
        endWidths(captionsAbove, minimum(), maximum(), fm, leftWidth, rightWidth);
    if (tickPosition() & TicksBelow)
        endWidths(captionsBelow, minimum(), maximum(), fm, leftWidth, rightWidth);

    // Half of an end label hangs over the groove's end; half the handle already covers part of it.
    const int half = handleHalf();
    const int leftMargin = std::max(0, (leftWidth + 1) / 2 - half);
    const int rightMargin = std::max(0, (rightWidth + 1) / 2 - half);

    const int h = fm.height();
    const int top = (tickPosition() & TicksAbove) ? h : 0;
    const int bottom = height() - 1 - ((tickPosition() & TicksBelow) ? h : 0);
    return QRect(QPoint(leftMargin, top), QPoint(width() - 1 - rightMargin, bottom));
}

namespace {

constexpr int captionGap = 3;               // pixels kept free between neighbouring labels
constexpr qreal smallestCaptionPoints = 6.0; // a scale font never shrinks below this

// Every label whole inside the widget and clear of its neighbour.
bool labelsFit(const QVector<Slider::ScaleLabel>& labels, int width)
{
    for (int i = 0; i < labels.size(); ++i) {
        const Slider::ScaleLabel& label = labels.at(i);
        if (label.x < 0 || label.x + label.advance > width)
            return false;
        if (i > 0 && label.x < labels.at(i - 1).x + labels.at(i - 1).advance + captionGap)
            return false;
    }
    return true;
}

} // namespace

QVector<Slider::ScaleLabel> Slider::placeLabels(ScaleRow row, const QFontMetrics& fm) const
{
    QVector<ScaleLabel> labels;
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.rect = computeGrooveRect();
    const int half = style()->pixelMetric(QStyle::PM_SliderLength, &option, this) / 2;
    const int space = style()->pixelMetric(QStyle::PM_SliderSpaceAvailable, &option, this);

    auto place = [&](const QString& text, int position) {
        const int advance = fm.horizontalAdvance(text);
        labels.append({text, option.rect.left() + position + half - advance / 2, advance});
    };

    const QStringList& captions = row == ScaleRow::Above ? captionsAbove : captionsBelow;
    const int n = captions.size();
    if (n < 2) {
        if (tickInterval() <= 0)
            return labels;
        // 64-bit so that a range ending near INT_MAX does not wrap; more numbers than pixels
        // could not be read anyway, and a huge range must not stall the paint.
        for (qint64 v = minimum(); v <= maximum() && labels.size() <= std::max(space, 0); v += tickInterval())
            place(tickText(int(v)), QStyle::sliderPositionFromValue(minimum(), maximum(), int(v), space));
        return labels;
    }

    for (int i = 0; i < n; ++i)
        place(captions.at(i), QStyle::sliderPositionFromValue(0, n - 1, i, space));
    if (n <= 3) {
        // No margin was made for a short row, so its end captions are kept inside the widget.
        ScaleLabel& first = labels.first();
        first.x = std::max(first.x, 0);
        ScaleLabel& last = labels.last();
        last.x = std::min(last.x, width() - 1 - last.advance);
    }
    return labels;
}

QFont Slider::scaleFont(ScaleRow row) const
{
    // Every label of a scale carries meaning, so a crowded row gets a smaller font rather than
    // losing labels; half a point at a time, down to a floor that stays readable.
    QFont font = this->font();
    while (font.pointSizeF() - 0.5 >= smallestCaptionPoints
           && !labelsFit(placeLabels(row, QFontMetrics(font)), width()))
        font.setPointSizeF(font.pointSizeF() - 0.5);
    return font;
}

QVector<Slider::ScaleLabel> Slider::scaleLabels(ScaleRow row) const
{
    return placeLabels(row, QFontMetrics(scaleFont(row)));
}

namespace {

void drawLabelRow(QPainter& painter, const QFont& font, const QVector<Slider::ScaleLabel>& labels, int baseline)
{
    const QFont own = painter.font();
    painter.setFont(font);
    for (const Slider::ScaleLabel& label : labels)
        painter.drawText(label.x, baseline, label.text);
    painter.setFont(own);
}

} // namespace

void Slider::paintEvent(QPaintEvent* event)
{
    if (!hasScale()) {
        QSlider::paintEvent(event);
        return;
    }

    QPainter painter(this);
    const QFontMetrics fm = painter.fontMetrics();
    QStyle* const st = style();
    groove = computeGrooveRect();

    // A font that grew since the last layout needs a taller widget.
    const int minimumTall = scaleRows() * (fm.height() + 5) + 22;
    if (minimumTall > minimumHeight())
        setMinimumHeight(minimumTall);

    QStyleOptionSlider option;
    initStyleOption(&option);
    option.rect = groove;
    option.subControls = QStyle::SC_SliderGroove;
    st->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    option.subControls = QStyle::SC_SliderHandle;
    st->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);

    const int h = fm.height();
    if (tickPosition() & TicksAbove) {
        const QFont font = scaleFont(ScaleRow::Above);
        drawLabelRow(painter, font, placeLabels(ScaleRow::Above, QFontMetrics(font)), h - fm.descent());
        option.tickPosition = TicksAbove;
        option.subControls = QStyle::SC_SliderTickmarks;
        st->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    }
    if (tickPosition() & TicksBelow) {
        // The lower row stays black, also on a disabled (display-only) slider.
        painter.setPen(QColor(Qt::black));
        const QFont font = scaleFont(ScaleRow::Below);
        drawLabelRow(painter, font, placeLabels(ScaleRow::Below, QFontMetrics(font)), height() - 1 - fm.descent());
        option.tickPosition = TicksBelow;
        option.subControls = QStyle::SC_SliderTickmarks;
        st->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    }
}

QPointF Slider::mapToFullWidget(const QPointF& pos) const
{
    // Before the first scaled paint, and for a plain slider, the groove is the whole widget.
    const QRect& from = groove;
    if (!hasScale() || from.width() <= 1 || from.height() <= 1)
        return pos;
    const double x = std::round(pos.x());
    const double y = std::round(pos.y());
    return QPointF((width() - 1) * (x - from.left()) / (from.right() - from.left()),
                   (height() - 1) * (y - from.top()) / (from.bottom() - from.top()));
}

template <typename Handler>
void Slider::forwardMapped(QMouseEvent* event, Handler handler)
{
    const QPointF own = event->localPos();
    event->setLocalPos(mapToFullWidget(own));
    handler(event);
    event->setLocalPos(own);
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    forwardMapped(event, [this](QMouseEvent* e) { QSlider::mousePressEvent(e); });
}

void Slider::mouseReleaseEvent(QMouseEvent* event)
{
    forwardMapped(event, [this](QMouseEvent* e) { QSlider::mouseReleaseEvent(e); });
}

void Slider::mouseMoveEvent(QMouseEvent* event)
{
    forwardMapped(event, [this](QMouseEvent* e) { QSlider::mouseMoveEvent(e); });
}
