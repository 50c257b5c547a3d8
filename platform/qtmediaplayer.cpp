#include "platform/qtmediaplayer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QColor displayBackground(0x1f, 0x24, 0x2b);
const QColor displayText(0xee, 0xf1, 0xf4);
const QColor playingColour(0x8b, 0xd1, 0x7c);
const QColor pausedColour(0xf0, 0xc0, 0x5a);
const QColor idleColour(0x9a, 0xa4, 0xaf);
const QColor failedColour(0xf0, 0x7a, 0x6e);

QString minutesSeconds(qint64 ms)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

/// The dark panel above the transport bar, drawn as a rounded screen.
class DisplayPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(displayBackground);
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
    explicit SeekSlider(QWidget *parent)
        : QSlider(Qt::Horizontal, parent)
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
            }
        }
        QSlider::mousePressEvent(event);
    }
};

QToolButton *transportButton(QWidget *parent, QStyle::StandardPixmap icon, const QString &name,
                             const QString &tip)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setIconSize({18, 18});
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace

QtMediaPlayer::QtMediaPlayer(QWidget *parent)
    : MediaPlayer(parent)
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

    auto *displayLayout = new QVBoxLayout(display);
    displayLayout->setContentsMargins(12, 6, 12, 6);
    displayLayout->setSpacing(2);
    displayLayout->addStretch();
    displayLayout->addWidget(m_fileName);
    displayLayout->addWidget(m_state);
    displayLayout->addStretch();

    m_seek = new SeekSlider(this);
    m_seek->setObjectName(QStringLiteral("seek"));
    m_seek->setToolTip(tr("播放位置"));
    m_seek->setSingleStep(1000);
    m_seek->setPageStep(5000);
    m_seek->setRange(0, 0);

    m_play = transportButton(this, QStyle::SP_MediaPlay, QStringLiteral("play"), tr("播放"));
    m_pause = transportButton(this, QStyle::SP_MediaPause, QStringLiteral("pause"), tr("暂停"));
    m_stop = transportButton(this, QStyle::SP_MediaStop, QStringLiteral("stop"), tr("停止"));

    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("time"));
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for long songs from the start, so the bar does not shift while playing.
    m_time->setMinimumWidth(m_time->fontMetrics().horizontalAdvance(QStringLiteral("00:00 / 00:00")));

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(m_play);
    buttons->addWidget(m_pause);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    buttons->addWidget(m_time);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->setSpacing(4);
    layout->addWidget(display, 1);
    layout->addWidget(m_seek);
    layout->addLayout(buttons);

    connect(m_seek, &QSlider::valueChanged, this, &QtMediaPlayer::seekTo);
    connect(m_play, &QToolButton::clicked, this, &QtMediaPlayer::play);
    connect(m_pause, &QToolButton::clicked, this, &QtMediaPlayer::pause);
    connect(m_stop, &QToolButton::clicked, this, &QtMediaPlayer::stop);

    showState();
    showTime();
}

void QtMediaPlayer::makeEngine()
{
    // Made when the first file arrives rather than with the window: starting Qt Multimedia
    // costs tens of milliseconds that would otherwise delay the window's first showing.
    if (m_player)
        return;
    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_audio->setVolume(0.5f);
    m_audio->setMuted(false);
    m_player->setAudioOutput(m_audio);
    m_player->setPlaybackRate(1.0);
    m_player->setLoops(QMediaPlayer::Once);

    // Positions come from the player only while it plays, so nothing here ticks when idle.
    connect(m_player, &QMediaPlayer::positionChanged, this, &QtMediaPlayer::showPosition);
    connect(m_player, &QMediaPlayer::durationChanged, this, &QtMediaPlayer::showDuration);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &QtMediaPlayer::showState);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &QtMediaPlayer::mediaStatusChanged);
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
        if (error != QMediaPlayer::NoError && !m_url.isEmpty())
            m_failed = true;
        showState();
    });

    // QAudioOutput stays on the device it was given; follow the system's choice instead,
    // so plugging in headphones while the program runs just works.
    auto *devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioOutputsChanged, this,
            [this] { m_audio->setDevice(QMediaDevices::defaultAudioOutput()); });
}

void QtMediaPlayer::play()
{
    if (!m_player)
        return;
    // A file still opening plays once it is prepared, never before.
    if (m_opening) {
        m_playWhenLoaded = true;
        showState();
    } else {
        m_player->play();
    }
}

void QtMediaPlayer::setUrl(const QString &path)
{
    m_url = path;
    m_failed = false;
    if (!path.isEmpty())
        makeEngine();
    if (!m_player) {
        showState();
        return;
    }
    m_player->stop();
    // Clearing first makes a repeated path load afresh (QMediaPlayer ignores a source equal
    // to the current one), and an empty path closes the file so it can be renamed or deleted.
    m_player->setSource(QUrl());
    {
        const QSignalBlocker blocker(m_seek);
        m_seek->setRange(0, 0);
    }
    m_opening = !path.isEmpty();
    m_playWhenLoaded = !path.isEmpty();
    if (!path.isEmpty())
        m_player->setSource(QUrl::fromLocalFile(path));
    showState();
    showTime();
}

