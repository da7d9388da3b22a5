#pragma once
// The program's texts are 8-bit, in the system's code page; the window system speaks QString.
#include <filesystem>
#include <string>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace rovenza {

inline QString FromSystemText(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToSystemText(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

inline QString PathText(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

}  // namespace rovenza
