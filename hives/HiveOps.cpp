#include "hives/HiveOps.h"

namespace {

SystemHiveOps systemOps;
HiveOps* installed = nullptr;

}  // namespace

LONG SystemHiveOps::Save(HKEY key, const tstring& file) {
    return RegSaveKeyW(key, file.c_str(), nullptr);
}

LONG SystemHiveOps::Load(HKEY root, const tstring& subKey, const tstring& file) {
    return RegLoadKeyW(root, subKey.c_str(), file.c_str());
}

LONG SystemHiveOps::Unload(HKEY root, const tstring& subKey) {
    return RegUnLoadKeyW(root, subKey.c_str());
}

LONG SystemHiveOps::Replace(HKEY root, const tstring& subKey, const tstring& newFile, const tstring& oldFile,
                            const tstring&) {
    return RegReplaceKeyW(root, subKey.empty() ? nullptr : subKey.c_str(), newFile.c_str(), oldFile.c_str());
}

HiveOps& GetHiveOps() {
    HiveOps* ops = installed;
    return ops ? *ops : systemOps;
}

HiveOps* SetHiveOps(HiveOps* ops) {
    HiveOps* previous = installed;
    installed = ops;
    return previous ? previous : &systemOps;
}
