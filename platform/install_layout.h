#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Where the pieces of an installed program lie relative to its executable. The build bakes in the
// relative path from the executable's folder to the program's private library folder (for
// /usr/bin/rorumo: /usr/lib/x86_64-linux-gnu/rorumo), so the layout holds for any prefix.

// The maker's library's file name on this platform.
QString makerLibraryFileName();

// The private library folder that belongs to an executable in this folder.
QString privateLibraryFolder(const QString &executableFolder);

// The folders to look for the maker's library in, in order: beside the executable, then the
// private library folder. Never the working folder.
QStringList makerLibraryFolders(const QString &executableFolder);

// The argument that makes the program its own picture worker, so that a program copied alone
// shows its pictures all the same.
inline constexpr char kPictureWorkerArgument[] = "--picture-worker";

// The picture worker executable that belongs to an executable in this folder: beside it, then
// in the private library folder, as the maker's library; empty when there is none.
QString findPictureWorker(const QString &executableFolder);

// Whether the executable in this folder was installed: the maker's library lies in the private
// library folder and not beside the executable (as it does in the build folder or a copied
// folder). An installed program keeps its settings in the user's configuration folder.
bool isInstalledProgram(const QString &executableFolder);

} // namespace platform
