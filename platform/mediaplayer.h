#pragma once

#include <QString>
#include <QWidget>

#include <optional>

/// A media player with its own transport bar, hosted inside a window.
/// Reads that cannot be answered (no media open yet) come back empty, so callers keep
/// the value they had.
class MediaPlayer : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

    /// Loads the file at \a path and starts playing it, also when it is the path set
    /// last time. The empty text stops playback, unloads the media and releases the file.
    virtual void setUrl(const QString &path) = 0;
    /// The path now assigned; empty when none is.
    virtual QString url() const = 0;
    /// Length of the loaded media in seconds.
    virtual std::optional<double> duration() const = 0;
    /// Playing position in seconds.
    virtual std::optional<double> currentPosition() const = 0;
    /// Stops where it is; the media stays loaded.
    virtual void pause() = 0;
    /// Stops playback; the media stays assigned.
    virtual void stop() = 0;
};
