#include "cipher/base64.h"

#include "platform/event_pump.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define ZORVIK_BASE64_X86 1
#include <immintrin.h>
#endif

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zorvik {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotInAlphabet = 0xFF;

// Work is done in chunks of this many groups: a chunk's output stays in the first-level cache
// before it is appended (so each byte of a large result is written once), and the decoder
// pumps window events between chunks, far more often than the 20 ms the window needs.
constexpr std::size_t kChunkGroups = 4096;
// Vector stores may write this many bytes past the last group they decode.
constexpr std::size_t kStoreSlack = 32;

constexpr std::array<std::uint8_t, 256> make_index_table() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) {
        v = kNotInAlphabet;
    }
    for (int i = 0; i < 64; ++i) {
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return t;
}
constexpr auto kIndex = make_index_table();

// Two output characters for every 12-bit value: one lookup per half of a 3-byte group.
constexpr std::array<std::uint16_t, 4096> make_pair_table() {
    std::array<std::uint16_t, 4096> t{};
    for (int v = 0; v < 4096; ++v) {
        const auto hi = static_cast<std::uint8_t>(kAlphabet[v >> 6]);
        const auto lo = static_cast<std::uint8_t>(kAlphabet[v & 63]);
        // Stored so that copying the two bytes out puts the first character first.
        t[v] = std::endian::native == std::endian::little
                   ? static_cast<std::uint16_t>(hi | (lo << 8))
                   : static_cast<std::uint16_t>((hi << 8) | lo);
    }
    return t;
}
constexpr auto kPairs = make_pair_table();

// The value of one character already shifted into its place of the 24-bit group; a character
// outside the alphabet sets bits above the group, so one test covers all four.
constexpr std::uint32_t kInvalidBits = 0xFF000000u;
constexpr std::array<std::uint32_t, 256> make_shifted_table(int shift) {
    std::array<std::uint32_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const std::uint8_t idx = kIndex[c];
        t[c] = idx == kNotInAlphabet ? kInvalidBits : (std::uint32_t{idx} << shift);
    }
    return t;
}
constexpr auto kShift18 = make_shifted_table(18);
constexpr auto kShift12 = make_shifted_table(12);
constexpr auto kShift6 = make_shifted_table(6);
constexpr auto kShift0 = make_shifted_table(0);

// Kernels. An encode kernel turns whole 3-byte groups into 4 characters; a decode kernel turns
// groups of 4 alphabet characters into 3 bytes and stops before the first group holding
// anything else. Each returns how many groups it did; the vector ones leave the last few
// groups to the scalar one, so they never read past the input.

std::size_t encode_groups_scalar(const unsigned char* in, std::size_t groups, char* out) {
    for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
        const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        std::memcpy(out, &kPairs[v >> 12], 2);
        std::memcpy(out + 2, &kPairs[v & 0xFFF], 2);
    }
    return groups;
}

