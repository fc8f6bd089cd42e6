/*
 * record_verify.cc - what --verify finds of each recorded file.
 */
#include "record_verify.h"

#include <sys/stat.h>
#include <unistd.h>

#include "record_reach.h"

std::vector<VerifyFinding> VerifyInstallation(const InstallRecord &record) {
  std::vector<VerifyFinding> findings;
  const RecordReach reach(record);
  for (const RecordEntry &entry : record.entries()) {
    VerifyFinding finding{"", entry.data, record.shown(entry.path), {}};
    const EntryPlace place = reach.place(entry);
    if (place.reach != Reach::kOurs) {
      finding.flags = "refused ";
      finding.why = ReachWhy(place.reach);
      if (!entry.named.empty()) finding.path = entry.named;
      findings.push_back(finding);
      continue;
    }
    struct stat st;
    if (fstatat(place.directory, place.name.c_str(), &st, 0) != 0) {
      finding.flags = "missing ";
      findings.push_back(finding);
      continue;
    }
    if (entry.data) continue;
    std::string flags = ".........";
    // What a link in its place reaches is what is compared, as before.
    struct stat opened;
    const int fd = OpenRegularFile(place.directory, place.name, true, &opened);
    const auto digest = fd >= 0 ? FdSha256Hex(fd) : std::nullopt;
    if (fd >= 0) close(fd);
    if (!digest) {
      flags[2] = '?';
    } else if (*digest != entry.digest) {
      flags[2] = '5';
    }
    if (entry.described) {
      if (static_cast<long long>(st.st_size) != entry.size) flags[0] = 'S';
      if ((st.st_mode & kModeBits) != entry.mode || !S_ISREG(st.st_mode)) flags[1] = 'M';
      if (st.st_uid != entry.uid) flags[5] = 'U';
      if (st.st_gid != entry.gid) flags[6] = 'G';
    }
    if (flags == ".........") continue;
    finding.flags = flags;
    findings.push_back(finding);
  }
  return findings;
}

std::string VerifyLine(const VerifyFinding &finding) {
  return finding.flags + "  " + (finding.data ? "d" : " ") + " " + finding.path +
         (finding.why.empty() ? "" : ": " + finding.why);
}
