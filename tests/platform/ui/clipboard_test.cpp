#include "platform/ui/clipboard.h"

#include "codepage/codepage.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace zorvik {
namespace {

TEST(Clipboard, TextGoesOutAsUnicodeAndComesBackAsText) {
    const struct {
        const char16_t* unicode;
    } cases[] = {{u"plain ascii"}, {u"中文，全角标点"}, {u"beyond GBK: 😀 𠀀"}, {u"line\r\nbreak"}};
    for (const auto& c : cases) {
        const QString unicode = QString::fromUtf16(c.unicode);
        const Text text = from_qstring(unicode);
        ASSERT_TRUE(set_clipboard_text(text));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), unicode);
        EXPECT_EQ(clipboard_text(), text);
    }
}

TEST(Clipboard, EmptyTextReplacesTheContent) {
    ASSERT_TRUE(set_clipboard_text("before"));
    ASSERT_TRUE(set_clipboard_text(""));
    EXPECT_EQ(clipboard_text(), "");
}

TEST(Clipboard, TextPutThereByOthersIsConverted) {
    QGuiApplication::clipboard()->setText(QStringLiteral("一言"));
    EXPECT_EQ(clipboard_text(), from_qstring(QStringLiteral("一言")));
}

} // namespace
} // namespace zorvik
