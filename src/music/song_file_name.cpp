#include "music/song_file_name.h"

#include "codepage/codepage.h"

#include <QChar>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstddef>
#include <string>

#include <linux/limits.h>
#include <unistd.h>

namespace zorvik {
namespace {

constexpr char32_t kReplacement = U'_';
constexpr std::u32string_view kSuffix = U".mp3";

std::size_t utf8_length(char32_t c) {
    if (c < 0x80) {
        return 1;
    }
    if (c < 0x800) {
        return 2;
    }
    return c < 0x10000 ? 3 : 4;
}

std::u32string to_code_points(const QString& s) {
    const QList<uint> units = s.toUcs4();
    return std::u32string(units.begin(), units.end());
}

// One file name, never a path: nothing in it can climb out of or into another folder.
std::u32string make_safe_stem(std::u32string stem) {
    for (char32_t& c : stem) {
        if (c == U'/' || c == U'\\' || QChar::category(c) == QChar::Other_Control) {
            c = kReplacement;
        }
    }
    std::u32string out;
    out.reserve(stem.size());
    for (std::size_t i = 0; i < stem.size(); ++i) {
        if (stem[i] == U'.' && i + 1 < stem.size() && stem[i + 1] == U'.') {
            out += kReplacement;
            ++i;
        } else {
            out += stem[i];
        }
    }
    return out;
}

// A stem that starts with "." would hide the file; one that ends with "." would meet the
// suffix as "..".
void guard_dots(std::u32string& stem) {
    if (!stem.empty() && stem.front() == U'.') {
        stem.front() = kReplacement;
    }
    if (!stem.empty() && stem.back() == U'.') {
        stem.back() = kReplacement;
    }
}

} // namespace

Text song_file_name(const Text& title, const Text& author) {
    std::u32string stem =
        make_safe_stem(to_code_points(to_qstring(title) + QLatin1Char('-') + to_qstring(author)));
    guard_dots(stem);

    std::size_t budget = NAME_MAX - kSuffix.size();
    std::size_t keep = 0;
    while (keep < stem.size() && utf8_length(stem[keep]) <= budget) {
        budget -= utf8_length(stem[keep]);
        ++keep;
    }
    stem.resize(keep);
    guard_dots(stem);

    stem += kSuffix;
    return from_qstring(QLatin1Char('/') +
                        QString::fromUcs4(stem.data(), static_cast<qsizetype>(stem.size())));
}

QString first_writable_folder(const QStringList& candidates) {
    QString chosen;
    for (const QString& candidate : candidates) {
        chosen = candidate;
        const QFileInfo info(candidate);
        if (!candidate.isEmpty() && info.isDir() &&
            ::access(QFile::encodeName(candidate).constData(), W_OK | X_OK) == 0) {
            break;
        }
    }
    while (chosen.endsWith(QLatin1Char('/'))) {
        chosen.chop(1);
    }
    return chosen;
}

QString default_save_folder() {
    return first_writable_folder({
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::MusicLocation),
        QDir::homePath(),
    });
}

QString default_save_place(const Text& file_name, const QString& folder) {
    QString place = folder;
    while (place.endsWith(QLatin1Char('/'))) {
        place.chop(1);
    }
    return place + to_qstring(file_name);
}

} // namespace zorvik
