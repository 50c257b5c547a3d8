#include "app/desktopapp.h"

#include "gui/frmtexts.h"
#include "platform/mpg123decoder.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

DesktopApp::DesktopApp(const QStringList &arguments, const LazyPlayerEngine::Make &makePlayer,
                       const QString &playerName)
    : m_songPlayer(sayingWhenMissing(makePlayer, playerName))
    , m_piecePlayer(sayingWhenMissing(makePlayer, playerName))
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

LazyPlayerEngine::Make DesktopApp::sayingWhenMissing(const LazyPlayerEngine::Make &makePlayer, const QString &playerName)
{
    return [this, makePlayer, playerName](QObject *parent) {
        PlayerEngine *player = makePlayer(parent);
        if (!player && !m_saidPlayerMissing) {
            m_saidPlayerMissing = true;
            // Said once the session's load is through, not from inside it.
            QTimer::singleShot(0, &m_window, [this, playerName] {
                m_prompts.tell(FrmText::playerMissing.arg(playerName), Prompts::Icon::Error, FrmText::title);
            });
        }
        return player;
    };
}
