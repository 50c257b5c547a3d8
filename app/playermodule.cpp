#include "app/modules.h"
#include "platform/qtplayerengine.h"

extern "C" PlayerEngine *mp3cutterMakePlayer(QObject *parent)
{
    return new QtPlayerEngine(parent);
}
