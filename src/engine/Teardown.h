#pragma once

#include <QByteArray>
#include <functional>

namespace tess::Teardown {

// What must not outlive the process when a signal ends it: temporary files, run
// folders and converter children. Entries name a folder by an open descriptor, so
// the clean-up removes exactly what was made, wherever the folder has been moved.
// The descriptor must stay open until the entry is dropped.

// A temporary file made in folder dir. addFile is meant to be called right after the
// file is made; createFileAt makes and registers it in one step, so that no signal
// can come between.
int createFileAt(int dir, const QByteArray& name, int flags, unsigned mode);
void dropFile(int dir, const QByteArray& name);

// A whole folder, open as self and named name in parent: what is in it is removed
// through self, then the folder itself, never through a link.
void addFolder(int parent, const QByteArray& name, int self);
void dropFolder(int self);

// A child process, ended (TERM, then KILL after two seconds) before the exit.
// startChild runs start (which returns the new child's pid, or 0) and registers the
// child in one step, so that no signal can come between.
long long startChild(const std::function<long long()>& start);
void addChild(long long pid);
void dropChild(long long pid);

// From now on SIGINT, SIGTERM and SIGHUP end the process with status 128+signal,
// once every registered file and folder is removed and every child ended. The
// handler only writes to a pipe; a thread of its own does the work. Once per process.
void installSignalHandlers();

// Removes folder name in dir and everything in it, never following a link and never
// leaving it: links inside are removed as links. Returns 0 or an errno.
int removeTree(int dir, const char* name);
// Everything in the open folder fd, the same way; the folder itself stays.
int removeContents(int fd);

// A library the program loads at run time links its own copy of this code. Handing
// that copy the program's registrations (program()) makes every file, folder and child
// it registers known to the program's one signal handler. Set once, before any use.
struct Registrations {
    int (*createFileAt)(int dir, const QByteArray& name, int flags, unsigned mode);
    void (*dropFile)(int dir, const QByteArray& name);
    void (*addFolder)(int parent, const QByteArray& name, int self);
    void (*dropFolder)(int self);
    long long (*startChild)(const std::function<long long()>& start);
    void (*addChild)(long long pid);
    void (*dropChild)(long long pid);
};
const Registrations& program();
void registerWith(const Registrations& program);

} // namespace tess::Teardown
