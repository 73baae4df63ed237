[General]
Version=1.1
PatchedBy=%PATCH%
InstalledTo=%PRODUCT%
