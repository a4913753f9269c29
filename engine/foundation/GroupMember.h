// Whether a user belongs to a group, by its primary group or a supplementary one, as the
// user database says (not only the groups of the calling process).
#pragma once

#include <sys/types.h>

// False also when the user is unknown.
bool IsGroupMember(uid_t uid, gid_t group);
