// Files the tests lay out beforehand: dumps to send, old backups to replace.
#pragma once

#include <QByteArrayView>
#include <QFile>
#include <string>

namespace zuxtest {

// Makes `path` hold exactly `bytes`; false when any step fails, so that a
// test stops there rather than on a misleading result later.
[[nodiscard]] inline bool writeFile(const QString& path, QByteArrayView bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    if (f.write(bytes.data(), bytes.size()) != bytes.size()) return false;
    f.close();
    return f.error() == QFileDevice::NoError;
}

[[nodiscard]] inline bool writeFile(const std::string& path, QByteArrayView bytes) {
    return writeFile(QFile::decodeName(path.c_str()), bytes);
}

}  // namespace zuxtest
