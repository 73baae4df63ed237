// The manifest of a sealed package: checked like the installer checks it,
// and written for the files the installer reads from the package.
#include "checker/Checker.h"

#include <set>

#include "checker/CheckerShared.h"
#include "util/FileFingerprint.h"
#include "util/FileUtil.h"
#include "util/PackageManifest.h"

namespace kvcheck {

using namespace detail;

void CPackageChecker::CheckSeal()
{
    std::vector<CKvSealProblem> problems;
    if (KvVerifyPackage(m_strPackageDir, GetFileNamePart(m_strScriptFile), problems) != KVSEAL_DAMAGED)
        return;
    for (const CKvSealProblem& p : problems)
        Add(kPackageAltered, kKvManifestName, p.strPath,
            p.strWhat + ": Korvex refuses the package (-2012); seal it again with checkpkg --seal if the change is "
                        "meant");
}

unsigned long CPackageChecker::Seal(std::vector<std::string>& files)
{
    files.clear();
    std::set<std::string> listed;
    auto list = [&](const std::string& relative) {
        if (listed.insert(Lower(relative)).second)
            files.push_back(relative);
    };
    list(GetFileNamePart(m_strScriptFile));
    std::vector<std::string> groupFiles;
    DWORD error = 0;
    if (!KvFileGroupFiles(m_strPackageDir, groupFiles, error))
        return error ? error : ERROR_READ_FAULT;
    for (const std::string& f : groupFiles)
        list(f);
    const std::string base = m_strPackageDir + "\\";
    for (const std::string& full : m_namedOrder)
        if (full.size() > base.size() && EqualsNoCase(full.substr(0, base.size()), base))
            list(full.substr(base.size()));

    std::vector<std::string> sealed, paths;
    for (const std::string& relative : files) {
        if (EqualsNoCase(relative, kKvManifestName))
            continue;
        sealed.push_back(relative);
        paths.push_back(JoinPath(m_strPackageDir, relative));
    }
    std::vector<CKvFingerprintResult> results;
    KvFingerprintFiles(paths, results);
    std::vector<CKvManifestEntry> entries;
    for (size_t i = 0; i < sealed.size(); ++i) {
        const CKvFingerprintResult& r = results[i];
        if (!r.bRead)
            return r.nError ? r.nError : ERROR_READ_FAULT;
        if (!r.print.bPresent)
            return ERROR_FILE_NOT_FOUND;
        entries.push_back(CKvManifestEntry{sealed[i], r.print.strHash});
    }
    return KvWriteManifest(m_strPackageDir, entries, error) ? 0 : (error ? error : ERROR_WRITE_FAULT);
}

}  // namespace kvcheck
