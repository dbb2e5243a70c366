#include "installer_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "authenticode.h"
#include "load_config.h"
#include "platform/text.h"
#include "release_channel.h"
#include "xml_reader.h"

namespace tavro::release {

namespace {

constexpr std::uint32_t kManifestType = 24;  // RT_MANIFEST
constexpr std::uint32_t kManifestId = 1;     // CREATEPROCESS_MANIFEST_RESOURCE_ID
constexpr std::size_t kLongestConfiguration = 65536;
constexpr std::size_t kLongestShownValue = 120;
constexpr std::string_view kAsmV1 = "urn:schemas-microsoft-com:asm.v1";
constexpr std::string_view kAsmV2 = "urn:schemas-microsoft-com:asm.v2";
constexpr std::string_view kAsmV3 = "urn:schemas-microsoft-com:asm.v3";

[[noreturn]] void Refuse(const std::string& why) {
    throw std::runtime_error(why);
}

bool IsNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
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

// A name from the file as a refusal may quote it: it came from the file.
std::string Plain(const std::string* text, const char* otherwise = "an unreadable name") {
    const bool plain = text != nullptr && !text->empty() && text->size() <= 64 &&
                       std::all_of(text->begin(), text->end(), IsNameCharacter);
    return plain ? *text : otherwise;
}

// The Microsoft assembly namespaces: Windows reads manifest elements of these, no others.
bool IsAssemblySpace(const std::string& space) {
    return space == kAsmV1 || space == kAsmV2 || space == kAsmV3;
}

void CheckDependency(const XmlElement& identity) {
    const std::string* name = identity.Attribute("name");
    const std::string* version = identity.Attribute("version");
    const std::string* token = identity.Attribute("publicKeyToken");
    const std::string shown = Plain(name);
    if (token == nullptr) {
        Refuse("the installer's manifest depends on the private assembly " + shown +
               ", which Windows looks for beside the installer");
    }
    if (name == nullptr || *name != kKeptAssemblyName || version == nullptr || *version != kKeptAssemblyVersion ||
        Lower(*token) != kKeptAssemblyToken) {
        Refuse("the installer's manifest depends on the assembly " + shown + " " + Plain(version) +
               ", not " + std::string(kKeptAssemblyName) + " " + std::string(kKeptAssemblyVersion) +
               ": Windows looks for one that WinSxS lacks beside the installer");
    }
}

void CheckManifest(std::span<const std::uint8_t> file, const PeImage& image) {
    const FileRange manifest = FindResourceData(file, image, kManifestType, kManifestId);
    if (manifest.size == 0) Refuse("the installer carries no manifest, so it does not ask to run as the invoker");
    CheckManifestText({reinterpret_cast<const char*>(file.data()) + manifest.offset, manifest.size});
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

template <std::size_t N>
void CheckKept(const std::vector<std::string>& names, const std::string_view (&kept)[N], const char* how,
               const char* when, const char* which) {
    for (const std::string& name : names) {
        if (std::find(std::begin(kept), std::end(kept), name) != std::end(kept)) continue;
        std::string list;
        for (const std::string_view k : kept) list += (list.empty() ? "" : ", ") + std::string(k);
        Refuse("the installer " + std::string(how) + " " + Plain(&name) + when + "; only " + which +
               " may be: " + list);
    }
}

std::vector<std::string> Lowered(std::vector<std::string> names) {
    for (std::string& name : names) name = Lower(std::move(name));
    return names;
}

}  // namespace

void CheckManifestText(std::string_view manifest) {
    std::size_t levels = 0;
    bool inTrustInfo = false;
    std::optional<std::string> level;
    try {
        ReadXml(manifest, [&](const std::vector<XmlElement>& open) {
            const XmlElement& element = open.back();
            if (open.size() == 1 && !element.name.Is(kAsmV1, "assembly")) {
                Refuse("the installer's manifest is no assembly of " + std::string(kAsmV1));
            }
            if (!IsAssemblySpace(element.name.space)) return;
            if (element.name.local == "requestedExecutionLevel") {
                ++levels;
                inTrustInfo = open.size() == 5 && open[1].name.Is(kAsmV3, "trustInfo") &&
                              open[2].name.Is(kAsmV3, "security") && open[3].name.Is(kAsmV3, "requestedPrivileges") &&
                              element.name.space == kAsmV3;
                const std::string* value = element.Attribute("level");
                level = value ? std::optional<std::string>(*value) : std::nullopt;
            } else if (element.name.local == "file") {
                const std::string* name = element.Attribute("name");
                Refuse("the installer's manifest names the file " + Plain(name) +
                       ", which Windows loads from beside the installer");
            } else if (element.name.local == "assemblyIdentity" && open.size() >= 2 &&
                       open[open.size() - 2].name.local == "dependentAssembly" &&
                       IsAssemblySpace(open[open.size() - 2].name.space)) {
                CheckDependency(element);
            }
        });
    } catch (const XmlError& e) {
        Refuse(std::string("the installer's manifest is ") + e.what());
    }
    if (levels == 0) Refuse("the installer's manifest names no requestedExecutionLevel");
    if (levels > 1) {
        Refuse("the installer's manifest names " + std::to_string(levels) +
               " requestedExecutionLevel elements; Windows heeds one");
    }
    if (!inTrustInfo) {
        Refuse("the installer's manifest names its requestedExecutionLevel outside the trustInfo of " +
               std::string(kAsmV3));
    }
    if (level != "asInvoker") {
        Refuse("the installer's manifest asks for " + Plain(level ? &*level : nullptr, "an unreadable level") +
               ", not asInvoker");
    }
}

void CheckImageLoading(std::span<const std::uint8_t> file, const PeImage& image, InstallerVerdict& verdict) {
    CheckLoadConfiguration(file, image, verdict);
    verdict.imports = Lowered(ReadImportedDllNames(file, image));
    CheckKept(verdict.imports, kKeptLoadTimeImports, "imports", " at load time", "known DLLs");
    verdict.delayImports = Lowered(ReadDelayImportedDllNames(file, image));
    CheckKept(verdict.delayImports, kKeptDelayLoadImports, "delay-loads", "", "DLLs loaded from System32 at start");
    verdict.tlsCallbacks = ReadTlsCallbacks(file, image).size();
    if (verdict.tlsCallbacks > kRuntimeTlsCallbacks) {
        Refuse("the installer has " + std::to_string(verdict.tlsCallbacks) +
               " TLS callbacks, which run before the DLL search is narrowed; only the runtime's " +
               std::to_string(kRuntimeTlsCallbacks) + " may");
    }
}

std::vector<FileRange> ConfigurationCandidates(std::span<const std::uint8_t> file, const PeImage& image) {
    std::vector<FileRange> candidates;
    const auto printable = [&](std::size_t at) { return file[at] >= 0x20 && file[at] != 0x7F; };
    const std::uint32_t readOnlyData = kSectionInitializedData | kSectionRead;
    for (const FileRange& data : SectionRawData(image, readOnlyData | kSectionWrite | kSectionExecute, readOnlyData)) {
        const std::size_t end = data.offset + data.size;
        for (std::size_t at = data.offset; at < end;) {
            if (!printable(at)) {
                ++at;
                continue;
            }
            // One run of printable text: a configuration in it starts at its first '{"' and ends
            // at the run's end, so the run is judged once and never looked at again.
            std::size_t start = end;
            const std::size_t runStart = at;
            for (; at < end && printable(at); ++at) {
                if (start == end && at > runStart && file[at - 1] == '{' && file[at] == '"') start = at - 1;
            }
            if (at < end && file[at] == 0 && start != end && at - start <= kLongestConfiguration &&
                file[at - 1] == '}') {
                candidates.push_back({start, at - start});
            }
        }
    }
    return candidates;
}

std::vector<std::string> FindEmbeddedConfigurations(std::span<const std::uint8_t> file, const PeImage& image) {
    std::vector<std::string> found;
    for (const FileRange& candidate : ConfigurationCandidates(file, image)) {
        const std::string text(reinterpret_cast<const char*>(file.data()) + candidate.offset, candidate.size);
        try {
            if (json::JsonObject::Parse(Utf8ToWide(text)).HasKey(L"channelURL")) found.push_back(text);
        } catch (const std::exception&) {
            continue;  // text that only looks like a configuration
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
        CheckImageLoading(file, image, verdict);
    } catch (const std::exception& e) {
        verdict.error = e.what();
    }
    return verdict;
}

}  // namespace tavro::release
