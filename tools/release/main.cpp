// tavro-release: writes and checks a release channel with the installer's own rules.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "authenticode.h"
#include "installer_check.h"
#include "json/json.h"
#include "platform/text.h"
#include "release_channel.h"
#include "release_config.h"
#include "shared/installer_config.h"

namespace {

using tavro::release::ConfigRequest;

constexpr char kUsage[] =
    "usage:\n"
    "  tavro-release feed SETUP.exe [--url URL] [--config CONFIG.json] [-o latest.yml | -o -]\n"
    "                     (default output: latest.yml beside SETUP.exe; - is standard output)\n"
    "  tavro-release check latest.yml [--config CONFIG.json]\n"
    "  tavro-release check-installer TavroInstaller.exe [--config CONFIG.json]\n"
    "  tavro-release config --channel URL --offline URL --signer CERT.pem [--signer CERT.pem ...]\n"
    "                       [--allowed-host HOST ...] [--mac-team-id ID] [--bundle-id ID]\n"
    "                       [--installer-version VERSION] [-o CONFIG.json]\n"
    "Without --config the configuration embedded in this build is used.\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One positional argument and options that each take a value; a repeated option
// keeps every value in order.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> options;

    std::string One(const std::string& name) const {
        const auto it = options.find(name);
        if (it == options.end()) return {};
        if (it->second.size() > 1) throw UsageError(name + " given twice");
        return it->second.front();
    }
    std::vector<std::string> All(const std::string& name) const {
        const auto it = options.find(name);
        return it == options.end() ? std::vector<std::string>{} : it->second;
    }
};

Arguments ParseArguments(int argc, char** argv, std::initializer_list<const char*> known) {
    Arguments args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            bool ok = false;
            for (const char* name : known) ok = ok || arg == name;
            if (!ok) throw UsageError("unknown option " + arg);
            if (i + 1 >= argc) throw UsageError(arg + " needs a value");
            args.options[arg].push_back(argv[++i]);
        } else {
            args.positional.push_back(arg);
        }
    }
    return args;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Written beside the target and renamed over it, so that a server or a later build
// step never sees half a file. A target that exists and is no regular file (a
// device such as /dev/null, a pipe) is written in place: a rename would replace it.
void WriteFileAtomically(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::cout << text << std::flush;
        return;
    }
    const std::filesystem::file_status status = std::filesystem::status(path);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        WriteFile(path, text);
        return;
    }
    const std::string temporary = path + ".tmp";
    WriteFile(temporary, text);
    std::filesystem::rename(temporary, path);
}

tavro::json::JsonObject LoadConfig(const std::string& path) {
    if (path.empty()) {
        tavro::LoadInstallerConfig();
        return tavro::InstallerConfig();
    }
    const std::string text = ReadFile(path);
    try {
        return tavro::json::JsonObject::Parse(tavro::Utf8ToWide(text));
    } catch (const std::exception& e) {
        throw std::runtime_error(path + " is not a JSON object (" + e.what() + ")");
    }
}

// SOURCE_DATE_EPOCH keeps rebuilt channels byte for byte the same.
std::string ReleaseDate() {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
        char* end = nullptr;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (*end != '\0' || seconds < 0) throw std::runtime_error("SOURCE_DATE_EPOCH is not a number of seconds");
        now = static_cast<std::time_t>(seconds);
    }
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
    return text;
}

int RunFeed(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv, {"--url", "--config", "-o"});
    if (args.positional.size() != 1) throw UsageError("feed takes one setup package");
    const std::filesystem::path setup = args.positional[0];
    const tavro::json::JsonObject config = LoadConfig(args.One("--config"));
    std::string out = args.One("-o");
    if (out.empty()) out = (setup.parent_path() / "latest.yml").string();

    const std::string bytes = ReadFile(setup.string());
    tavro::release::ReleaseFeedFile feed;
    try {
        tavro::release::WriteReleaseFeed({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                                         setup.filename().string(), args.One("--url"), ReleaseDate(), config, feed);
    } catch (const std::exception&) {
        if (!feed.imageDigest.empty()) {
            std::cerr << "tavro-release: image digest " << feed.imageDigest << ", signer " << feed.signerSha256 << "\n";
        }
        throw;
    }
    WriteFileAtomically(out, feed.text);
    std::cerr << "tavro-release: " << (out == "-" ? "feed" : out) << ": version " << feed.version << ", "
              << feed.resolvedUrl << ", " << feed.size << " bytes, image digest " << feed.imageDigest
              << ", signer " << feed.signerSha256 << "\n";
    return 0;
}