void QtMediaPlayer::mediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (status == QMediaPlayer::InvalidMedia) {
        m_failed = true;
        m_opening = false;
        m_playWhenLoaded = false;
    } else if (status == QMediaPlayer::LoadedMedia && m_opening) {
        // The back end reports the file as seekable only after this signal, and seeks are
        // refused until then.
        QMetaObject::invokeMethod(this, &QtMediaPlayer::prepareOpenedFile, Qt::QueuedConnection);
    }
    showState();
}

void QtMediaPlayer::prepareOpenedFile()
{
    // Another file may have been set since.
    if (!m_opening || m_player->mediaStatus() != QMediaPlayer::LoadedMedia)
        return;
    m_opening = false;
    // Qt's GStreamer player seeks to 0 while the file still opens, with the length not yet
    // known, and that seek can end the stream at 0: playing would then stop at once. A seek
    // now, with the length known, ends the stream where the file ends. It has to move the
    // position to count, hence 1 ms rather than 0.
    m_player->setPosition(1);
    // Playing starts only now, too: asked to play while the file still opens, GStreamer now
    // and then links the audio branch late and drops back to PAUSED while the player goes on
    // saying it plays.
    if (m_playWhenLoaded) {
        m_playWhenLoaded = false;
        m_player->play();
    }
}

std::optional<double> QtMediaPlayer::duration() const
{
    if (m_url.isEmpty() || m_failed || !m_player)
        return std::nullopt;
    switch (m_player->mediaStatus()) {
    case QMediaPlayer::NoMedia:
    case QMediaPlayer::LoadingMedia:
    case QMediaPlayer::InvalidMedia:
        return std::nullopt;
    default:
        break;
    }
    const qint64 ms = m_player->duration();
    if (ms <= 0)
        return std::nullopt;
    return ms / 1000.0;
}

std::optional<double> QtMediaPlayer::currentPosition() const
{
    if (m_url.isEmpty() || !m_player)
        return std::nullopt;
    return m_player->position() / 1000.0;
}

void QtMediaPlayer::pause()
{
    m_playWhenLoaded = false;
    if (m_player && !m_url.isEmpty() && !m_failed)
        m_player->pause();
}

void QtMediaPlayer::stop()
{
    m_playWhenLoaded = false;
    if (m_player)
        m_player->stop();
}

void QtMediaPlayer::showPosition(qint64 ms)
{
    // While the user holds the handle it stays where they put it.
    if (!m_seek->isSliderDown()) {
        const QSignalBlocker blocker(m_seek);
        m_seek->setValue(int(ms));
    }
    showTime();
}

void QtMediaPlayer::showDuration(qint64 ms)
{
    {
        const QSignalBlocker blocker(m_seek);
        m_seek->setRange(0, int(qMax<qint64>(0, ms)));
        m_seek->setValue(int(m_player->position()));
    }
    showState();
    showTime();
}

void QtMediaPlayer::seekTo(int ms)
{
    if (m_player)
        m_player->setPosition(ms);
    showTime();
}

void QtMediaPlayer::showState()
{
    const bool usable = !m_url.isEmpty() && !m_failed;
    const QMediaPlayer::PlaybackState state = m_player ? m_player->playbackState() : QMediaPlayer::StoppedState;

    QString text;
    QColor colour = idleColour;
    if (m_url.isEmpty()) {
        text = tr("未加载文件");
    } else if (m_failed) {
        text = tr("无法播放此文件");
        colour = failedColour;
    } else if (state == QMediaPlayer::PlayingState || m_playWhenLoaded) {
        text = tr("正在播放");
        colour = playingColour;
    } else if (state == QMediaPlayer::PausedState) {
        text = tr("已暂停");
        colour = pausedColour;
    } else {
        text = tr("已停止");
    }
    m_state->setText(text);
    setTextColour(m_state, colour);

    m_fileName->setText(m_url.isEmpty() ? QString() : QFileInfo(m_url).fileName());
    m_fileName->setToolTip(QDir::toNativeSeparators(m_url));
    // Without a file the state line stands alone, in the middle of the display.
    m_fileName->setVisible(!m_url.isEmpty());

    const bool playing = state == QMediaPlayer::PlayingState || m_playWhenLoaded;
    m_play->setEnabled(usable && !playing);
    m_pause->setEnabled(usable && playing);
    m_stop->setEnabled(usable && (playing || state == QMediaPlayer::PausedState));
    m_seek->setEnabled(usable && m_seek->maximum() > 0);
}

void QtMediaPlayer::showTime()
{
    const qint64 now = m_seek->isSliderDown() || !m_player ? m_seek->value() : m_player->position();
    const qint64 length = m_url.isEmpty() || !m_player ? 0 : m_player->duration();
    m_time->setText(minutesSeconds(m_url.isEmpty() ? 0 : now) + QStringLiteral(" / ") + minutesSeconds(length));
}
