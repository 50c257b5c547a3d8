#include "gui/pieceview.h"

#include "core/numbertext.h"
#include "core/waveformloader.h"
#include "gui/frmtexts.h"
#include "gui/waveformview.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor handleColour(0xf0, 0xc0, 0x5a);
const QColor lineColour(0xee, 0xf1, 0xf4);
const QColor gripBackground(0, 0, 0, 150);
/// How far from a handle, in pixels, a press still takes it.
constexpr double reach = 6.0;

} // namespace

TimeWindow movedPiece(TimeWindow piece, PieceEnd end, double seconds, double songLength)
{
    if (end == PieceEnd::Start)
        piece.from = std::clamp(seconds, 0.0, std::max(piece.to - shortestPiece, 0.0));
    else
        piece.to = std::clamp(seconds, piece.from + shortestPiece, std::max(songLength, piece.from + shortestPiece));
    return piece;
}

TimeWindow surroundingsOf(TimeWindow piece, double songLength)
{
    return {std::max(piece.from - pieceSurroundings, 0.0),
            std::max(std::min(piece.to + pieceSurroundings, songLength), piece.to)};
}

PieceView::PieceView(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // The cursor says where a handle can be taken.
    setMouseTracking(true);
    setAccessibleName(FrmText::pieceViewName);
    setMinimumHeight(24);
    describe();
}

PieceView::~PieceView()
{
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
}

void PieceView::setEngine(PlayerEngine *engine)
{
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
    m_engine = engine;
    if (m_engine) {
        connect(m_engine, &PlayerEngine::positionChanged, this, qOverload<>(&QWidget::update));
        connect(m_engine, &PlayerEngine::stateChanged, this, qOverload<>(&QWidget::update));
    }
    update();
}

void PieceView::setSongPeaks(const WaveformLoader *loader)
{
    if (m_loader)
        disconnect(m_loader, nullptr, this, nullptr);
    m_loader = loader;
    if (m_loader)
        connect(m_loader, &WaveformLoader::changed, this, qOverload<>(&QWidget::update));
    update();
}

void PieceView::showPiece(std::optional<TimeWindow> piece, double songLength, bool busy)
{
    m_piece = piece;
    m_songLength = songLength;
    m_busy = busy;
    if (!m_piece) {
        m_askedStart = {};
        m_askedEnd = {};
    } else if (!m_busy && !m_dragged) {
        sendWaiting();
    }
    describe();
    update();
}

void PieceView::sendWaiting()
{
    // One end at a time: the next waits for the cut this one starts. An end that is not waiting
    // has had its answer, and shows as the piece now is.
    for (const PieceEnd end : {PieceEnd::Start, PieceEnd::End}) {
        Asked &a = asked(end);
        if (a.waiting && a.seconds) {
            a.waiting = false;
            const double seconds = *a.seconds;
            QMetaObject::invokeMethod(this, [this, end, seconds] { emit moveAsked(end, seconds); }, Qt::QueuedConnection);
            return;
        }
        a = {};
    }
}

std::optional<TimeWindow> PieceView::shownPiece() const
{
    if (!m_piece)
        return std::nullopt;
    return TimeWindow{m_askedStart.seconds.value_or(m_piece->from), m_askedEnd.seconds.value_or(m_piece->to)};
}

TimeWindow PieceView::shownSong() const
{
    if (m_heldSong)
        return *m_heldSong;
    const auto piece = shownPiece();
    return piece ? surroundingsOf(*piece, m_songLength) : TimeWindow{};
}

void PieceView::ask(PieceEnd end, double seconds)
{
    const auto piece = shownPiece();
    if (!piece)
        return;
    const TimeWindow moved = movedPiece(*piece, end, seconds, m_songLength);
    const double to = end == PieceEnd::Start ? moved.from : moved.to;
    const double now = end == PieceEnd::Start ? piece->from : piece->to;
    if (to == now)
        return;
    asked(end) = {to, m_busy};
    describe();
    update();
    if (!m_busy)
        emit moveAsked(end, to);
}

