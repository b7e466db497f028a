#include "music/song_file_name.h"

#include "codepage/codepage.h"
#include "support/server/test_certs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zorvik {
namespace {

namespace fs = std::filesystem;

std::string repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += s;
    }
    return out;
}

// Title and author as the list shows them (UTF-8 here), and the file name they give.
struct NameCase {
    std::string title;
    std::string author;
    std::string expected;
};

TEST(SongFileName, BuildsASafeNameFromTitleAndAuthor) {
    const std::string long_cjk = repeat("你", 300);
    const std::string long_emoji = repeat("😀", 100);
    const NameCase cases[] = {
        {"T", "A", "/T-A.mp3"},
        {"你好", "歌手", "/你好-歌手.mp3"},
        {"", "", "/-.mp3"},
        {"../../etc/x", "A", "/____etc_x-A.mp3"},
        {"a/b\\c", "d", "/a_b_c-d.mp3"},
        {"..", "..", "/_-_.mp3"},
        {".hidden", "A", "/_hidden-A.mp3"},
        {"Wait...", "A", "/Wait_.-A.mp3"},
        {"T", "A.", "/T-A_.mp3"},
        {"a\tb\nc\x7f", "d\x1b", "/a_b_c_-d_.mp3"},
        {"C1\xc2\x85", "x", "/C1_-x.mp3"},
        // 251 bytes are left for the stem: 83 three-byte characters, 62 four-byte ones.
        {long_cjk, "A", "/" + repeat("你", 83) + ".mp3"},
        {long_emoji, "A", "/" + repeat("😀", 62) + ".mp3"},
        {repeat("a", 250), "b.", "/" + repeat("a", 250) + "-.mp3"},
        {repeat("a", 249), "..", "/" + repeat("a", 249) + "-_.mp3"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.title + " / " + c.author);
        const Text name = song_file_name(utf8_to_ansi(c.title), utf8_to_ansi(c.author));
        EXPECT_EQ(ansi_to_utf8(name), c.expected);
    }
}

// Whatever the title, the file is created inside the chosen folder and nowhere else.
TEST(SongFileName, TheFileAlwaysLandsInTheFolder) {
    test::TempDir folder;
    ASSERT_TRUE(folder.ok());
    fs::create_directories(folder.path() / "inner");
    const QString inner = QString::fromStdString((folder.path() / "inner").string());
    const std::string hostile[][2] = {
        {"../escape", "A"},       {"..", "/.."}, {"/", "/"},     {"\\..\\x", "y"}, {"T", "../../z"},
        {repeat("長", 400), "A"}, {".", "."},    {"a\nb", "\r"},
    };
    for (const auto& [title, author] : hostile) {
        SCOPED_TRACE(title + " / " + author);
        const QString place =
            default_save_place(song_file_name(utf8_to_ansi(title), utf8_to_ansi(author)), inner);
        QFile file(place);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << place.toStdString();
        file.close();
        EXPECT_EQ(QFileInfo(place).canonicalPath(), QFileInfo(inner).canonicalFilePath());
        EXPECT_TRUE(file.remove());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(SaveFolder, TakesTheFirstWritableFolder) {
    test::TempDir a;
    test::TempDir b;
    ASSERT_TRUE(a.ok() && b.ok());
    const QString first = QString::fromStdString(a.path().string());
    const QString second = QString::fromStdString(b.path().string());
    const QString missing = first + QStringLiteral("/missing");
    const QString a_file = first + QStringLiteral("/a-file");
    std::ofstream(a.path() / "a-file") << "x";
    struct Case {
        QStringList candidates;
        QString expected;
    };
    const Case cases[] = {
        {{first, second}, first},
        {{missing, second}, second},
        {{a_file, second}, second},
        {{QString(), second}, second},
        {{first + QStringLiteral("/"), second}, first},
        {{QStringLiteral("/")}, QString()},
        // Nothing usable: the last candidate, so the user still sees where it would go.
        {{missing, a_file}, a_file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.candidates.join(QStringLiteral(" | ")).toStdString());
        EXPECT_EQ(first_writable_folder(c.candidates), c.expected);
    }
}

TEST(SaveFolder, DefaultPlaceIsTheRunDirectoryAndTheSongName) {
    // Tests run from the build tree, which is writable.
    const Text name = song_file_name(utf8_to_ansi("T"), utf8_to_ansi("A"));
    EXPECT_EQ(default_save_place(name), QCoreApplication::applicationDirPath() + "/T-A.mp3");
    EXPECT_EQ(default_save_place(name, QStringLiteral("/music/")),
              QStringLiteral("/music/T-A.mp3"));
    EXPECT_EQ(default_save_place(name, QString()), QStringLiteral("/T-A.mp3"));
}

} // namespace
} // namespace zorvik
