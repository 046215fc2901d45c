// Code-page numbers to character sets, and the decoding of texts into
// UTF-8. The character sets come from the C library's iconv; single-byte
// pages are read once into a table so that decoding a cell is a lookup per
// byte. A few Macintosh pages the C library lacks or gets wrong are built
// in here.
#include "base/codepage.hpp"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/le.hpp"

namespace sheetdump {

namespace {

// How a page's table differs from the table of its iconv character set.
enum class Patch {
  kNone,
  kMacGreek,      // no iconv set: ASCII plus a built-in upper half
  kMacIcelandic,  // Mac Roman with six Icelandic letters
  kMacTurkish,    // Mac Roman with six Turkish letters
};

struct Page {
  uint16_t number;
  const char* iconv_name;
  Patch patch;
};

// Names checked against glibc's iconv. MAC-IS (glibc's Icelandic set)
// swaps the en and em dashes and misplaces letters, so 10079 is Mac Roman
// patched; glibc has no Mac Greek or Mac Turkish set at all.
constexpr Page kPages[] = {
    {367, "ANSI_X3.4-1968", Patch::kNone},
    {437, "CP437", Patch::kNone},
    {850, "CP850", Patch::kNone},
    {874, "CP874", Patch::kNone},
    {932, "CP932", Patch::kNone},
    {936, "CP936", Patch::kNone},
    {949, "CP949", Patch::kNone},
    {950, "CP950", Patch::kNone},
    {1250, "CP1250", Patch::kNone},
    {1251, "CP1251", Patch::kNone},
    {1252, "CP1252", Patch::kNone},
    {1253, "CP1253", Patch::kNone},
    {1254, "CP1254", Patch::kNone},
    {1255, "CP1255", Patch::kNone},
    {1256, "CP1256", Patch::kNone},
    {1257, "CP1257", Patch::kNone},
    {1258, "CP1258", Patch::kNone},
    {10000, "MACINTOSH", Patch::kNone},
    {10006, nullptr, Patch::kMacGreek},
    {10007, "MAC-CYRILLIC", Patch::kNone},
    {10029, "MAC-CENTRALEUROPE", Patch::kNone},
    {10079, "MACINTOSH", Patch::kMacIcelandic},
    {10081, "MACINTOSH", Patch::kMacTurkish},
};

constexpr uint16_t kUtf16LePage = 1200;
constexpr uint16_t kDefaultPage = 1252;

// Mac Greek, bytes 0x80..0xFF (Apple's mapping, with the euro at 0x9C).
constexpr uint16_t kMacGreekHigh[128] = {
    0x00C4, 0x00B9, 0x00B2, 0x00C9, 0x00B3, 0x00D6, 0x00DC, 0x0385,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x0384, 0x00A8, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00A3, 0x2122, 0x00EE, 0x00EF, 0x2022, 0x00BD,  // 90
    0x2030, 0x00F4, 0x00F6, 0x00A6, 0x20AC, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x0393, 0x0394, 0x0398, 0x039B, 0x039E, 0x03A0, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x03A3, 0x03AA, 0x00A7, 0x2260, 0x00B0, 0x00B7,  // A8
    0x0391, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x0392, 0x0395, 0x0396,  // B0
    0x0397, 0x0399, 0x039A, 0x039C, 0x03A6, 0x03AB, 0x03A8, 0x03A9,  // B8
    0x03AC, 0x039D, 0x00AC, 0x039F, 0x03A1, 0x2248, 0x03A4, 0x00AB,  // C0
    0x00BB, 0x2026, 0x00A0, 0x03A5, 0x03A7, 0x0386, 0x0388, 0x0153,  // C8
    0x2013, 0x2015, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x0389,  // D0
    0x038A, 0x038C, 0x038E, 0x03AD, 0x03AE, 0x03AF, 0x03CC, 0x038F,  // D8
    0x03CD, 0x03B1, 0x03B2, 0x03C8, 0x03B4, 0x03B5, 0x03C6, 0x03B3,  // E0
    0x03B7, 0x03B9, 0x03BE, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,  // E8
    0x03C0, 0x03CE, 0x03C1, 0x03C3, 0x03C4, 0x03B8, 0x03C9, 0x03C2,  // F0
    0x03C7, 0x03C5, 0x03B6, 0x03CA, 0x03CB, 0x0390, 0x03B0, 0x00AD,  // F8
};

struct ByteChar {
  uint8_t byte;
  uint32_t cp;
};

// Where Mac Icelandic and Mac Turkish differ from Mac Roman. Mac Turkish
// leaves 0xF5 (Mac Roman's dotless i, moved to 0xDD) without a character.
constexpr ByteChar kMacIcelandicPatch[] = {
    {0xA0, 0x00DD}, {0xDC, 0x00D0}, {0xDD, 0x00F0}, {0xDE, 0x00DE}, {0xDF, 0x00FE}, {0xE0, 0x00FD},
};
constexpr ByteChar kMacTurkishPatch[] = {
    {0xDA, 0x011E},
    {0xDB, 0x011F},
    {0xDC, 0x0130},
    {0xDD, 0x0131},
    {0xDE, 0x015E},
    {0xDF, 0x015F},
    {0xF5, kReplacementCharacter},
};

using IconvHandle = std::unique_ptr<void, TextDecoder::IconvCloser>;

IconvHandle open_to_utf8(const char* from) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == iconv_t(-1)) return nullptr;  // NOLINT(performance-no-int-to-ptr): how iconv_open fails
  return IconvHandle(cd);
}

