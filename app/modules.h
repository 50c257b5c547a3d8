#pragma once

#include <cstddef>

class PlayerEngine;
class QObject;

/// The parts of the program that need libraries a cut from the command line does without, each a
/// module loaded only when wanted: the window (Qt), the song's tags (TagLib) and, once the window
/// has a song, its player (Qt Multimedia).

/// What a module's symbols are to the modules loaded after it.
enum class ModuleSymbols { Private, Shared };

/// The module \a fileName, by an absolute path from where the program's own file lies, never from
/// the current folder or argv[0]: installed, in the program's library folder; in a build tree,
/// beside the program. Null when it is in neither.
void *loadModule(const char *fileName, ModuleSymbols symbols = ModuleSymbols::Private);
/// The entry point \a entry of the module \a fileName, loaded as loadModule() does; null when
/// either is missing.
void *moduleEntry(const char *fileName, const char *entry, ModuleSymbols symbols = ModuleSymbols::Private);

/// The window's module and its entry point, found by name, never by linking.
#define MP3CUTTER_WINDOW_MODULE "libmp3cutter-window.so"
#define MP3CUTTER_WINDOW_ENTRY "mp3cutterRunWindow"

/// Runs the program with its window until the window closes; the exit status. \a argv holds the
/// program's name and, where one was given, the song to open.
using RunWindow = int (*)(int argc, char *argv[]);
extern "C" __attribute__((visibility("default"))) int mp3cutterRunWindow(int argc, char *argv[]);

/// The player's module and its entry point. The module takes the player's interface from the
/// window's, which is why the window's symbols are shared.
#define MP3CUTTER_PLAYER_MODULE "libmp3cutter-player.so"
#define MP3CUTTER_PLAYER_ENTRY "mp3cutterMakePlayer"

/// A new player that plays through Qt Multimedia, a child of \a parent.
using MakePlayer = PlayerEngine *(*)(QObject *parent);
extern "C" __attribute__((visibility("default"))) PlayerEngine *mp3cutterMakePlayer(QObject *parent);

/// The tags' module and its entry points: TagReader::read and TagReader::renderForPiece of TagLib's
/// reader, with the tag as bytes. What they return is allocated with malloc, for the caller to
/// free; null with a size of 0 for no tag.
#define MP3CUTTER_TAGS_MODULE "libmp3cutter-tags.so"
#define MP3CUTTER_TAGS_READ "mp3cutterReadTags"
#define MP3CUTTER_TAGS_RENDER "mp3cutterRenderTags"

/// The tag of the song at \a song (SongTags::bytes()).
using ReadTags = unsigned char *(*)(const char *song, std::size_t *size);
/// The tag a piece \a lengthMs long carries, from a song's \a tag of \a size bytes.
using RenderTags = unsigned char *(*)(const unsigned char *tag, std::size_t size, long long lengthMs,
                                      std::size_t *renderedSize);
extern "C" __attribute__((visibility("default"))) unsigned char *mp3cutterReadTags(const char *song, std::size_t *size);
extern "C" __attribute__((visibility("default"))) unsigned char *
mp3cutterRenderTags(const unsigned char *tag, std::size_t size, long long lengthMs, std::size_t *renderedSize);

/// Whether the tags module is there to read and render tags: without it, songs read as untagged.
/// It is loaded by the first call.
bool tagsModuleLoads();

class TagReader;
/// The tags, read and rendered by the tags module: the program's one TagReader.
const TagReader &moduleTags();