std::size_t decode_groups_scalar(const unsigned char* in, std::size_t groups, unsigned char* out) {
    std::size_t g = 0;
    for (; g < groups; ++g, in += 4, out += 3) {
        const std::uint32_t v = kShift18[in[0]] | kShift12[in[1]] | kShift6[in[2]] | kShift0[in[3]];
        if (v & kInvalidBits) {
            break;
        }
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    return g;
}

#ifdef ZORVIK_BASE64_X86

// The vector kernels follow the well-known pshufb method (Muła and Lemire). Encoding: each
// 3-byte group is spread over 32 bits as b a c b, two multiplies cut out its four 6-bit
// indices, and an index becomes a character by adding the offset of its range (A-Z, a-z, 0-9,
// '+', '/'), found with one table shuffle.
#define ZORVIK_ENCODE_SPREAD 1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10
#define ZORVIK_ENCODE_OFFSETS                                                                      \
    'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,      \
        '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0
// Decoding: a character is valid when the classes of its low and high nibble share no bit;
// its value is the character plus an offset chosen by its high nibble ('/' shares its nibble
// with '+' and is moved one entry down).
#define ZORVIK_DECODE_LOW_CLASSES                                                                  \
    0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A
#define ZORVIK_DECODE_HIGH_CLASSES                                                                 \
    0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10
#define ZORVIK_DECODE_OFFSETS 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0
#define ZORVIK_DECODE_PACK 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1

__attribute__((target("ssse3"))) std::size_t encode_groups_ssse3(const unsigned char* in,
                                                                 std::size_t groups, char* out) {
    const __m128i spread = _mm_setr_epi8(ZORVIK_ENCODE_SPREAD);
    const __m128i offsets = _mm_setr_epi8(ZORVIK_ENCODE_OFFSETS);
    std::size_t g = 0;
    // 16 bytes are read for every 4 groups (12 bytes): keep two groups in reserve.
    for (; g + 6 <= groups; g += 4, in += 12, out += 16) {
        const __m128i s =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), spread);
        const __m128i t0 = _mm_mulhi_epu16(_mm_and_si128(s, _mm_set1_epi32(0x0FC0FC00)),
                                           _mm_set1_epi32(0x04000040));
        const __m128i t1 = _mm_mullo_epi16(_mm_and_si128(s, _mm_set1_epi32(0x003F03F0)),
                                           _mm_set1_epi32(0x01000010));
        const __m128i indices = _mm_or_si128(t0, t1);
        __m128i range = _mm_subs_epu8(indices, _mm_set1_epi8(51));
        const __m128i below_26 = _mm_cmpgt_epi8(_mm_set1_epi8(26), indices);
        range = _mm_or_si128(range, _mm_and_si128(below_26, _mm_set1_epi8(13)));
        const __m128i chars = _mm_add_epi8(_mm_shuffle_epi8(offsets, range), indices);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chars);
    }
    return g;
}

__attribute__((target("avx2"))) std::size_t encode_groups_avx2(const unsigned char* in,
                                                               std::size_t groups, char* out) {
    const __m256i spread = _mm256_broadcastsi128_si256(_mm_setr_epi8(ZORVIK_ENCODE_SPREAD));
    const __m256i offsets = _mm256_broadcastsi128_si256(_mm_setr_epi8(ZORVIK_ENCODE_OFFSETS));
    std::size_t g = 0;
    // Two lanes of 4 groups; 28 bytes are read for every 8 groups (24 bytes).
    for (; g + 10 <= groups; g += 8, in += 24, out += 32) {
        const __m256i raw = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
        const __m256i s = _mm256_shuffle_epi8(raw, spread);
        const __m256i t0 = _mm256_mulhi_epu16(_mm256_and_si256(s, _mm256_set1_epi32(0x0FC0FC00)),
                                              _mm256_set1_epi32(0x04000040));
        const __m256i t1 = _mm256_mullo_epi16(_mm256_and_si256(s, _mm256_set1_epi32(0x003F03F0)),
                                              _mm256_set1_epi32(0x01000010));
        const __m256i indices = _mm256_or_si256(t0, t1);
        __m256i range = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
        const __m256i below_26 = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
        range = _mm256_or_si256(range, _mm256_and_si256(below_26, _mm256_set1_epi8(13)));
        const __m256i chars = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), indices);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
    }
    return g;
}

