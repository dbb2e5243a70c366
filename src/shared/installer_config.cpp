#include "shared/installer_config.h"

#include <cstring>

#include "platform/text.h"

namespace tavro {

namespace {

constexpr char kEmbeddedConfig[] =
#include "embedded_config.inc"
    ;

json::JsonObject& ConfigObject() {
    static json::JsonObject config;
    return config;
}

}  // namespace

std::string_view EmbeddedConfigText() {
    return {kEmbeddedConfig, std::strlen(kEmbeddedConfig)};
}

void LoadInstallerConfig() {
    LoadInstallerConfig(EmbeddedConfigText());
}

void LoadInstallerConfig(std::string_view utf8Text) {
    ConfigObject() = json::JsonObject::Parse(Utf8ToWide(utf8Text));
}

const json::JsonObject& InstallerConfig() {
    return ConfigObject();
}

}  // namespace tavro
