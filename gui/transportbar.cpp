#include "gui/transportbar.h"

#include "core/numbertext.h"
#include "gui/icons.h"
#include "gui/waveformview.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace {

const QColor displayBackground(0x1f, 0x24, 0x2b);
const QColor displayText(0xee, 0xf1, 0xf4);
const QColor playingColour(0x8b, 0xd1, 0x7c);
const QColor pausedColour(0xf0, 0xc0, 0x5a);
const QColor idleColour(0x9a, 0xa4, 0xaf);
const QColor failedColour(0xf0, 0x7a, 0x6e);

int milliseconds(double seconds)
{
    return int(std::lround(seconds * 1000.0));
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

/// The dark panel above the transport bar, drawn as a rounded screen: the fixed dark one in a
/// light palette, the palette's own field colour in a dark one.
class DisplayPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QColor field = palette().color(QPalette::Base);
        const bool darkPalette = palette().color(QPalette::Window).lightness() < 128;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(darkPalette && field.lightness() < 80 ? field : displayBackground);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
};

/// Keeps the whole file name as its text but draws only what fits, cut in the middle so
/// the extension stays visible; it never widens the window to fit a long name.
class ElidingLabel : public QLabel
{
public:
    explicit ElidingLabel(QWidget *parent)
        : QLabel(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QRect area = contentsRect();
        painter.drawText(area, int(alignment()),
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

/// A click on the groove jumps straight to that spot, and the handle follows the mouse
/// from there: stepping a page at a time is no way to find a place in a song.
class SeekSlider : public QSlider
{
public:
    explicit SeekSlider(QWidget *parent, std::function<void(int)> jumped)
        : QSlider(Qt::Horizontal, parent)
        , m_jumped(std::move(jumped))
    {
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && maximum() > minimum()) {
            QStyleOptionSlider option;
            initStyleOption(&option);
            const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
            const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
            const QPoint at = event->position().toPoint();
            if (!handle.contains(at)) {
                const int x = at.x() - handle.width() / 2 - groove.x();
                const int span = groove.width() - handle.width();
                setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span, option.upsideDown));
                m_jumped(value());
            }
        }
        QSlider::mousePressEvent(event);
    }

private:
    std::function<void(int)> m_jumped;
};

QToolButton *transportButton(QWidget *parent, TransportGlyph glyph, const QString &name, const QString &tip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(transportIcon(glyph));
    button->setIconSize({18, 18});
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

TransportBar::TransportBar(QWidget *parent)
    : QWidget(parent)
{
    auto *display = new DisplayPanel(this);
    m_fileName = new ElidingLabel(display);
    m_fileName->setObjectName(QStringLiteral("fileName"));
    QFont nameFont = m_fileName->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.1);
    m_fileName->setFont(nameFont);
    setTextColour(m_fileName, displayText);
    m_state = new QLabel(display);
    m_state->setObjectName(QStringLiteral("state"));
    m_state->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_waveform = new WaveformView(display);
    m_waveform->setObjectName(QStringLiteral("waveform"));
    m_view = m_waveform;

    auto *heading = new QHBoxLayout;
    heading->setContentsMargins(6, 0, 6, 0);
    heading->addWidget(m_fileName, 1);
    heading->addWidget(m_state);
    m_displayLayout = new QVBoxLayout(display);
    m_displayLayout->setContentsMargins(6, 4, 6, 6);
    m_displayLayout->setSpacing(2);
    m_displayLayout->addLayout(heading);
    m_displayLayout->addWidget(m_waveform, 1);

    m_seek = new SeekSlider(this, [this](int ms) { seekTo(ms); });
    m_seek->setObjectName(QStringLiteral("seek"));
    m_seek->setToolTip(tr("播放位置"));
    m_seek->setSingleStep(1000);
    m_seek->setPageStep(5000);
    m_seek->setRange(0, 0);

    m_play = transportButton(this, TransportGlyph::Play, QStringLiteral("play"), tr("播放"));
    m_pause = transportButton(this, TransportGlyph::Pause, QStringLiteral("pause"), tr("暂停"));
    m_stop = transportButton(this, TransportGlyph::Stop, QStringLiteral("stop"), tr("停止"));

    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("time"));
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for long songs from the start, so the bar does not shift while playing.
    m_time->setMinimumWidth(m_time->fontMetrics().horizontalAdvance(QStringLiteral("00:00.0 / 00:00.0")));

    m_buttons = new QHBoxLayout;
    m_buttons->setSpacing(2);
    m_buttons->addWidget(m_play);
    m_buttons->addWidget(m_pause);
    m_buttons->addWidget(m_stop);
    m_buttons->addStretch();
    m_buttons->addWidget(m_time);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->setSpacing(4);
    layout->addWidget(display, 1);
    layout->addWidget(m_seek);
    layout->addLayout(m_buttons);

    // A drag seeks once, where it is let go: a seek for every step of the handle makes
    // GStreamer stutter and pile up seeks.
    connect(m_seek, &QSlider::sliderPressed, this, [this] { m_dragged = false; });
    connect(m_seek, &QSlider::sliderMoved, this, [this] {
        m_dragged = true;
        showTime();
    });
    connect(m_seek, &QSlider::sliderReleased, this, [this] {
        if (m_dragged)
            seekTo(m_seek->value());
    });
    // Keys and the wheel move the handle without holding it.
    connect(m_seek, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && !m_seek->isSliderDown())
            seekTo(m_seek->sliderPosition());
    });
    connect(m_play, &QToolButton::clicked, this, [this] {
        if (m_engine)
            m_engine->play();
    });
    connect(m_pause, &QToolButton::clicked, this, [this] {
        if (m_engine)
            m_engine->pause();
    });
    connect(m_stop, &QToolButton::clicked, this, [this] {
        if (m_engine)
            m_engine->stop();
    });

    sourceChanged();
}

