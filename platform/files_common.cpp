// platform/files_common.cpp: the parts of the file layer every platform shares.
#include <cctype>
#include <functional>
#include <utility>

#include "platform/files.h"
#include "platform/files_internal.h"

namespace tw::files {

namespace {
constexpr std::string_view kTempPrefix = ".tumblewick-";
constexpr std::string_view kTempSuffix = ".tmp";

std::function<bool(Step)>& faultHook() {
    static std::function<bool(Step)> hook;
    return hook;
}
}  // namespace

namespace {
std::function<Outcome()>& folderSyncHook() {
    static std::function<Outcome()> hook;
    return hook;
}
}  // namespace

void setFaultForTests(std::function<bool(Step)> fault) { faultHook() = std::move(fault); }

void setFolderSync(std::function<Outcome()> sync) { folderSyncHook() = std::move(sync); }

Outcome platformFolderSync() { return folderSyncHook() ? folderSyncHook()() : Outcome{}; }

bool platformSyncsFiles() { return static_cast<bool>(folderSyncHook()); }

bool faultInjected(Step step) { return faultHook() && faultHook()(step); }

std::string temporaryNameFor(long long pid) {
    return std::string(kTempPrefix) + std::to_string(pid) + std::string(kTempSuffix);
}

bool isTemporaryName(std::string_view name) {
    if (name.size() <= kTempPrefix.size() + kTempSuffix.size()) return false;
    if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
    if (name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) return false;
    const auto digits = name.substr(kTempPrefix.size(), name.size() - kTempPrefix.size() - kTempSuffix.size());
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return digits.size() <= 18;
}

long long temporaryPid(std::string_view name) {
    if (!isTemporaryName(name)) return -1;
    return std::stoll(std::string(name.substr(kTempPrefix.size())));
}

}  // namespace tw::files
