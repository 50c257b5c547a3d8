#include "app/desktopapp.h"

#include "platform/mpg123decoder.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

DesktopApp::DesktopApp(const QStringList &arguments, const LazyPlayerEngine::Make &makePlayer)
    : m_songPlayer(makePlayer)
    , m_piecePlayer(makePlayer)
    , m_session(m_files, m_prompts, &m_songPlayer, &m_piecePlayer)
    , m_window(m_session, m_processes, &Mpg123Decoder::make)
{
    m_prompts.setWindow(&m_window);
    // A song handed over by the desktop ("Open with") is taken as if chosen in step one, with the
    // window already there to show what becomes of it.
    if (arguments.size() > 1) {
        const QString song = QDir::toNativeSeparators(QFileInfo(arguments.at(1)).absoluteFilePath());
        QTimer::singleShot(0, &m_session, [this, song] { m_session.openSource(song); });
    }
}