TransportBar::~TransportBar()
{
    // An engine among the bar's own children goes after the bar has stopped being one.
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
}

void TransportBar::setView(QWidget *view)
{
    delete m_displayLayout->replaceWidget(m_view, view);
    delete m_view;
    m_view = view;
    m_waveform = nullptr;
}

void TransportBar::addControl(QWidget *control)
{
    // Before the stretch that keeps the time at the right.
    m_buttons->insertWidget(m_buttons->count() - 2, control);
}

void TransportBar::setEngine(PlayerEngine *engine)
{
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
    m_engine = engine;
    if (m_waveform)
        m_waveform->setEngine(engine);
    if (m_engine) {
        connect(m_engine, &PlayerEngine::sourceChanged, this, &TransportBar::sourceChanged);
        connect(m_engine, &PlayerEngine::stateChanged, this, &TransportBar::showState);
        connect(m_engine, &PlayerEngine::durationChanged, this, &TransportBar::showDuration);
        connect(m_engine, &PlayerEngine::positionChanged, this, &TransportBar::showPosition);
        connect(m_engine, &QObject::destroyed, this, &TransportBar::sourceChanged);
    }
    sourceChanged();
}

void TransportBar::sourceChanged()
{
    // A new file starts from its beginning, whatever the last one had got to.
    {
        const QSignalBlocker blocker(m_seek);
        m_seek->setSliderDown(false);
        m_seek->setRange(0, 0);
        m_seek->setValue(0);
    }
    const QString path = m_engine ? m_engine->source() : QString();
    m_fileName->setText(path.isEmpty() ? QString() : QFileInfo(path).fileName());
    m_fileName->setToolTip(QDir::toNativeSeparators(path));
    m_fileName->setVisible(!path.isEmpty());
    showDuration();
}

void TransportBar::showDuration()
{
    const std::optional<double> length = m_engine ? m_engine->duration() : std::nullopt;
    const std::optional<double> now = m_engine ? m_engine->position() : std::nullopt;
    {
        const QSignalBlocker blocker(m_seek);
        m_seek->setRange(0, length ? milliseconds(*length) : 0);
        if (!m_seek->isSliderDown())
            m_seek->setValue(now ? milliseconds(*now) : 0);
    }
    showState();
}

void TransportBar::showPosition(double seconds)
{
    // While the user holds the handle it stays where they put it.
    if (!m_seek->isSliderDown()) {
        const QSignalBlocker blocker(m_seek);
        m_seek->setValue(milliseconds(seconds));
    }
    showTime();
}

void TransportBar::seekTo(int ms)
{
    if (!m_engine || !m_engine->duration())
        return;
    m_engine->seek(ms / 1000.0);
    showTime();
}

void TransportBar::showState()
{
    using State = PlayerEngine::State;
    const State state = m_engine ? m_engine->state() : State::NoMedia;

    QString text;
    QColor colour = idleColour;
    switch (state) {
    case State::NoMedia:
        text = tr("未加载文件");
        break;
    case State::Loading:
        text = tr("正在加载");
        break;
    case State::Ready:
        text = tr("已停止");
        break;
    case State::Playing:
        text = tr("正在播放");
        colour = playingColour;
        break;
    case State::Paused:
        text = tr("已暂停");
        colour = pausedColour;
        break;
    case State::Ended:
        text = tr("播放完毕");
        break;
    case State::Failed:
        text = tr("无法播放此文件");
        colour = failedColour;
        break;
    }
    m_state->setText(text);
    setTextColour(m_state, colour);

    m_play->setEnabled(state == State::Ready || state == State::Paused || state == State::Ended);
    m_pause->setEnabled(state == State::Playing);
    m_stop->setEnabled(state == State::Playing || state == State::Paused || state == State::Ended);
    m_seek->setEnabled(m_engine && m_engine->duration() && m_seek->maximum() > 0);
    showTime();
}

void TransportBar::showTime()
{
    const std::optional<double> now = m_engine ? m_engine->position() : std::nullopt;
    const std::optional<double> length = m_engine ? m_engine->duration() : std::nullopt;
    const qint64 shown = m_seek->isSliderDown() ? m_seek->sliderPosition() : (now ? milliseconds(*now) : 0);
    m_time->setText(clockText(shown / 1000.0) + QStringLiteral(" / ") + clockText(length ? milliseconds(*length) / 1000.0 : 0.0));
}
