// Files the console saves from its views: the lines of a view as the user's
// ANSI code page with CR LF ends, and a write that either replaces the file
// whole or leaves what stood there.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace krv::console {

// Each line in Windows-1251, followed by CR LF.
QByteArray AnsiLinesBytes(const QStringList &lines);

// Writes `bytes` to `path` through a temporary file renamed into place.
// Empty on success, else the reason the system gives.
QString SaveFileBytes(const QString &path, const QByteArray &bytes);

} // namespace krv::console