int RunCheck(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv, {"--config"});
    if (args.positional.size() != 1) throw UsageError("check takes one feed file");
    const tavro::json::JsonObject config = LoadConfig(args.One("--config"));
    // As the installer's feed check: a file that cannot be read is an empty feed.
    std::string bytes;
    try {
        bytes = ReadFile(args.positional[0]);
    } catch (const std::runtime_error&) {
    }
    const tavro::release::FeedVerdict verdict = tavro::release::CheckReleaseFeed(bytes, config);
    if (!verdict.error.empty()) {
        std::cout << "refused: " << verdict.error << "\n";
        return 1;
    }
    std::cout << "accepted: " << verdict.url << " version " << verdict.version << " size " << verdict.size
              << " bytes\n";
    return 0;
}

// The last step before an installer build is uploaded: it is refused unless it is what
// users may run (signed by a listed publisher, as the invoker, with this configuration,
// its imports from System32 only).
int RunCheckInstaller(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv, {"--config"});
    if (args.positional.size() != 1) throw UsageError("check-installer takes one installer");
    const tavro::json::JsonObject config = LoadConfig(args.One("--config"));
    std::string bytes;
    try {
        bytes = ReadFile(args.positional[0]);
    } catch (const std::runtime_error& e) {
        std::cout << "refused: " << e.what() << "\n";
        return 1;
    }
    const tavro::release::InstallerVerdict verdict = tavro::release::CheckInstaller(
        {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, config);
    if (!verdict.error.empty()) {
        std::cout << "refused: " << verdict.error << "\n";
        return 1;
    }
    const auto joined = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
        return text.empty() ? std::string("none") : text;
    };
    std::cout << "accepted: " << args.positional[0] << " signed by " << verdict.signerSha256
              << ", runs as the invoker, configured for " << verdict.channelUrl
              << ", imports from System32 only (DependentLoadFlags 0x800): " << joined(verdict.imports)
              << "; delay-loads " << joined(verdict.delayImports) << "; " << verdict.tlsCallbacks
              << " TLS callbacks (the runtime's)\n";
    return 0;
}

int RunConfig(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv,
                                          {"--channel", "--offline", "--signer", "--allowed-host", "--mac-team-id",
                                           "--bundle-id", "--installer-version", "-o"});
    if (!args.positional.empty()) throw UsageError("config takes no file argument");
    ConfigRequest request;
    request.installerVersion = args.One("--installer-version");
    if (request.installerVersion.empty()) request.installerVersion = TAVRO_INSTALLER_VERSION;
    request.channelUrl = args.One("--channel");
    request.offlineUrl = args.One("--offline");
    if (request.channelUrl.empty() || request.offlineUrl.empty()) throw UsageError("--channel and --offline are needed");
    request.allowedHosts = args.All("--allowed-host");
    request.macTeamId = args.One("--mac-team-id");
    request.bundleId = args.One("--bundle-id");
    for (const std::string& path : args.All("--signer")) {
        request.signerFingerprints.push_back(tavro::release::CertificateFileSha256(path));
    }
    const std::string text = tavro::release::BuildInstallerConfig(request);
    const std::string out = args.One("-o");
    WriteFileAtomically(out.empty() ? "-" : out, text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "feed") return RunFeed(argc, argv);
        if (command == "check") return RunCheck(argc, argv);
        if (command == "check-installer") return RunCheckInstaller(argc, argv);
        if (command == "config") return RunConfig(argc, argv);
        if (command != "--help" && command != "-h") std::cerr << "tavro-release: unknown command\n";
        std::cerr << kUsage;
        return 2;
    } catch (const UsageError& e) {
        std::cerr << "tavro-release: " << e.what() << "\n" << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tavro-release: refused: " << e.what() << "\n";
        return 1;
    }
}