double PieceView::xOf(double seconds) const
{
    const TimeWindow song = shownSong();
    return song.span() > 0 ? (seconds - song.from) / song.span() * width() : 0.0;
}

double PieceView::secondsAt(double x) const
{
    const TimeWindow song = shownSong();
    return song.from + std::clamp(x / std::max(width(), 1), 0.0, 1.0) * song.span();
}

std::optional<PieceEnd> PieceView::handleAt(double x) const
{
    const auto piece = shownPiece();
    if (!piece)
        return std::nullopt;
    const double toStart = std::abs(x - xOf(piece->from));
    const double toEnd = std::abs(x - xOf(piece->to));
    if (std::min(toStart, toEnd) > reach)
        return std::nullopt;
    // Handles drawn close together: the one on the side of the press, so both stay reachable.
    if (toStart == toEnd)
        return x < xOf(piece->from) ? PieceEnd::Start : PieceEnd::End;
    return toStart < toEnd ? PieceEnd::Start : PieceEnd::End;
}

void PieceView::describe()
{
    const auto piece = shownPiece();
    const QString ends = piece ? FrmText::pieceEnds.arg(clockText(piece->from), clockText(piece->to)) : QString();
    setAccessibleDescription(ends + FrmText::pieceViewUsage);
}

void PieceView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const auto piece = shownPiece();
    const TimeWindow song = shownSong();
    if (!piece || song.span() <= 0)
        return;
    const double ratio = devicePixelRatioF();
    const double pixel = 1.0 / ratio;
    const double middle = height() / 2.0;
    const double amplitude = middle - 2.0;
    const QColor wave = waveColour(palette());
    QColor dimmed = wave;
    dimmed.setAlpha(80);

    QColor shade = wave;
    shade.setAlpha(60);
    const double left = xOf(piece->from);
    const double right = xOf(piece->to);
    painter.fillRect(QRectF(left, 0, right - left, height()), shade);
    QColor axis = wave;
    axis.setAlpha(70);
    painter.fillRect(QRectF(0, middle - pixel / 2, width(), pixel), axis);

    if (m_loader) {
        const int count = int(std::lround(width() * ratio));
        const QList<PeakBucket> columns = columnPeaks(m_loader->peaks(), song, count);
        for (qsizetype c = 0; c < columns.size(); ++c) {
            const double x = c * pixel;
            const bool inside = x + pixel / 2 >= left && x + pixel / 2 <= right;
            painter.fillRect(peakRect(columns[c], x, pixel, middle, amplitude), inside ? wave : dimmed);
        }
    }

    // The position belongs to the piece as cut, which plays until the new one is whole.
    const std::optional<double> played = m_engine && !m_engine->source().isEmpty() ? m_engine->position() : std::nullopt;
    if (played && m_piece)
        painter.fillRect(QRectF(xOf(m_piece->from + *played) - 0.5, 0, 1, height()), lineColour);

    painter.setRenderHint(QPainter::Antialiasing);
    for (const PieceEnd end : {PieceEnd::Start, PieceEnd::End}) {
        const double x = end == PieceEnd::Start ? left : right;
        const bool focused = end == m_focusedEnd;
        painter.fillRect(QRectF(x - 1, 0, 2, height()), handleColour);
        // A grip on the line, filled on the end the keys move.
        const QRectF grip(x - 4, middle - 9, 8, 18);
        painter.setPen(QPen(handleColour, 1.5));
        painter.setBrush(focused ? QBrush(handleColour) : QBrush(gripBackground));
        painter.drawRoundedRect(grip, 2, 2);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    painter.setFont(small);
    const QFontMetrics metrics(small);
    const QString startText = clockText(piece->from);
    const QString endText = clockText(piece->to);
    QRect startLabel = metrics.boundingRect(startText).adjusted(-3, -1, 3, 1);
    QRect endLabel = metrics.boundingRect(endText).adjusted(-3, -1, 3, 1);
    // Inside the piece where both fit there, else outside their handles.
    const bool inside = right - left > startLabel.width() + endLabel.width() + 16;
    const int bottom = height() - 2;
    if (inside) {
        startLabel.moveBottomLeft(QPoint(int(left) + 6, bottom));
        endLabel.moveBottomRight(QPoint(int(right) - 6, bottom));
    } else {
        startLabel.moveBottomRight(QPoint(int(left) - 6, bottom));
        endLabel.moveBottomLeft(QPoint(int(right) + 6, bottom));
    }
    for (const auto &[label, text] : {std::pair{startLabel, startText}, std::pair{endLabel, endText}}) {
        drawViewLabel(painter, label.translated(std::clamp(label.left(), 0, width() - label.width()) - label.left(), 0), text);
    }
    if (m_busy) {
        QRect note = metrics.boundingRect(FrmText::recutting).adjusted(-4, -1, 4, 1);
        note.moveTopLeft(QPoint(2, 2));
        drawViewLabel(painter, note, FrmText::recutting);
    }

    if (hasFocus())
        drawFocusFrame(painter, *this, wave);
}

