#include "saved_file.h"

#include "driver_binding.h"

#include <QSaveFile>

#include <string>

namespace krv::console {

namespace {

// A failure always comes back as a non-empty reason.
QString ReasonOf(const QSaveFile &file) {
    const QString reason = file.errorString();
    return reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
}

} // namespace

QByteArray AnsiLinesBytes(const QStringList &lines) {
    QByteArray bytes;
    for (const QString &line : lines) {
        const std::string ansi = ToDriverText(line);
        bytes.append(ansi.data(), static_cast<qsizetype>(ansi.size()));
        bytes.append("\r\n");
    }
    return bytes;
}

QString SaveFileBytes(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return ReasonOf(file);
    if (file.write(bytes) != bytes.size()) {
        const QString reason = ReasonOf(file);
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return ReasonOf(file);
    return {};
}

} // namespace krv::console
