#include "gui/waveformview.h"

#include "core/numbertext.h"
#include "core/waveformloader.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

/// What the view writes and tells, in one place.
namespace WaveText {
const QString name = QStringLiteral("波形");
const QString usage = QStringLiteral("单击波形把播放位置移到该处；← / → 移动0.1秒，Shift+← / Shift+→ 移动1秒，"
                                     "Home / End 移到开头 / 结尾，空格键播放 / 暂停，滚轮或 + / − 缩放。");
const QString start = QStringLiteral("起点 %1");
const QString end = QStringLiteral("终点 %1");
const QString lastCut = QStringLiteral("上次剪切 %1–%2");
const QString separator = QStringLiteral("　");
const QString proposal = QStringLiteral("建议 %1–%2");
} // namespace WaveText

/// Each wheel notch or + / − halves or doubles the time shown.
constexpr double zoomStep = 2.0;
/// Zoomed in all the way, a tenth of a second is this many pixels wide.
constexpr double pixelsPerTenth = 8.0;

const QColor lineColour(0xee, 0xf1, 0xf4);
const QColor startColour(0xf0, 0xc0, 0x5a);
const QColor labelBackground(0, 0, 0, 150);

} // namespace

QColor waveColour(const QPalette &palette)
{
    QColor colour = palette.color(QPalette::Highlight).toHsl();
    if (colour.lightness() < 165)
        colour.setHsl(colour.hslHue(), colour.hslSaturation(), 165);
    return colour;
}

void playOrPause(PlayerEngine *engine)
{
    if (engine && engine->state() == PlayerEngine::State::Playing)
        engine->pause();
    else if (engine)
        engine->play();
}

void drawViewLabel(QPainter &painter, const QRect &box, const QString &text)
{
    painter.fillRect(box, labelBackground);
    painter.setPen(lineColour);
    painter.drawText(box, Qt::AlignCenter, text);
}

QRectF peakRect(const PeakBucket &peak, double x, double pixel, double middle, double amplitude)
{
    const double top = middle - std::clamp(double(peak.high), -1.0, 1.0) * amplitude;
    const double bottom = middle - std::clamp(double(peak.low), -1.0, 1.0) * amplitude;
    return QRectF(x, top, pixel, std::max(bottom - top, pixel));
}