// Output: 12 bytes per 16 characters, stored as 16 (kStoreSlack covers the extra 4).
__attribute__((target("ssse3"))) std::size_t
decode_groups_ssse3(const unsigned char* in, std::size_t groups, unsigned char* out) {
    const __m128i low_classes = _mm_setr_epi8(ZORVIK_DECODE_LOW_CLASSES);
    const __m128i high_classes = _mm_setr_epi8(ZORVIK_DECODE_HIGH_CLASSES);
    const __m128i offsets = _mm_setr_epi8(ZORVIK_DECODE_OFFSETS);
    const __m128i pack = _mm_setr_epi8(ZORVIK_DECODE_PACK);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    std::size_t g = 0;
    for (; g + 4 <= groups; g += 4, in += 16, out += 12) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i high = _mm_and_si128(_mm_srli_epi32(s, 4), nibble);
        const __m128i clash = _mm_and_si128(_mm_shuffle_epi8(low_classes, _mm_and_si128(s, nibble)),
                                            _mm_shuffle_epi8(high_classes, high));
        if (_mm_movemask_epi8(_mm_cmpgt_epi8(clash, _mm_setzero_si128())) != 0) {
            break;
        }
        const __m128i is_slash = _mm_cmpeq_epi8(s, _mm_set1_epi8('/'));
        const __m128i values =
            _mm_add_epi8(s, _mm_shuffle_epi8(offsets, _mm_add_epi8(is_slash, high)));
        const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
        const __m128i groups24 = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(groups24, pack));
    }
    return g;
}

// Output: 24 bytes per 32 characters, stored as 32 (kStoreSlack covers the extra 8).
__attribute__((target("avx2"))) std::size_t
decode_groups_avx2(const unsigned char* in, std::size_t groups, unsigned char* out) {
    const __m256i low_classes =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(ZORVIK_DECODE_LOW_CLASSES));
    const __m256i high_classes =
        _mm256_broadcastsi128_si256(_mm_setr_epi8(ZORVIK_DECODE_HIGH_CLASSES));
    const __m256i offsets = _mm256_broadcastsi128_si256(_mm_setr_epi8(ZORVIK_DECODE_OFFSETS));
    const __m256i pack = _mm256_broadcastsi128_si256(_mm_setr_epi8(ZORVIK_DECODE_PACK));
    const __m256i compact = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::size_t g = 0;
    for (; g + 8 <= groups; g += 8, in += 32, out += 24) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(s, 4), nibble);
        const __m256i low_class = _mm256_shuffle_epi8(low_classes, _mm256_and_si256(s, nibble));
        if (!_mm256_testz_si256(low_class, _mm256_shuffle_epi8(high_classes, high))) {
            break;
        }
        const __m256i is_slash = _mm256_cmpeq_epi8(s, _mm256_set1_epi8('/'));
        const __m256i values =
            _mm256_add_epi8(s, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(is_slash, high)));
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i groups24 = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(groups24, pack), compact);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    }
    return g;
}

#endif // ZORVIK_BASE64_X86

using EncodeKernel = std::size_t (*)(const unsigned char*, std::size_t, char*);
using DecodeKernel = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*);

struct Kernels final {
    EncodeKernel encode;
    DecodeKernel decode;
};

constexpr Kernels kScalarKernels{encode_groups_scalar, decode_groups_scalar};
#ifdef ZORVIK_BASE64_X86
constexpr Kernels kSsse3Kernels{encode_groups_ssse3, decode_groups_ssse3};
constexpr Kernels kAvx2Kernels{encode_groups_avx2, decode_groups_avx2};
#endif

const Kernels* kernels_for(detail::Base64Kernels level) {
#ifdef ZORVIK_BASE64_X86
    __builtin_cpu_init();
    switch (level) {
    case detail::Base64Kernels::best:
        if (__builtin_cpu_supports("avx2")) {
            return &kAvx2Kernels;
        }
        if (__builtin_cpu_supports("ssse3")) {
            return &kSsse3Kernels;
        }
        return &kScalarKernels;
    case detail::Base64Kernels::avx2:
        return __builtin_cpu_supports("avx2") ? &kAvx2Kernels : nullptr;
    case detail::Base64Kernels::ssse3:
        return __builtin_cpu_supports("ssse3") ? &kSsse3Kernels : nullptr;
    case detail::Base64Kernels::scalar:
        return &kScalarKernels;
    }
    return nullptr;
#else
    return level == detail::Base64Kernels::best || level == detail::Base64Kernels::scalar
               ? &kScalarKernels
               : nullptr;
#endif
}

std::atomic<const Kernels*> chosen_kernels{nullptr};