void reset(iconv_t cd) { iconv(cd, nullptr, nullptr, nullptr, nullptr); }

// iconv's interface takes a non-const input pointer; it never writes
// through it.
char* iconv_input(const uint8_t* p) { return const_cast<char*>(reinterpret_cast<const char*>(p)); }

// The outcome of decoding one byte alone.
enum class Single { kChar, kInvalid, kNeedsMore };

Single decode_one_byte(iconv_t cd, uint8_t byte, std::string& utf8) {
  reset(cd);
  char buf[32];
  char* in = iconv_input(&byte);
  size_t in_left = 1;
  char* outp = buf;
  size_t out_left = sizeof buf;
  size_t r = iconv(cd, &in, &in_left, &outp, &out_left);
  if (r == size_t(-1)) return errno == EINVAL ? Single::kNeedsMore : Single::kInvalid;
  // Some sets hold a character back to combine it with the next one.
  iconv(cd, nullptr, nullptr, &outp, &out_left);
  utf8.assign(buf, size_t(outp - buf));
  // A byte that yields nothing is a shift or a prefix: not single-byte.
  return utf8.empty() ? Single::kNeedsMore : Single::kChar;
}

}  // namespace

void TextDecoder::IconvCloser::operator()(void* cd) const { iconv_close(iconv_t(cd)); }

void append_latin1_as_utf8(std::string& out, std::string_view bytes) {
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const size_t start = i;
    while (i < n && uint8_t(bytes[i]) < 0x80) ++i;
    out.append(bytes.data() + start, i - start);
    if (i == n) break;
    const uint8_t c = uint8_t(bytes[i++]);
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

TextDecoder::TextDecoder(uint16_t codepage) {
  if (codepage == kUtf16LePage) {
    codepage_ = kUtf16LePage;
    charset_ = "UTF-16LE";
    method_ = DecodeMethod::Utf16Le;
    return;
  }
  if (codepage == 32768) codepage = 10000;
  if (codepage == 32769) codepage = kDefaultPage;

  const Page* page = nullptr;
  for (const Page& p : kPages) {
    if (p.number == codepage) page = &p;
  }
  std::string name;
  Patch patch = Patch::kNone;
  if (page != nullptr) {
    if (page->iconv_name != nullptr) name = page->iconv_name;
    patch = page->patch;
  } else {
    name = "CP" + std::to_string(codepage);
  }
  if (!name.empty()) {
    iconv_ = open_to_utf8(name.c_str());
    if (!iconv_ && codepage != kDefaultPage) {
      codepage = kDefaultPage;
      patch = Patch::kNone;
      name = "CP1252";
      iconv_ = open_to_utf8(name.c_str());
    }
  }
  codepage_ = codepage;
  charset_ = name;

  const std::string_view replacement = kReplacementUtf8;
  auto set_entry = [this](uint8_t byte, std::string_view utf8) {
    Entry& e = table_[byte];
    e.size = uint8_t(utf8.size());
    std::memcpy(e.bytes, utf8.data(), utf8.size());
  };
  auto set_code_point = [&](uint8_t byte, uint32_t cp) {
    std::string utf8;
    append_code_point_as_utf8(utf8, cp);
    set_entry(byte, utf8);
  };

  if (patch == Patch::kMacGreek) {
    charset_ = "Mac Greek (built in)";
  } else if (!iconv_) {
    // Without iconv's conversion modules no set opens at all; Latin-1 is
    // the nearest thing to Windows-1252 that needs none.
    charset_ = "ISO-8859-1 (built in)";
  }
  if (!iconv_) {
    for (int b = 0; b < 256; ++b) {
      set_code_point(uint8_t(b), patch == Patch::kMacGreek && b >= 0x80 ? kMacGreekHigh[b - 0x80]
                                                                        : uint32_t(b));
    }
    ascii_compatible_ = true;
    return;
  }

  // Read the set byte by byte; a byte that needs a following byte makes it
  // a multibyte set, decoded by iconv over each text.
  iconv_t cd = iconv_.get();
  std::string utf8;
  bool single_byte = true;
  ascii_compatible_ = true;
  for (int b = 1; b < 256; ++b) {
    const Single s = decode_one_byte(cd, uint8_t(b), utf8);
    if (s == Single::kNeedsMore) {
      single_byte = false;
      if (b < 0x80) ascii_compatible_ = false;
      continue;
    }
    const bool fits = s == Single::kChar && utf8.size() <= sizeof(Entry::bytes) &&
                      is_valid_utf8(utf8) && utf8.find('\0') == std::string::npos;
    set_entry(uint8_t(b), fits ? std::string_view(utf8) : replacement);
    if (b < 0x80 && !(utf8.size() == 1 && uint8_t(utf8[0]) == b)) ascii_compatible_ = false;
  }
  if (!single_byte) {
    method_ = DecodeMethod::Iconv;
    reset(cd);
    return;
  }
  if (patch == Patch::kMacIcelandic) {
    for (const ByteChar& bc : kMacIcelandicPatch) set_code_point(bc.byte, bc.cp);
    charset_ += " with Icelandic letters";
  } else if (patch == Patch::kMacTurkish) {
    for (const ByteChar& bc : kMacTurkishPatch) set_code_point(bc.byte, bc.cp);
    charset_ += " with Turkish letters";
  }
  // The table is all a single-byte page needs.
  iconv_.reset();
}

TextDecoder::~TextDecoder() = default;
TextDecoder::TextDecoder(TextDecoder&&) noexcept = default;
TextDecoder& TextDecoder::operator=(TextDecoder&&) noexcept = default;

void TextDecoder::append_utf8(std::string& out, std::span<const uint8_t> bytes) const {
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  if (method_ == DecodeMethod::Utf16Le) {
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
      const uint32_t u = uint32_t(le16(p[i], p[i + 1]));
      if (u == 0) return;
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
        const uint32_t next = uint32_t(le16(p[i + 2], p[i + 3]));
        if (next >= 0xDC00 && next <= 0xDFFF) {
          append_code_point_as_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
          i += 2;
          continue;
        }
      }
      // A lone surrogate becomes U+FFFD inside the encoder.
      append_code_point_as_utf8(out, u);
    }
    if (i < n) out.append(kReplacementUtf8);  // an odd byte at the end
    return;
  }
  if (n == 0) return;
  if (const void* nul = std::memchr(p, 0, n)) n = size_t(static_cast<const uint8_t*>(nul) - p);
  if (method_ == DecodeMethod::Table) {
    append_by_table(out, p, n);
  } else {
    append_by_iconv(out, p, n);
  }
}

