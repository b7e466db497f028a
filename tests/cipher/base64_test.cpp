#include "cipher/base64.h"

#include "support/test_text.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace zorvik {
namespace {

using test::bytes;

Bytes random_bytes(std::mt19937& rng, std::size_t n) {
    Bytes b(n);
    for (auto& v : b) {
        v = static_cast<unsigned char>(rng());
    }
    return b;
}

TEST(Base64Encode, Cases) {
    struct Case {
        Bytes in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {bytes({'A'}), "QQ=="},
        {bytes({'A', 'B'}), "QUI="},
        {bytes({'A', 'B', 'C'}), "QUJD"},
        {bytes({0x60, 0x61, 0x62}), "YGFi"}, // 'abc' lowered by one
        {bytes({0x60, 0x61}), "YGE="},
        {bytes({0x60}), "YA=="},
        {bytes({0xD5, 0xCF, 0xCD, 0xC3}), "1c/Nww=="}, // 中文 lowered by one
        {bytes({0x00}), "AA=="},
        {bytes({0xFF, 0xFF, 0xFF}), "////"},
        {bytes({0xFB, 0xEF, 0xBE}), "++++"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64_encode(c.in), c.out) << c.out;
        const std::string raw(c.in.begin(), c.in.end());
        EXPECT_EQ(base64_encode(std::string_view(raw)), c.out) << c.out;
    }
}

TEST(Base64Encode, NoLineBreaksAtAnyLength) {
    const Text out = base64_encode(Bytes(3000, 0xAB));
    EXPECT_EQ(out.size(), 4000u);
    EXPECT_EQ(out.find_first_of("\r\n"), std::string::npos);
}

struct DecodeCase {
    const char* name;
    std::string in;
    Bytes out;
};

class Base64DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(Base64DecodeTest, Decodes) {
    const auto& c = GetParam();
    EXPECT_EQ(base64_decode(c.in), c.out);
    EXPECT_EQ(detail::base64_decode_reference(c.in), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Base64DecodeTest,
    testing::Values(DecodeCase{"plain", "QUJD", bytes({'A', 'B', 'C'})},
                    DecodeCase{"inner_space", "QU JD", bytes({'A', 'B', 'C'})},
                    DecodeCase{"crlf_between_groups",
                               "QUJD\r\nRUY=", bytes({'A', 'B', 'C', 'E', 'F'})},
                    DecodeCase{"no_pad_reads_as_A", "YGE", bytes({0x60, 0x61, 0x00})},
                    DecodeCase{"pad_one", "YGE=", bytes({0x60, 0x61})},
                    DecodeCase{"pad_two", "QQ==", bytes({'A'})}, DecodeCase{"lone_pad", "=", {}},
                    DecodeCase{"empty", "", {}}, DecodeCase{"only_spaces", "  \xA1\xA1 ", {}},
                    DecodeCase{"ideographic_space", "QU\xA1\xA1JD", bytes({'A', 'B', 'C'})},
                    DecodeCase{"spaces_then_crlf", "QU\r \nJD", bytes({'A', 'B', 'C'})},
                    DecodeCase{"single_char", "QQ", bytes({'A', 0x00, 0x00})}),
    [](const auto& info) { return std::string(info.param.name); });

// Malformed text: expected bytes worked out by hand from the slot rules.
INSTANTIATE_TEST_SUITE_P(
    Malformed, Base64DecodeTest,
    testing::Values(
        // The tab stops group 1 at slot 3 (c = 9, d = 0); group 2 starts at "D", so "J" is
        // never read.
        DecodeCase{"tab", "QU\tJD", bytes({0x41, 0x42, 0x40, 0x0C, 0x00, 0x00})},
        DecodeCase{"lone_tab", "\t", {}},
        // A lone LF stores 10 in slot 1 and keeps b, c, d of "QUJD"; the final "=" group
        // ends at slot 1 and so drops four bytes, one of them from the group before.
        DecodeCase{"lone_lf", "QUJD\nRUY=", bytes({0x41, 0x42, 0x43, 0x29, 0x42})},
        DecodeCase{"lone_cr", "QUJD\rRUY=", bytes({0x41, 0x42, 0x43, 0x35, 0x42})},
        // LF CR is no pair: group 2 ends at the LF (the CR is never read), group 3 "Y=" ends
        // at slot 2 and drops all three of its bytes.
        DecodeCase{"lf_cr_is_no_pair", "QUJD\n\rRUY=", bytes({0x41, 0x42, 0x43, 0x29, 0x42, 0x43})},
        DecodeCase{"high_byte_in_last_slot", "QUJ\xFF", bytes({0x41, 0x42})},
        // An early end before the last group keeps all three bytes.
        DecodeCase{"early_end_in_middle", "QQ==QUJD", bytes({0x41, 0x0F, 0x40, 0x41, 0x42, 0x43})},
        DecodeCase{"trim_reaches_previous_group", "QUJD=", bytes({0x41, 0x42})},
        DecodeCase{"pads_only", "====", {}},
        DecodeCase{"pads_after_group", "QUJD====", bytes({0x41, 0x42})},
        // B0 A1 is one character and A1 41 the next: no ideographic space to remove.
        DecodeCase{"double_byte_not_a_space", "\xB0\xA1\xA1\x41QUJD",
                   bytes({0xC0, 0x00, 0x00, 0x41, 0x42, 0x43})}),
    [](const auto& info) { return std::string(info.param.name); });

// Bit by bit, the way the encoder is described: the vector kernels must give the same text.
std::string reference_encode(const Bytes& in) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const unsigned b0 = in[i];
        const unsigned b1 = i + 1 < in.size() ? in[i + 1] : 0;
        const unsigned b2 = i + 2 < in.size() ? in[i + 2] : 0;
        out += alphabet[b0 >> 2];
        out += alphabet[((b0 & 3) << 4) + (b1 >> 4)];
        out += i + 1 < in.size() ? alphabet[((b1 & 15) << 2) + (b2 >> 6)] : '=';
        out += i + 2 < in.size() ? alphabet[b2 & 63] : '=';
    }
    return out;
}