void drawFocusFrame(QPainter &painter, const QWidget &view, const QColor &wave)
{
    painter.setPen(QPen(wave, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(view.rect()).adjusted(0, 0, -1.0 / view.devicePixelRatioF(), -1.0 / view.devicePixelRatioF()));
}

WaveformView::WaveformView(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(WaveText::name);
    setMinimumHeight(24);
    describe();
}

WaveformView::~WaveformView()
{
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
}

void WaveformView::setEngine(PlayerEngine *engine)
{
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
    m_engine = engine;
    if (m_engine) {
        connect(m_engine, &PlayerEngine::sourceChanged, this, &WaveformView::sourceChanged);
        connect(m_engine, &PlayerEngine::durationChanged, this, &WaveformView::lengthMayHaveChanged);
        connect(m_engine, &PlayerEngine::positionChanged, this, &WaveformView::showPosition);
        // Failing or unloading takes the position away without signalling a position.
        connect(m_engine, &PlayerEngine::stateChanged, this, [this] { showPosition(m_engine->position()); });
        connect(m_engine, &QObject::destroyed, this, &WaveformView::sourceChanged);
    }
    sourceChanged();
}

void WaveformView::setDecoders(AudioDecoderFactory decoders)
{
    delete m_loader;
    m_loader = new WaveformLoader(std::move(decoders), this);
    connect(m_loader, &WaveformLoader::changed, this, &WaveformView::peaksChanged);
    sourceChanged();
}

void WaveformView::setProposal(std::optional<TimeWindow> stretch)
{
    if (stretch == m_proposal)
        return;
    m_proposal = stretch;
    describe();
    update();
}

void WaveformView::setMarks(std::optional<double> start, std::optional<TimeWindow> kept)
{
    if (start == m_start && kept == m_kept)
        return;
    m_start = start;
    m_kept = kept;
    describe();
    update();
}

double WaveformView::length() const
{
    if (const auto decoded = m_loader ? m_loader->length() : std::nullopt)
        return *decoded;
    return m_engine ? m_engine->duration().value_or(0.0) : 0.0;
}

TimeWindow WaveformView::shown() const
{
    return m_zoom.value_or(TimeWindow{0.0, length()});
}

void WaveformView::sourceChanged()
{
    m_zoom.reset();
    m_position = m_engine ? m_engine->position() : std::nullopt;
    if (m_loader)
        m_loader->load(m_engine ? m_engine->source() : QString());
    lengthMayHaveChanged();
    update();
}

void WaveformView::lengthMayHaveChanged()
{
    if (length() == m_laidOutLength)
        return;
    m_laidOutLength = length();
    if (m_zoom) {
        const TimeWindow window = zoomedWindow(*m_zoom, 1.0, m_zoom->from, m_laidOutLength, 0.0);
        m_zoom = window.span() < m_laidOutLength ? std::optional(window) : std::nullopt;
    }
    describe();
    update();
}

void WaveformView::peaksChanged(qint64 fromFrame)
{
    const int rate = m_loader->peaks().sampleRate;
    const TimeWindow window = shown();
    qsizetype column = 0;
    if (rate > 0 && window.span() > 0) {
        const double place = (double(fromFrame) / rate - window.from) / window.span();
        column = std::max<qsizetype>(0, qsizetype(std::floor(place * m_columnCount)));
    }
    m_staleColumn = std::min(m_staleColumn, column);

    const double before = m_laidOutLength;
    lengthMayHaveChanged();
    if (m_laidOutLength != before || column >= m_columnCount)
        return;
    // Only the columns from the first changed frame on, up to where the sound now reaches.
    const double reach = rate > 0 ? m_loader->peaks().seconds() : window.to;
    const int left = int(std::floor(double(column) / devicePixelRatioF())) - 1;
    update(QRect(left, 0, int(std::ceil(xOf(reach))) - left + 2, height()));
}

void WaveformView::showPosition(std::optional<double> seconds)
{
    if (seconds && m_zoom) {
        const TimeWindow window = windowShowing(*m_zoom, *seconds, length());
        if (window != *m_zoom) {
            m_position = seconds;
            setZoom(window);
            return;
        }
    }
    if (seconds == m_position)
        return;
    if (m_position)
        update(stripAt(*m_position));
    m_position = seconds;
    if (m_position)
        update(stripAt(*m_position));
}

void WaveformView::seekTo(double seconds)
{
    if (m_engine)
        m_engine->seek(seconds);
}

void WaveformView::zoom(double factor)
{
    const double whole = length();
    if (whole <= 0 || width() <= 0)
        return;
    const TimeWindow now = shown();
    const double anchor = m_engine && m_engine->position() ? *m_engine->position() : now.from + now.span() / 2;
    const double shortest = width() / pixelsPerTenth / 10.0;
    const TimeWindow window = zoomedWindow(now, factor, anchor, whole, shortest);
    setZoom(window.span() < whole ? std::optional(window) : std::nullopt);
}

void WaveformView::setZoom(std::optional<TimeWindow> window)
{
    if (window == m_zoom)
        return;
    m_zoom = window;
    update();
}

QString WaveformView::marksText() const
{
    QStringList parts;
    if (m_proposal)
        parts << WaveText::proposal.arg(clockText(m_proposal->from), clockText(m_proposal->to));
    if (m_start)
        parts << WaveText::start.arg(clockText(*m_start));
    // The last cut's end belongs beside its own start only; a start marked since stands alone.
    if (m_kept && m_start == m_kept->from)
        parts << WaveText::end.arg(clockText(m_kept->to));
    else if (m_kept)
        parts << WaveText::lastCut.arg(clockText(m_kept->from), clockText(m_kept->to));
    return parts.join(WaveText::separator);
}

void WaveformView::describe()
{
    // The marks' times are what a screen reader most needs to hear, before the keys.
    const QString marks = marksText();
    setAccessibleDescription(marks.isEmpty() ? WaveText::usage : marks + QStringLiteral("。") + WaveText::usage);
}

double WaveformView::xOf(double seconds) const
{
    const TimeWindow window = shown();
    return window.span() > 0 ? (seconds - window.from) / window.span() * width() : 0.0;
}

QRect WaveformView::stripAt(double seconds) const
{
    return QRect(int(std::floor(xOf(seconds))) - 2, 0, 5, height());
}

void WaveformView::refreshColumns()
{
    const int count = int(std::lround(width() * devicePixelRatioF()));
    const TimeWindow window = shown();
    if (count != m_columnCount || window != m_columnWindow) {
        m_columnCount = count;
        m_columnWindow = window;
        m_staleColumn = 0;
    }
    if (m_staleColumn == std::numeric_limits<qsizetype>::max())
        return;
    m_columns.resize(std::min(m_columns.size(), m_staleColumn));
    if (m_loader)
        m_columns.append(columnPeaks(m_loader->peaks(), window, count, int(m_columns.size())));
    m_staleColumn = std::numeric_limits<qsizetype>::max();
}

void WaveformView::paintEvent(QPaintEvent *event)
{
    refreshColumns();
    QPainter painter(this);
    const double ratio = devicePixelRatioF();
    const double pixel = 1.0 / ratio;
    const QRect dirty = event->rect();
    const double middle = height() / 2.0;
    const double reach = middle - 2.0;
    const QColor wave = waveColour(palette());

    // The kept stretch under everything, so the sound shows through it.
    if (m_kept && m_kept->span() > 0) {
        QColor shade = wave;
        shade.setAlpha(60);
        painter.fillRect(QRectF(xOf(m_kept->from), 0, xOf(m_kept->to) - xOf(m_kept->from), height()), shade);
    }

    // The proposal under the sound too, in the start mark's colour: where a start might go.
    if (m_proposal) {
        QColor shade = startColour;
        shade.setAlpha(55);
        const QRectF band(xOf(m_proposal->from), 0, xOf(m_proposal->to) - xOf(m_proposal->from), height());
        painter.fillRect(band, shade);
        shade.setAlpha(200);
        painter.fillRect(QRectF(band.left(), 0, band.width(), 2), shade);
    }

    QColor axis = wave;
    axis.setAlpha(70);
    painter.fillRect(QRectF(dirty.left(), middle - pixel / 2, dirty.width(), pixel), axis);

    // Sound not yet decoded is guessed from its frames, and drawn faint until the decode comes.
    QColor guess = wave;
    guess.setAlpha(90);
    const qsizetype first = std::max<qsizetype>(0, qsizetype(std::floor(dirty.left() * ratio)));
    const qsizetype last = std::min<qsizetype>(m_columns.size(), qsizetype(std::ceil((dirty.right() + 1) * ratio)));
    for (qsizetype c = first; c < last; ++c)
        painter.fillRect(peakRect(m_columns[c], c * pixel, pixel, middle, reach), m_columns[c].rough ? guess : wave);

    // The position under the marks: just after a mark is set they coincide, and the mark is news.
    if (m_position)
        painter.fillRect(QRectF(xOf(*m_position) - 0.5, 0, 1, height()), lineColour);
    if (m_kept) {
        for (const double edge : {m_kept->from, m_kept->to})
            painter.fillRect(QRectF(xOf(edge) - 0.5, 0, 1, height()), wave);
    }
    if (m_start) {
        const double x = xOf(*m_start);
        painter.fillRect(QRectF(x - 0.5, 0, 1, height()), startColour);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(startColour);
        painter.drawPolygon(QPolygonF({QPointF(x - 0.5, 0), QPointF(x + 5.5, 0), QPointF(x - 0.5, 6)}));
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
    if (m_zoom && m_laidOutLength > 0) {
        // Where the stretch shown lies in the whole sound, along the bottom edge.
        QColor track = lineColour;
        track.setAlpha(40);
        painter.fillRect(QRectF(0, height() - 3, width(), 3), track);
        painter.fillRect(QRectF(m_zoom->from / m_laidOutLength * width(), height() - 3,
                                std::max(m_zoom->span() / m_laidOutLength * width(), 2.0), 3),
                         wave);
    }

    const QString marks = marksText();
    if (!marks.isEmpty()) {
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        painter.setFont(small);
        const QFontMetrics metrics(small);
        QRect label = metrics.boundingRect(marks).adjusted(-4, -1, 4, 1);
        label.moveBottomRight(rect().bottomRight() - QPoint(2, m_zoom ? 5 : 2));
        drawViewLabel(painter, label, marks);
    }

    if (hasFocus())
        drawFocusFrame(painter, *this, wave);
}

void WaveformView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || width() <= 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    const TimeWindow window = shown();
    if (window.span() > 0)
        seekTo(window.from + event->position().x() / width() * window.span());
    event->accept();
}

void WaveformView::keyPressEvent(QKeyEvent *event)
{
    const std::optional<double> now = m_engine ? m_engine->position() : std::nullopt;
    const double step = event->modifiers() & Qt::ShiftModifier ? 1.0 : 0.1;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (now)
            seekTo(steppedTime(*now, event->key() == Qt::Key_Left ? -step : step));
        break;
    case Qt::Key_Home:
        seekTo(0.0);
        break;
    case Qt::Key_End:
        if (m_engine && m_engine->duration())
            seekTo(*m_engine->duration());
        break;
    case Qt::Key_Space:
        playOrPause(m_engine);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(1.0 / zoomStep);
        break;
    case Qt::Key_Minus:
        zoom(zoomStep);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void WaveformView::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    zoom(std::pow(zoomStep, -notches));
    event->accept();
}

void WaveformView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(event);
}

void WaveformView::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void WaveformView::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}
