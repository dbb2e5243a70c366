#include "xml_reader.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

namespace tavro::release {

namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
// Each open element and attribute costs memory; a manifest nests five deep with a few each.
constexpr std::size_t kDeepest = 256, kMostAttributes = 256;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameCharacter(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

class Reader {
public:
    using Callback = std::function<void(const std::vector<XmlElement>&)>;

    Reader(std::string_view text, const Callback& onStart) : text_(text), onStart_(onStart) {}

    void Read() {
        for (std::size_t i = 0; i < text_.size(); ++i) {
            const char c = text_[i];
            if (static_cast<unsigned char>(c) < 0x20 && !IsSpace(c)) {
                at_ = i;
                Fail("a control character");
            }
        }
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
        const std::size_t start = at_;
        while (at_ < text_.size()) {
            if (text_[at_] == '<') {
                ReadMarkup(start);
            } else if (open_.empty()) {
                if (!IsSpace(text_[at_])) Fail("text outside the root element");
                ++at_;
            } else if (text_[at_] == '&') {
                std::string ignored;
                AppendReference(ignored);
            } else {
                ++at_;
            }
        }
        if (!open_.empty()) Fail("<" + openNames_.back() + "> not closed");
        if (!rootSeen_) Fail("no root element");
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw XmlError("not well-formed XML: " + what + " at byte " + std::to_string(at_));
    }

    bool At(std::string_view s) const { return text_.substr(at_, s.size()) == s; }

    bool SkipSpace() {
        const std::size_t from = at_;
        while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
        return at_ != from;
    }

    void Expect(char c) {
        if (at_ >= text_.size() || text_[at_] != c) Fail(std::string("'") + c + "' expected");
        ++at_;
    }

    // Moves past `end`; returns what lay before it.
    std::string_view SkipPast(std::string_view end, const char* what) {
        const std::size_t close = text_.find(end, at_);
        if (close == std::string_view::npos) Fail(std::string(what) + " not closed");
        const std::string_view inside = text_.substr(at_, close - at_);
        at_ = close + end.size();
        return inside;
    }

    std::string_view ReadName() {
        const std::size_t from = at_;
        if (at_ >= text_.size() || !IsNameStart(text_[at_])) Fail("a name expected");
        while (at_ < text_.size() && IsNameCharacter(text_[at_])) ++at_;
        return text_.substr(from, at_ - from);
    }

    // At '&': the referenced character, appended.
    void AppendReference(std::string& out) {
        constexpr std::size_t kLongestReference = 10;  // "&#x10FFFF;"
        const std::size_t close = text_.substr(at_, kLongestReference + 1).find(';');
        if (close == std::string_view::npos) Fail("'&' without a reference");
        const std::string_view name = text_.substr(at_ + 1, close - 1);
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t c = 0;
            for (const char d : digits) {
                std::uint32_t value;
                if (d >= '0' && d <= '9') {
                    value = static_cast<std::uint32_t>(d - '0');
                } else if (hex && ((d >= 'a' && d <= 'f') || (d >= 'A' && d <= 'F'))) {
                    value = static_cast<std::uint32_t>((d | 0x20) - 'a' + 10);
                } else {
                    Fail("a malformed character reference");
                }
                c = c * (hex ? 16 : 10) + value;
            }
            const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                                 (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
            if (digits.empty() || !allowed) Fail("a reference to no XML character");
            AppendUtf8(out, c);
        } else {
            Fail("an unknown entity reference");
        }
        at_ += close + 1;
    }

    std::string ReadValue() {
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) Fail("a quoted value expected");
        const char quote = text_[at_++];
        std::string value;
        while (true) {
            if (at_ >= text_.size()) Fail("a value not closed");
            const char c = text_[at_];
            if (c == quote) break;
            if (c == '<') Fail("'<' in a value");
            if (c == '&') {
                AppendReference(value);
            } else {
                value += IsSpace(c) ? ' ' : c;
                ++at_;
            }
        }
        ++at_;
        return value;
    }

    void ReadMarkup(std::size_t documentStart) {
        if (At("<?")) {
            const std::size_t from = at_;
            at_ += 2;
            const std::string_view target = ReadName();
            if ((target == "xml" && from != documentStart) || target == "XML") Fail("a misplaced XML declaration");
            SkipPast("?>", "a processing instruction");
        } else if (At("<!--")) {
            at_ += 4;
            if (SkipPast("-->", "a comment").find("--") != std::string_view::npos) Fail("'--' in a comment");
        } else if (At("<![CDATA[")) {
            if (open_.empty()) Fail("CDATA outside the root element");
            at_ += 9;
            SkipPast("]]>", "a CDATA section");
        } else if (At("<!")) {
            Fail("a document type or other declaration");
        } else if (At("</")) {
            at_ += 2;
            const std::string_view name = ReadName();
            SkipSpace();
            Expect('>');
            if (open_.empty() || name != openNames_.back()) Fail("an end tag that closes no open element");
            Close();
        } else {
            ReadStartTag();
        }
    }

    void ReadStartTag() {
        ++at_;
        if (rootSeen_ && open_.empty()) Fail("a second root element");
        if (open_.size() == kDeepest) Fail("elements nested deeper than 256");
        const std::string_view name = ReadName();
        std::vector<std::pair<std::string_view, std::string>> raw;
        std::unordered_set<std::string_view> names;
        bool empty = false;
        while (true) {
            const bool spaced = SkipSpace();
            if (At("/>")) {
                at_ += 2;
                empty = true;
                break;
            }
            if (At(">")) {
                ++at_;
                break;
            }
            if (!spaced) Fail("a space expected before an attribute");
            if (raw.size() == kMostAttributes) Fail("more than 256 attributes in one element");
            const std::string_view attribute = ReadName();
            if (!names.insert(attribute).second) Fail("the attribute " + std::string(attribute) + " repeated");
            SkipSpace();
            Expect('=');
            SkipSpace();
            raw.emplace_back(attribute, ReadValue());
        }

        std::vector<std::string> declared;
        for (const auto& [attribute, value] : raw) {
            if (attribute == "xmlns") {
                Declare("", value, declared);
            } else if (attribute.substr(0, 6) == "xmlns:") {
                const std::string prefix(attribute.substr(6));
                if (prefix == "xmlns" || prefix == "xml" || value.empty()) {
                    Fail("a reserved or empty namespace binding");
                }
                Declare(prefix, value, declared);
            }
        }
        declared_.push_back(std::move(declared));
        openNames_.emplace_back(name);
        XmlElement element;
        element.name = Resolve(name, true);
        std::unordered_set<std::string> expanded;
        for (auto& [attribute, value] : raw) {
            if (attribute == "xmlns" || attribute.substr(0, 6) == "xmlns:") continue;
            XmlName resolved = Resolve(attribute, false);
            if (!expanded.insert(resolved.space + '\n' + resolved.local).second) {
                Fail("the attribute " + resolved.local + " repeated in one namespace");
            }
            element.attributes.push_back({std::move(resolved), std::move(value)});
        }
        open_.push_back(std::move(element));
        rootSeen_ = true;
        onStart_(open_);
        if (empty) Close();
    }

    void Declare(const std::string& prefix, const std::string& uri, std::vector<std::string>& declared) {
        bindings_[prefix].push_back(uri);
        declared.push_back(prefix);
    }

    void Close() {
        for (const std::string& prefix : declared_.back()) bindings_[prefix].pop_back();
        declared_.pop_back();
        openNames_.pop_back();
        open_.pop_back();
    }

    XmlName Resolve(std::string_view name, bool element) {
        const std::size_t colon = name.find(':');
        if (colon == std::string_view::npos) {
            const auto found = bindings_.find("");
            const bool bound = element && found != bindings_.end() && !found->second.empty();
            return {bound ? found->second.back() : std::string(), std::string(name)};
        }
        const std::string prefix(name.substr(0, colon));
        const std::string_view local = name.substr(colon + 1);
        if (prefix.empty() || local.empty() || local.find(':') != std::string_view::npos) Fail("a malformed name");
        if (prefix == "xml") return {std::string(kXmlNamespace), std::string(local)};
        const auto found = bindings_.find(prefix);
        if (found == bindings_.end() || found->second.empty()) Fail("the undeclared prefix " + prefix);
        return {found->second.back(), std::string(local)};
    }

    std::string_view text_;
    const Callback& onStart_;
    std::size_t at_ = 0;
    bool rootSeen_ = false;
    std::vector<XmlElement> open_;
    std::vector<std::string> openNames_;
    std::vector<std::vector<std::string>> declared_;  // the prefixes each open element binds
    std::unordered_map<std::string, std::vector<std::string>> bindings_;
};

}  // namespace

const std::string* XmlElement::Attribute(std::string_view local) const {
    for (const XmlAttribute& a : attributes) {
        if (a.name.space.empty() && a.name.local == local) return &a.value;
    }
    return nullptr;
}

void ReadXml(std::string_view text, const std::function<void(const std::vector<XmlElement>& open)>& onStart) {
    Reader(text, onStart).Read();
}

}  // namespace tavro::release