// Every kernel the machine has, in turn; the best one is restored afterwards.
class Base64KernelTest : public testing::TestWithParam<detail::Base64Kernels> {
protected:
    void SetUp() override {
        if (!detail::base64_use_kernels(GetParam())) {
            GTEST_SKIP() << "this machine lacks these kernels";
        }
    }
    void TearDown() override { detail::base64_use_kernels(detail::Base64Kernels::best); }
};

TEST_P(Base64KernelTest, EncodesLikeTheReferenceAndRoundTrips) {
    std::mt19937 rng(42);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 200; ++n) {
        lengths.push_back(n);
    }
    for (const std::size_t n : {1000u, 12287u, 12288u, 12289u, 12290u, 1000003u}) {
        lengths.push_back(n); // around the 4096-group chunks
    }
    for (const std::size_t n : lengths) {
        const Bytes original = random_bytes(rng, n);
        const Text encoded = base64_encode(original);
        ASSERT_EQ(encoded, reference_encode(original)) << n;
        ASSERT_EQ(base64_decode(encoded), original) << n;
    }
}

TEST_P(Base64KernelTest, FastPathGivesTheReferenceBytes) {
    std::mt19937 rng(1);
    const std::string good = base64_encode(random_bytes(rng, 30000)); // 40000 characters
    std::vector<std::string> inputs = {
        good,
        good + "=",
        good + "==",
        good.substr(0, good.size() - 1),
        good.substr(0, good.size() - 2),
        good.substr(0, good.size() - 3),
        good.substr(0, 20000) + "\t" + good.substr(20000), // leaves the kernels and returns
        good.substr(0, 20000) + "=" + good.substr(20001),
        good.substr(0, 20001) + "\n" + good.substr(20001),
        good.substr(0, 20002) + "\xD6\xD0" + good.substr(20002),
        good.substr(0, 20000) + "\r\n" + good.substr(20000),
        good.substr(0, 20000) + " " + good.substr(20000),
        good + "\r\n",
        good + " ",
        good + "\xA1\xA1",
        good + "\xB0\xA1", // a double-byte character, not a space
        good + "====",
        "QUJD" + std::string(5, '=') + "QUJD",
        "Q===",
        "QQ=A",
    };
    // Every character outside the alphabet at every place of a 32-character block.
    for (int c = 0; c < 256; ++c) {
        for (std::size_t at = 0; at < 32; at += 5) {
            std::string s = good.substr(0, 64);
            s[32 + at] = static_cast<char>(c);
            inputs.push_back(s);
        }
    }
    // Random texts from an alphabet rich in the characters that end groups early.
    const std::string symbols = "QUJDa+/=\t\r\n \xA1\xFF\x80";
    for (int i = 0; i < 400; ++i) {
        std::string s;
        const std::size_t n = rng() % 64;
        for (std::size_t k = 0; k < n; ++k) {
            s += symbols[rng() % symbols.size()];
        }
        inputs.push_back(s);
    }
    for (const auto& in : inputs) {
        ASSERT_EQ(base64_decode(in), detail::base64_decode_reference(in))
            << testing::PrintToString(in.size() > 80 ? in.substr(0, 80) + "..." : in);
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Base64KernelTest,
                         testing::Values(detail::Base64Kernels::scalar,
                                         detail::Base64Kernels::ssse3, detail::Base64Kernels::avx2),
                         [](const auto& info) {
                             switch (info.param) {
                             case detail::Base64Kernels::scalar:
                                 return std::string("scalar");
                             case detail::Base64Kernels::ssse3:
                                 return std::string("ssse3");
                             case detail::Base64Kernels::avx2:
                                 return std::string("avx2");
                             default:
                                 return std::string("best");
                             }
                         });

// Long decodes let the window paint; a handler that runs meanwhile may decode too.
TEST(Base64Decode, ProcessesEventsDuringLongDecodesAndNests) {
    bool decoding = false;
    bool ran_during_decode = false;
    Bytes nested;
    // Groups that end early take the slow path; the size doubles until a decode outlasts the
    // pump interval, which on any machine happens well before the cap.
    const std::string group = "QUJ\t";
    for (std::size_t size = std::size_t{4} << 20;
         size <= (std::size_t{128} << 20) && !ran_during_decode; size *= 2) {
        std::string text;
        text.reserve(size);
        while (text.size() < size) {
            text += group;
        }
        QTimer::singleShot(0, [&] {
            if (decoding) {
                ran_during_decode = true;
                nested = base64_decode("QUJD");
            }
        });
        decoding = true;
        const Bytes out = base64_decode(text);
        decoding = false;
        QCoreApplication::processEvents(); // drains the timer if the decode did not run it
        ASSERT_EQ(out.size(), size / 4 * 3 - 1);
        EXPECT_EQ(out[0], 0x41);
    }
    EXPECT_TRUE(ran_during_decode);
    EXPECT_EQ(nested, bytes({'A', 'B', 'C'}));
}

} // namespace
} // namespace zorvik