void PieceView::mousePressEvent(QMouseEvent *event)
{
    const auto piece = shownPiece();
    if (event->button() != Qt::LeftButton || !piece) {
        QWidget::mousePressEvent(event);
        return;
    }
    const double x = event->position().x();
    if (const auto end = handleAt(x)) {
        m_dragged = end;
        m_focusedEnd = *end;
        m_heldSong = shownSong();
        update();
    } else if (m_engine && m_piece) {
        // Elsewhere a press puts the piece's position there, as on any waveform.
        const double seconds = secondsAt(x);
        if (seconds >= m_piece->from && seconds <= m_piece->to)
            m_engine->seek(seconds - m_piece->from);
    }
    event->accept();
}

void PieceView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragged) {
        setCursor(handleAt(event->position().x()) ? Qt::SizeHorCursor : Qt::ArrowCursor);
        QWidget::mouseMoveEvent(event);
        return;
    }
    // The handle follows the mouse without asking: only letting go asks for a cut.
    const auto piece = shownPiece();
    if (!piece)
        return;
    const TimeWindow moved = movedPiece(*piece, *m_dragged, secondsAt(event->position().x()), m_songLength);
    Asked &a = asked(*m_dragged);
    a.seconds = *m_dragged == PieceEnd::Start ? moved.from : moved.to;
    a.waiting = false;
    describe();
    update();
    event->accept();
}

void PieceView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragged || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const PieceEnd end = *m_dragged;
    m_dragged.reset();
    m_heldSong.reset();
    // The piece may have gone while the handle was held.
    if (!m_piece)
        return;
    Asked &a = asked(end);
    const double was = end == PieceEnd::Start ? m_piece->from : m_piece->to;
    if (a.seconds && *a.seconds != was) {
        a.waiting = m_busy;
        if (!m_busy)
            emit moveAsked(end, *a.seconds);
    } else {
        a = {};
    }
    describe();
    update();
    event->accept();
}

void PieceView::keyPressEvent(QKeyEvent *event)
{
    const auto piece = shownPiece();
    const double step = event->modifiers() & Qt::ShiftModifier ? 1.0 : 0.1;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (piece && !m_dragged) {
            const double now = m_focusedEnd == PieceEnd::Start ? piece->from : piece->to;
            ask(m_focusedEnd, steppedTime(now, event->key() == Qt::Key_Left ? -step : step));
        }
        break;
    case Qt::Key_BracketLeft:
        m_focusedEnd = PieceEnd::Start;
        update();
        break;
    case Qt::Key_BracketRight:
        m_focusedEnd = PieceEnd::End;
        update();
        break;
    case Qt::Key_Space:
        playOrPause(m_engine);
        break;
    case Qt::Key_Escape:
        if (!m_dragged) {
            QWidget::keyPressEvent(event);
            return;
        }
        // The held handle goes back, and letting it go asks nothing.
        asked(*m_dragged) = {};
        m_dragged.reset();
        m_heldSong.reset();
        describe();
        update();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void PieceView::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void PieceView::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}
