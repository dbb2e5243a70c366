#include "feed/feed_parser.h"

#include <stdexcept>

#include "feed/feed_patterns.h"
#include "platform/errors.h"

namespace tavro::feed {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view CleanLine(std::string_view line) {
    if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) line.remove_prefix(kByteOrderMark.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Blank lines and comments are skipped everywhere, without ending the file list.
bool IsSkipped(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    return first == std::string_view::npos || line[first] == '#';
}

void SetField(FeedFileEntry& entry, std::string_view name, std::string_view value) {
    std::string decoded = DecodeFeedScalar(value);
    if (!entry.emplace(std::string(name), std::move(decoded)).second) Fail("Duplicate feed field");
}

}  // namespace

std::string DecodeFeedScalar(std::string_view value) {
    if (value.empty()) return {};
    const char first = value.front();
    if (first == '\'' || first == '"') {
        if (value.size() < 2 || value.back() != first) Fail("Invalid YAML scalar");
        const std::string_view inner = value.substr(1, value.size() - 2);
        if (inner.find('\\') != std::string_view::npos) Fail("Unsupported YAML scalar");
        if (inner.find(first) != std::string_view::npos) Fail("Unsupported YAML scalar");
        return std::string(inner);
    }
    if (std::string_view("!&*[{|>").find(first) != std::string_view::npos) Fail("Unsupported YAML scalar");
    return std::string(value);
}

ReleaseFeed ParseReleaseFeed(std::string_view bytes) {
    if (bytes.size() > kMaxFeedBytes) Fail("Manifest too large");

    ReleaseFeed feed;
    bool versionSeen = false;
    bool listSeen = false;
    bool insideList = false;

    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = CleanLine(bytes.substr(start, end - start));
        start = end + 1;

        if (IsSkipped(line)) continue;

        if (line.front() == ' ') {
            if (!insideList) continue;
            if (const auto url = MatchFileItem(line)) {
                feed.files.emplace_back();
                SetField(feed.files.back(), "url", *url);
            } else if (const auto field = MatchFileField(line); field && !feed.files.empty()) {
                SetField(feed.files.back(), field->key, field->value);
            } else if (!MatchesBlockMapSize(line)) {
                Fail("Unsupported files list");
            }
            continue;
        }

        insideList = false;
        const auto field = MatchTopLevelField(line);
        if (!field) continue;
        if (field->key == "version") {
            if (versionSeen) Fail("Duplicate feed field");
            versionSeen = true;
            feed.version = DecodeFeedScalar(field->value);
        } else {
            if (listSeen || !field->value.empty()) Fail("Invalid files list");
            listSeen = true;
            insideList = true;
        }
    }

    if (!MatchesVersionForm(std::string_view(feed.version)) || feed.files.empty()) {
        Fail("Missing release version or files");
    }
    return feed;
}

const std::string& FeedField(const FeedFileEntry& entry, const std::string& name) {
    const auto it = entry.find(name);
    if (it == entry.end()) throw std::out_of_range("invalid map<K, T> key");
    return it->second;
}

}  // namespace tavro::feed
