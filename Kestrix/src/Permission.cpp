#include "Permission.h"

#include <dirent.h>
#include <unistd.h>

std::string hidrawAccess(const std::string& devFolder) {
    DIR* dir = ::opendir(devFolder.c_str());
    if (!dir) return "not determined";
    bool any = false, granted = false;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind("hidraw", 0) != 0) continue;
        any = true;
        if (::access((devFolder + "/" + name).c_str(), R_OK | W_OK) == 0) granted = true;
    }
    ::closedir(dir);
    if (!any) return "not determined";
    return granted ? "granted" : "denied";
}
