#include "platform/text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

namespace tavro {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows folds names with its own upper-case table, one UTF-16 unit at a time and in no
// locale. That table maps a letter only where the pair goes both ways, so it leaves out
// what maps one way alone: dotless i, long s, final sigma, titlecase and the like, which
// towupper would fold into ASCII or Greek capitals. Over the whole BMP this rule on the
// C.UTF-8 tables gives exactly the mapping that CompareStringOrdinal uses; the process's
// own locale (plain "C" by default, which folds nothing beyond ASCII) plays no part.
wchar_t UpperCaseUnit(wchar_t unit) {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    const auto code = static_cast<wint_t>(static_cast<std::uint32_t>(unit) & 0xFFFF);
    if (code < 0x80 || unicode == static_cast<locale_t>(nullptr)) {
        return static_cast<wchar_t>(code >= L'a' && code <= L'z' ? code - 0x20 : code);
    }
    if (code >= 0xD800 && code <= 0xDFFF) return unit;
    const wint_t upper = towupper_l(code, unicode);
    return static_cast<wchar_t>(upper <= 0xFFFF && towlower_l(upper, unicode) == code ? upper : code);
}

void AppendUtf16(std::wstring& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(c));
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        size_t need = 0;
        char32_t c = 0;
        char32_t low = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1, c = lead & 0x1F, low = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2, c = lead & 0x0F, low = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3, c = lead & 0x07, low = 0x10000;
        } else {
            AppendUtf16(out, kReplacement);
            ++i;
            continue;
        }
        // A maximal valid prefix of a sequence becomes one replacement character.
        size_t taken = 1;
        bool valid = true;
        while (taken <= need) {
            if (i + taken >= text.size()) {
                valid = false;
                break;
            }
            const auto next = static_cast<std::uint8_t>(text[i + taken]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            const char32_t partial = (c << 6) | (next & 0x3F);
            // Reject overlong forms, surrogates and values beyond U+10FFFF as early as possible.
            if (taken == 1 && ((lead == 0xE0 && next < 0xA0) || (lead == 0xED && next > 0x9F) ||
                               (lead == 0xF0 && next < 0x90) || (lead == 0xF4 && next > 0x8F))) {
                valid = false;
                break;
            }
            c = partial;
            ++taken;
        }
        if (!valid || c < low) {
            AppendUtf16(out, kReplacement);
            i += taken;
            continue;
        }
        AppendUtf16(out, c);
        i += taken;
    }
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<char32_t>(static_cast<std::uint32_t>(text[i]) & 0xFFFF);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            const auto next = static_cast<char32_t>(static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
    }
    return out;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && UpperCaseUnit(a[i]) != UpperCaseUnit(b[i])) return false;
    }
    return true;
}

}  // namespace tavro
