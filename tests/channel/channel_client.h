#pragma once

// The test side of the channel server (tests/channel/channel_server.py) for programs
// running under Wine: its script, its request log and the folder it serves.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"
#include "platform/text.h"
#include "support/files.h"

namespace tavro::testing {

inline std::wstring WindowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:" + Utf8ToWide(unixPath);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// One request as the server recorded it.
struct RecordedRequest {
    std::wstring path;
    double time = 0;  // seconds since 1970, as the server saw it arrive
    std::map<std::wstring, std::wstring> headers;  // names as sent
    std::optional<std::wstring> Header(const wchar_t* name) const {
        const auto it = headers.find(name);
        if (it == headers.end()) return std::nullopt;
        return it->second;
    }
};

// The channel server's state directory: its script, its request log and its root.
class Channel {
public:
    Channel()
        : state_(WindowsPath(Env("TAVRO_CHANNEL_STATE"))), root_(WindowsPath(Env("TAVRO_CHANNEL_ROOT"))) {}

    const std::wstring& Root() const { return root_; }

    bool Available() const { return GetFileAttributesW((state_ + L"\\ready").c_str()) != INVALID_FILE_ATTRIBUTES; }

    // Replaces the script atomically and forgets the requests seen so far.
    void Script(const std::string& json) {
        const std::wstring temporary = state_ + L"\\script.json.tmp";
        WriteFileBytes(temporary, json);
        ASSERT_TRUE(MoveFileExW(temporary.c_str(), (state_ + L"\\script.json").c_str(), MOVEFILE_REPLACE_EXISTING));
        seen_ = ReadFileIfPresent(state_ + L"\\requests.jsonl").size();
    }

    void PutFile(const std::wstring& relative, const std::string& bytes) {
        CreateDirectoryW((root_ + L"\\desktop").c_str(), nullptr);
        CreateDirectoryW((root_ + L"\\desktop\\win").c_str(), nullptr);
        WriteFileBytes(root_ + L"\\" + relative, bytes);
    }

    void BadCertificate(bool on) {
        const std::wstring flag = state_ + L"\\bad-cert";
        if (on) {
            WriteFileBytes(flag, "on");
        } else {
            DeleteFileW(flag.c_str());
        }
    }

    // The requests recorded since the last Script().
    std::vector<RecordedRequest> Requests() const {
        const std::string log = ReadFileIfPresent(state_ + L"\\requests.jsonl");
        std::vector<RecordedRequest> requests;
        size_t start = seen_;
        while (start < log.size()) {
            size_t end = log.find('\n', start);
            if (end == std::string::npos) end = log.size();
            const std::string line = log.substr(start, end - start);
            start = end + 1;
            if (line.empty()) continue;
            const json::JsonObject entry = json::JsonObject::Parse(Utf8ToWide(line));
            RecordedRequest request;
            request.path = entry.GetNamedString(L"path");
            request.time = entry.GetNamedNumber(L"time");
            const json::JsonArray headers = entry.GetNamedArray(L"headers");
            for (size_t i = 0; i < headers.Size(); ++i) {
                const json::JsonArray pair = headers.GetAt(i).GetArray();
                request.headers[pair.GetStringAt(0)] = pair.GetStringAt(1);
            }
            requests.push_back(std::move(request));
        }
        return requests;
    }

private:
    std::wstring state_;
    std::wstring root_;
    size_t seen_ = 0;
};

}  // namespace tavro::testing
