#include "installer_check.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "authenticode.h"
#include "load_config.h"
#include "platform/text.h"
#include "release_channel.h"

namespace tavro::release {

namespace {

constexpr std::uint32_t kManifestType = 24;  // RT_MANIFEST
constexpr std::uint32_t kManifestId = 1;     // CREATEPROCESS_MANIFEST_RESOURCE_ID
constexpr std::size_t kLongestConfiguration = 65536;
constexpr std::size_t kLongestShownValue = 120;

[[noreturn]] void Refuse(const std::string& why) {
    throw std::runtime_error(why);
}

bool IsNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// A value of a configuration as JSON text, cut short when long: it came from the file.
std::string Shown(const json::JsonValue& value) {
    std::string text = WideToUtf8(value.Stringify());
    if (text.size() > kLongestShownValue) text = text.substr(0, kLongestShownValue) + "...";
    return text;
}

// The attribute `name` in the text of one start tag after its element name.
std::string AttributeValue(std::string_view tag, std::string_view name) {
    std::size_t at = 0;
    while (at < tag.size()) {
        while (at < tag.size() && IsSpace(tag[at])) ++at;
        const std::size_t nameStart = at;
        while (at < tag.size() && tag[at] != '=' && !IsSpace(tag[at]) && tag[at] != '/') ++at;
        const std::string_view attribute = tag.substr(nameStart, at - nameStart);
        while (at < tag.size() && IsSpace(tag[at])) ++at;
        if (at >= tag.size() || tag[at] != '=') return {};
        ++at;
        while (at < tag.size() && IsSpace(tag[at])) ++at;
        if (at >= tag.size() || (tag[at] != '"' && tag[at] != '\'')) return {};
        const std::size_t close = tag.find(tag[at], at + 1);
        if (close == std::string_view::npos) return {};
        if (attribute == name) return std::string(tag.substr(at + 1, close - at - 1));
        at = close + 1;
    }
    return {};
}

void CheckManifest(std::span<const std::uint8_t> file, const PeImage& image) {
    const FileRange manifest = FindResourceData(file, image, kManifestType, kManifestId);
    if (manifest.size == 0) Refuse("the installer carries no manifest, so it does not ask to run as the invoker");
    const std::string level =
        RequestedExecutionLevel({reinterpret_cast<const char*>(file.data()) + manifest.offset, manifest.size});
    if (level.empty()) Refuse("the installer's manifest names no requestedExecutionLevel");
    if (level != "asInvoker") {
        const bool plain = level.size() <= 40 && std::all_of(level.begin(), level.end(), IsNameCharacter);
        Refuse("the installer's manifest asks for " + (plain ? level : std::string("an unreadable level")) +
               ", not asInvoker");
    }
}

json::JsonObject CheckConfiguration(std::span<const std::uint8_t> file, const PeImage& image,
                                    const json::JsonObject& expected) {
    const std::vector<std::string> texts = FindEmbeddedConfigurations(file, image);
    if (texts.empty()) Refuse("the installer embeds no configuration");
    if (texts.size() > 1) Refuse("the installer embeds " + std::to_string(texts.size()) + " configurations");
    const json::JsonObject embedded = json::JsonObject::Parse(Utf8ToWide(texts.front()));
    const std::string difference = ConfigurationDifference(embedded, expected);
    if (!difference.empty()) Refuse("the embedded configuration differs from the one given: " + difference);
    return embedded;
}

void CheckLoadConfiguration(std::span<const std::uint8_t> file, const PeImage& image, InstallerVerdict& verdict) {
    const LoadConfiguration config = ReadLoadConfiguration(file, image);
    const std::string fault = LoadConfigurationFault(file, image, config);
    if (!fault.empty()) Refuse("load configuration: " + fault);
    verdict.dependentLoadFlags = config.dependentLoadFlags;
    if (config.dependentLoadFlags != kSearchSystem32Only) {
        char text[96];
        std::snprintf(text, sizeof text, "load configuration: DependentLoadFlags is 0x%X, not 0x%X (System32 only)",
                      config.dependentLoadFlags, kSearchSystem32Only);
        Refuse(text);
    }
}

void CheckImports(std::span<const std::uint8_t> file, const PeImage& image, InstallerVerdict& verdict) {
    for (const std::string& name : ReadImportedDllNames(file, image)) verdict.imports.push_back(Lower(name));
    for (const std::string& name : verdict.imports) {
        if (std::find(std::begin(kKeptLoadTimeImports), std::end(kKeptLoadTimeImports), name) !=
            std::end(kKeptLoadTimeImports)) {
            continue;
        }
        std::string kept;
        for (const std::string_view k : kKeptLoadTimeImports) kept += (kept.empty() ? "" : ", ") + std::string(k);
        Refuse("the installer imports " + name + " at load time; only known DLLs may be: " + kept);
    }
}

}  // namespace

std::string RequestedExecutionLevel(std::string_view manifest) {
    std::string text;
    for (std::size_t at = 0; at < manifest.size();) {
        const std::size_t open = manifest.find("<!--", at);
        text.append(manifest.substr(at, open == std::string_view::npos ? std::string_view::npos : open - at));
        if (open == std::string_view::npos) break;
        const std::size_t close = manifest.find("-->", open + 4);
        if (close == std::string_view::npos) break;
        at = close + 3;
    }
    constexpr std::string_view kElement = "requestedExecutionLevel";
    for (std::size_t at = text.find(kElement); at != std::string::npos; at = text.find(kElement, at + 1)) {
        // "<requestedExecutionLevel" or "<prefix:requestedExecutionLevel", a whole name.
        std::size_t start = at;
        while (start > 0 && IsNameCharacter(text[start - 1])) --start;
        if (start == 0 || text[start - 1] != '<' || (start != at && text[at - 1] != ':')) continue;
        const std::size_t nameEnd = at + kElement.size();
        if (nameEnd < text.size() && !IsSpace(text[nameEnd]) && text[nameEnd] != '/' && text[nameEnd] != '>') continue;
        const std::size_t tagEnd = text.find('>', nameEnd);
        if (tagEnd == std::string::npos) return {};
        return AttributeValue(std::string_view(text).substr(nameEnd, tagEnd - nameEnd), "level");
    }
    return {};
}

std::vector<std::string> FindEmbeddedConfigurations(std::span<const std::uint8_t> file, const PeImage& image) {
    std::vector<std::string> found;
    for (const PeSection& section : image.sections) {
        const std::uint32_t readOnlyData = kSectionInitializedData | kSectionRead;
        if ((section.characteristics & (readOnlyData | kSectionWrite | kSectionExecute)) != readOnlyData) continue;
        const std::size_t end = section.raw.offset + section.raw.size;
        for (std::size_t at = section.raw.offset; at + 1 < end; ++at) {
            if (file[at] != '{' || file[at + 1] != '"') continue;
            // One line of text up to its terminator.
            std::size_t stop = at;
            while (stop < end && stop - at <= kLongestConfiguration && file[stop] >= 0x20 && file[stop] != 0x7F) ++stop;
            if (stop == end || file[stop] != 0 || file[stop - 1] != '}') continue;
            const std::string text(reinterpret_cast<const char*>(file.data()) + at, stop - at);
            try {
                if (json::JsonObject::Parse(Utf8ToWide(text)).HasKey(L"channelURL")) found.push_back(text);
            } catch (const std::exception&) {
                continue;  // text that only looks like a configuration
            }
            at = stop;
        }
    }
    return found;
}

std::string ConfigurationDifference(const json::JsonObject& embedded, const json::JsonObject& expected) {
    const auto quoted = [](const std::wstring& name) {
        std::string text(1, '"');
        return text.append(WideToUtf8(name)).append(1, '"');
    };
    for (const auto& [name, value] : expected.Members()) {
        if (!embedded.HasKey(name)) return quoted(name) + ": the installer has none, the configuration " + Shown(value);
        const json::JsonValue ours = embedded.GetNamedValue(name);
        if (ours.Stringify() != value.Stringify()) {
            return quoted(name) + ": the installer has " + Shown(ours) + ", the configuration " + Shown(value);
        }
    }
    for (const auto& [name, value] : embedded.Members()) {
        if (!expected.HasKey(name)) {
            return quoted(name) + ": the installer has " + Shown(value) + ", the configuration none";
        }
    }
    return {};
}

InstallerVerdict CheckInstaller(std::span<const std::uint8_t> file, const json::JsonObject& config) {
    InstallerVerdict verdict;
    try {
        const PeImage image = ReadPeImage(file);
        const AuthenticodeSignature signature = ReadAuthenticodeSignature(file, image);
        verdict.signerSha256 = signature.signerSha256;
        CheckSigner(signature, config);
        CheckManifest(file, image);
        verdict.channelUrl = WideToUtf8(CheckConfiguration(file, image, config).GetNamedString(L"channelURL"));
        CheckLoadConfiguration(file, image, verdict);
        CheckImports(file, image, verdict);
    } catch (const std::exception& e) {
        verdict.error = e.what();
    }
    return verdict;
}

}  // namespace tavro::release
