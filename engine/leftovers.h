#pragma once

#include <filesystem>
#include <string>

#include <signal.h>

/// A file being written that nobody should find once the process is ended by a signal: while an
/// object of this class holds its path, removeLeftovers() removes it. A few such files can be
/// held at once; where more are written, the later ones are left to their writers.
class Leftover
{
public:
    Leftover() = default;
    explicit Leftover(const std::filesystem::path &path) { hold(path); }
    ~Leftover() { release(); }
    Leftover(const Leftover &) = delete;
    Leftover &operator=(const Leftover &) = delete;

    void hold(const std::filesystem::path &path);
    /// The file is no longer this writer's to remove: named, or removed already.
    void release();

private:
    std::string m_path;
    int m_slot = -1;
};

/// Removes every file held by a Leftover. Safe in a signal handler.
void removeLeftovers();

/// Holds back every signal of the calling thread while it lives: a file and the Leftover that
/// holds it then come into being, or go, together.
class SignalsHeldBack
{
public:
    SignalsHeldBack();
    ~SignalsHeldBack();
    SignalsHeldBack(const SignalsHeldBack &) = delete;
    SignalsHeldBack &operator=(const SignalsHeldBack &) = delete;

private:
    sigset_t m_before;
};
