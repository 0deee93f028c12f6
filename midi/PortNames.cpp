#include "midi/PortNames.h"

#include <algorithm>
#include <set>

namespace midi {

namespace {

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// A word starts after a space, colon or slash, or at an opening bracket.
bool wordStart(const std::string& s, std::size_t at) {
    if (at == 0) return true;
    if (at >= s.size()) return false;
    const char before = s[at - 1];
    return before == ' ' || before == ':' || before == '/' || s[at] == '(' || s[at] == '[';
}

std::size_t commonPrefix(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// The longest piece of s that starts at `from` and fits, ending with a
// whole word where it can, and always with a whole character.
std::string headFrom(const std::string& s, std::size_t from) {
    std::size_t end = std::min(s.size(), from + kShownNameBytes);
    if (end < s.size() && s[end] != ' ') {
        const std::size_t space = s.rfind(' ', end);
        if (space != std::string::npos && space > from) end = space;
    }
    while (end > from && end < s.size() && continuation(s[end])) --end;
    return s.substr(from, end - from);
}

// The tail of s from the first word start at or after `from` that fits; the
// last bytes that fit when no word start does.
std::string tailFrom(const std::string& s, std::size_t from) {
    for (std::size_t at = from; at < s.size(); ++at)
        if (wordStart(s, at) && s.size() - at <= kShownNameBytes) return s.substr(at);
    std::size_t at = s.size() - kShownNameBytes;
    while (at < s.size() && continuation(s[at])) ++at;
    return s.substr(at);
}

}  // namespace

std::vector<std::string> shownNames(const std::vector<std::string>& names) {
    std::vector<std::string> shown(names.size());
    std::vector<std::size_t> start(names.size(), 0);
    std::vector<bool> cut(names.size(), false);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (name.size() <= kShownNameBytes) {
            shown[i] = name;
            continue;
        }
        std::size_t common = 0;
        for (std::size_t j = 0; j < names.size(); ++j)
            if (j != i && names[j] != name) common = std::max(common, commonPrefix(name, names[j]));
        while (common > 0 && !wordStart(name, common)) --common;
        start[i] = common;
        cut[i] = true;
        shown[i] = tailFrom(name, common);
    }

    // Where two cut names still look alike (the difference lies in the
    // middle), show the part right after the shared prefix instead, and as a
    // last resort number them.
    auto clashes = [&](std::size_t i) {
        for (std::size_t j = 0; j < shown.size(); ++j)
            if (j != i && shown[j] == shown[i] && names[j] != names[i]) return true;
        return false;
    };
    std::vector<std::size_t> clashing;
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (cut[i] && clashes(i)) clashing.push_back(i);
    for (std::size_t i : clashing) shown[i] = headFrom(names[i], start[i]);
    std::set<std::string> taken;
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (!cut[i]) taken.insert(shown[i]);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (!cut[i]) continue;
        for (int n = 2; taken.count(shown[i]) && n < 1000; ++n) {
            const std::string suffix = " #" + std::to_string(n);
            shown[i] = headFrom(names[i], start[i]);
            std::size_t keep = std::min(shown[i].size(), kShownNameBytes - suffix.size());
            while (keep > 0 && continuation(shown[i][keep])) --keep;
            shown[i] = shown[i].substr(0, keep) + suffix;
        }
        taken.insert(shown[i]);
    }
    return shown;
}

}  // namespace midi
