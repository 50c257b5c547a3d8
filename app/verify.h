#pragma once

#include "engine/songmap.h"

#include <filesystem>

/// Checks the piece just cut to \a piece from \a song (mapped by \a map) between \a startSeconds
/// and \a endSeconds, and says in one line on standard error what a decoder hears: the song's
/// samples from mark to mark, how far a Layer I or II piece's ends lie from the marks, or where
/// the piece is not the song. The exit status: 1 where it is not, or could not be checked; the
/// piece stays either way, and the line says where.
int verifyPiece(const std::filesystem::path &song, const SongMap &map, double startSeconds, double endSeconds,
                const std::filesystem::path &piece);
