#include "engine/foundation/GroupMember.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

bool IsGroupMember(uid_t uid, gid_t group) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> text(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(uid, &entry, text.data(), text.size(), &found) == ERANGE) {
        text.resize(text.size() * 2);
    }
    if (found == nullptr) {
        return false;
    }
    if (entry.pw_gid == group) {
        return true;
    }
    std::vector<gid_t> groups(32);
    int count = static_cast<int>(groups.size());
    while (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count) > groups.size() ? static_cast<size_t>(count)
                                                                 : groups.size() * 2);
        count = static_cast<int>(groups.size());
    }
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}