const Kernels& kernels() {
    const Kernels* k = chosen_kernels.load(std::memory_order_relaxed);
    if (k == nullptr) {
        k = kernels_for(detail::Base64Kernels::best);
        chosen_kernels.store(k, std::memory_order_relaxed);
    }
    return *k;
}

// A large result lands in fresh pages, and taking their faults one 4 KiB page at a time costs
// more than the coding itself; asking the kernel to map the whole range at once roughly halves
// that. Only a hint: where it is not supported, the pages fault in as they are written.
void prepare_output(void* buffer, std::size_t size) {
#if defined(__linux__)
    constexpr std::size_t kWorthIt = std::size_t{1} << 20;
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23; // Linux 5.14
#endif
    if (size < kWorthIt) {
        return;
    }
    const long page_size = sysconf(_SC_PAGESIZE);
    if (page_size <= 0) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(page_size);
    const auto begin = (reinterpret_cast<std::uintptr_t>(buffer) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(page - 1);
    if (end > begin) {
        // Failure (an older kernel) only means the pages fault in one by one.
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
#else
    (void)buffer;
    (void)size;
#endif
}

Text encode(const unsigned char* in, std::size_t n) {
    if (n == 0) {
        return Text();
    }
    const EncodeKernel kernel = kernels().encode;
    Text out;
    out.reserve((n + 2) / 3 * 4);
    prepare_output(out.data(), out.capacity());
    char chunk[kChunkGroups * 4];
    std::size_t whole = n / 3;
    while (whole > 0) {
        const std::size_t groups = std::min(whole, kChunkGroups);
        const std::size_t fast = kernel(in, groups, chunk);
        encode_groups_scalar(in + fast * 3, groups - fast, chunk + fast * 4);
        out.append(chunk, groups * 4);
        in += groups * 3;
        whole -= groups;
    }
    const std::size_t r = n % 3;
    if (r > 0) {
        // The tail is padded with zero bytes, then its last 3 - r characters become "=".
        const std::uint32_t b0 = in[0];
        const std::uint32_t b1 = r == 2 ? in[1] : 0;
        const char tail[4] = {kAlphabet[b0 >> 2], kAlphabet[((b0 & 3) << 4) | (b1 >> 4)],
                              r == 2 ? kAlphabet[(b1 & 15) << 2] : '=', '='};
        out.append(tail, 4);
    }
    return out;
}

// The slots and how the last group read so far ended: 0 when it read all four characters,
// else the slot (1..4) at which a character outside the alphabet ended it.
struct DecodeState final {
    std::uint32_t slots[4] = {0, 0, 0, 0};
    int ended_at = 0;
};

// One group by the rules, whatever it holds.
inline void decode_group(std::string_view t, std::size_t g, DecodeState& state,
                         unsigned char* out) {
    std::uint32_t* slots = state.slots;
    state.ended_at = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t pos = g * 4 + static_cast<std::size_t>(k);
        if (pos >= t.size()) {
            slots[k] = 0; // past the end reads as "A" and does not end the group
            continue;
        }
        const auto c = static_cast<unsigned char>(t[pos]);
        const std::uint8_t idx = kIndex[c];
        if (idx != kNotInAlphabet) {
            slots[k] = idx;
        } else {
            slots[k] = c;
            state.ended_at = k + 1;
            break;
        }
    }
    out[0] = static_cast<unsigned char>((slots[0] * 4) | (slots[1] / 16));
    out[1] = static_cast<unsigned char>((slots[1] * 16) | (slots[2] / 4));
    out[2] = static_cast<unsigned char>((slots[2] * 64) | slots[3]);
}

void trim_final_group(Bytes& out, int ended_at) {
    if (ended_at > 0) {
        const std::size_t drop = static_cast<std::size_t>(5 - ended_at);
        out.resize(out.size() > drop ? out.size() - drop : 0);
    }
}

// Bytes that cleaning may remove: the space, the bytes of the ideographic space, CR.
inline bool cleaning_may_change(std::string_view t, std::size_t g) {
    const std::size_t end = std::min(t.size(), g * 4 + 4);
    for (std::size_t pos = g * 4; pos < end; ++pos) {
        if (t[pos] == ' ' || t[pos] == '\xA1' || t[pos] == '\r') {
            return true;
        }
    }
    return false;
}

// Groups [first, last) into `out` (3 bytes each, plus kStoreSlack of room). Runs of whole
// groups of alphabet characters go through the kernels: such a group overwrites all four
// slots, so nothing carried over from before the run can change its bytes. With
// `stop_if_unclean`, returns false at the first group holding a byte that cleaning may remove:
// only such groups leave the kernels, so a text that passes is its own cleaned form.
bool decode_groups(std::string_view t, std::size_t first, std::size_t last, DecodeState& state,
                   unsigned char* out, bool stop_if_unclean) {
    const auto* in = reinterpret_cast<const unsigned char*>(t.data());
    const DecodeKernel kernel = kernels().decode;
    const std::size_t whole_end = std::min(last, t.size() / 4);
    std::size_t g = first;
    while (g < last) {
        const std::size_t run_start = g;
        if (g < whole_end) {
            g += kernel(in + g * 4, whole_end - g, out + (g - first) * 3);
            g += decode_groups_scalar(in + g * 4, whole_end - g, out + (g - first) * 3);
        }
        if (g > run_start) {
            for (int k = 0; k < 4; ++k) {
                state.slots[k] = kIndex[in[(g - 1) * 4 + static_cast<std::size_t>(k)]];
            }
            state.ended_at = 0;
        }
        if (g < last) {
            if (stop_if_unclean && cleaning_may_change(t, g)) {
                return false;
            }
            decode_group(t, g, state, out + (g - first) * 3);
            ++g;
        }
    }
    return true;
}

// Decodes `t` as the cleaned text; false (with `out` incomplete) when `stop_if_unclean` finds
// that it is not.
bool decode_text(std::string_view t, bool stop_if_unclean, Bytes& out) {
    out.clear();
    if (t.empty()) {
        return true;
    }
    const std::size_t groups = (t.size() + 3) / 4;
    out.reserve(groups * 3);
    prepare_output(out.data(), out.capacity());
    unsigned char chunk[kChunkGroups * 3 + kStoreSlack];
    DecodeState state;
    EventPump pump;
    for (std::size_t first = 0; first < groups; first += kChunkGroups) {
        const std::size_t last = std::min(groups, first + kChunkGroups);
        if (!decode_groups(t, first, last, state, chunk, stop_if_unclean)) {
            return false;
        }
        out.insert(out.end(), chunk, chunk + (last - first) * 3);
        pump.pump_if_due();
    }
    trim_final_group(out, state.ended_at);
    return true;
}

} // namespace