std::string TextDecoder::to_utf8(std::span<const uint8_t> bytes) const {
  std::string out;
  append_utf8(out, bytes);
  return out;
}

void TextDecoder::append_by_table(std::string& out, const uint8_t* p, size_t n) const {
  size_t i = 0;
  while (i < n) {
    if (ascii_compatible_) {
      const size_t start = i;
      while (i < n && p[i] < 0x80) ++i;
      out.append(reinterpret_cast<const char*>(p + start), i - start);
      if (i == n) break;
    }
    const Entry& e = table_[p[i++]];
    out.append(e.bytes, e.size);
  }
}

void TextDecoder::append_by_iconv(std::string& out, const uint8_t* p, size_t n) const {
  size_t i = 0;
  // A run of ASCII before the first other byte cannot be part of a
  // multibyte character, so it is copied as it is.
  if (ascii_compatible_) {
    while (i < n && p[i] < 0x80) ++i;
    out.append(reinterpret_cast<const char*>(p), i);
    if (i == n) return;
  }
  iconv_t cd = iconv_.get();
  reset(cd);
  char buf[512];
  char* in = iconv_input(p + i);
  size_t in_left = n - i;
  // Appends what iconv wrote; false once it wrote a NUL, which ends the text.
  auto take = [&out, &buf](const char* end) {
    const size_t len = size_t(end - buf);
    if (const void* nul = std::memchr(buf, 0, len)) {
      out.append(buf, size_t(static_cast<const char*>(nul) - buf));
      return false;
    }
    out.append(buf, len);
    return true;
  };
  while (in_left > 0) {
    char* outp = buf;
    size_t out_left = sizeof buf;
    const size_t r = iconv(cd, &in, &in_left, &outp, &out_left);
    const int err = errno;
    if (!take(outp)) return;
    if (r != size_t(-1)) break;
    if (err == E2BIG && outp != buf) continue;
    // An invalid or incomplete sequence: one U+FFFD for its first byte,
    // then go on with the next byte. Each turn consumes input, so this ends.
    out.append(kReplacementUtf8);
    ++in;
    --in_left;
    reset(cd);
  }
  char* outp = buf;
  size_t out_left = sizeof buf;
  iconv(cd, nullptr, nullptr, &outp, &out_left);
  take(outp);
}

}  // namespace sheetdump