Text base64_encode(const Bytes& bytes) {
    return encode(bytes.data(), bytes.size());
}

Text base64_encode(std::string_view bytes) {
    return encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

Bytes base64_decode(std::string_view text) {
    Bytes out;
    if (!decode_text(text, true, out)) {
        // Spaces (stepping over double-byte characters as units), then CR LF pairs.
        const Text cleaned = replace_all(remove_spaces(text), "\r\n");
        decode_text(cleaned, false, out); // without the check it always runs to the end
    }
    return out;
}

namespace detail {

bool base64_use_kernels(Base64Kernels level) {
    const Kernels* k = kernels_for(level);
    if (k == nullptr) {
        return false;
    }
    chosen_kernels.store(k, std::memory_order_relaxed);
    return true;
}

Bytes base64_decode_reference(std::string_view text) {
    const Text t = replace_all(remove_spaces(text), "\r\n");
    const std::size_t groups = (t.size() + 3) / 4;
    Bytes out;
    DecodeState state;
    for (std::size_t g = 0; g < groups; ++g) {
        unsigned char bytes[3];
        decode_group(t, g, state, bytes);
        out.insert(out.end(), bytes, bytes + 3);
    }
    trim_final_group(out, state.ended_at);
    return out;
}

} // namespace detail

} // namespace zorvik
